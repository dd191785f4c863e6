// Drawing the frame-information overlay into a 1920x1080 12-bit packed frame.

#include "alloc_counter.h"
#include "device_state_impl.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_ApplyOverlay1920x1080Bgdp(benchmark::State& state)
{
    const img::img_type type = img::make_img_type(img::fcc::BGDP, {1920, 1080});
    std::vector<std::byte> frame(type.buffer_length, std::byte{0x40});
    img::img_descriptor image{type, frame.data(), 2880};
    gst_korsa::device_state ds;
    korsa_cam::frame_info info;
    info.cam_time = 123456789012;
    const gst_korsa::frame_drop_info drops{3, 0, 17};

    const uint64_t before = bench::allocations();
    for (auto _ : state)
    {
        ++info.frame_number;
        ++info.frame_id;
        ds.apply_overlay(image, info, drops);
        benchmark::ClobberMemory();
    }
    state.counters["allocs_per_frame"] = static_cast<double>(bench::allocations() - before) /
                                         static_cast<double>(state.iterations());
}
BENCHMARK(BM_ApplyOverlay1920x1080Bgdp);

} // namespace
