// Unpacking one 1920x1080 MIPI-packed frame against a memcpy of the same packed bytes in the
// same run. The packed frame is 3110400 bytes (12-bit) or 2592000 bytes (10-bit); both
// exceed the first cache levels, as the camera's frames do.

#include "mipi_unpack.h"
#include "mipi_unpack_lines.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

using img_lib::unpack::packing;

constexpr uint32_t width = 1920;
constexpr uint32_t height = 1080;

std::vector<std::byte> packed_frame(packing p)
{
    const size_t bytes = *img_lib::unpack::packed_line_bytes(p, width) * height;
    std::vector<std::byte> frame(bytes);
    for (size_t i = 0; i < bytes; ++i)
    {
        frame[i] = std::byte(static_cast<uint8_t>(i * 37 + 11));
    }
    return frame;
}

void BM_MemcpyPacked(benchmark::State& state)
{
    const auto p = static_cast<packing>(state.range(0));
    const auto src = packed_frame(p);
    std::vector<std::byte> dst(src.size());
    for (auto _ : state)
    {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

template <std::error_code (*Unpack)(packing, uint32_t, uint32_t, img_lib::unpack::packed_view,
                                    img_lib::unpack::sample_view) noexcept,
          size_t SampleBytes>
void BM_Unpack(benchmark::State& state)
{
    const auto p = static_cast<packing>(state.range(0));
    const auto src = packed_frame(p);
    const size_t line = *img_lib::unpack::packed_line_bytes(p, width);
    std::vector<std::byte> dst(size_t{width} * SampleBytes * height);
    for (auto _ : state)
    {
        const auto ec = Unpack(p, width, height, {src, line}, {dst, size_t{width} * SampleBytes});
        benchmark::DoNotOptimize(ec);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

// The portable line kernels alone: what processors without a faster variant run.
void BM_UnpackTo8bitPortable(benchmark::State& state)
{
    const auto p = static_cast<packing>(state.range(0));
    const auto src = packed_frame(p);
    const size_t line = *img_lib::unpack::packed_line_bytes(p, width);
    const auto fn = p == packing::mipi_raw10 ? img_lib::unpack::lines::raw10_to_8
                                             : img_lib::unpack::lines::raw12_to_8;
    std::vector<uint8_t> dst(size_t{width} * height);
    const auto* in = reinterpret_cast<const uint8_t*>(src.data());
    for (auto _ : state)
    {
        for (uint32_t y = 0; y < height; ++y)
        {
            fn(in + y * line, line, dst.data() + size_t{y} * width, width);
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

BENCHMARK(BM_MemcpyPacked)->Arg(12)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Unpack, img_lib::unpack::to_8bit, 1)
    ->Name("BM_UnpackTo8bit")
    ->Arg(12)
    ->Arg(10)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnpackTo8bitPortable)->Arg(12)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Unpack, img_lib::unpack::to_16bit_le, 2)
    ->Name("BM_UnpackTo16bit")
    ->Arg(12)
    ->Arg(10)
    ->Unit(benchmark::kMicrosecond);

} // namespace
