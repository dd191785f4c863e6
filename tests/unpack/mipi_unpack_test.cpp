// The unpack kernels against the independent packing model: every variant the processor runs,
// both packings, widths that end in cut groups and in every step of the word loops, padded
// strides, and geometry that must be refused before a byte is touched.

#include "mipi_unpack.h"
#include "mipi_unpack_lines.h"
#include "packing_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

using img_lib::unpack::errc;
using img_lib::unpack::packing;
namespace lines = img_lib::unpack::lines;
using namespace unpack_test;

struct line_variant
{
    std::string name;
    unsigned bits;
    bool wide; // 16-bit output
    lines::line_fn fn;
};

std::vector<line_variant> variants()
{
    std::vector<line_variant> v = {
        {"raw10_to_8", 10, false, lines::raw10_to_8},
        {"raw12_to_8", 12, false, lines::raw12_to_8},
        {"raw10_to_16", 10, true, lines::raw10_to_16},
        {"raw12_to_16", 12, true, lines::raw12_to_16},
        {"best_raw10_to_8", 10, false, lines::best_raw10_to_8()},
        {"best_raw12_to_8", 12, false, lines::best_raw12_to_8()},
    };
#if KORSA_UNPACK_HAVE_SSSE3
    if (lines::has_ssse3())
    {
        v.push_back({"raw10_to_8_ssse3", 10, false, lines::raw10_to_8_ssse3});
        v.push_back({"raw12_to_8_ssse3", 12, false, lines::raw12_to_8_ssse3});
    }
#endif
    return v;
}

// Every line kernel reads a heap block exactly as long as the line, so AddressSanitizer
// catches a read past it; the output block has one guard byte after the line.
TEST(UnpackLines, EveryVariantMatchesTheReferenceForEveryWidth)
{
    for (const auto& v : variants())
    {
        for (size_t width = 1; width <= 100; ++width)
        {
            SCOPED_TRACE(v.name + " width " + std::to_string(width));
            const auto px = test_pixels(v.bits, width, 1, static_cast<uint32_t>(width));
            const auto packed = pack_line(v.bits, px.data(), width);
            const auto src = std::make_unique<uint8_t[]>(packed.size());
            std::memcpy(src.get(), packed.data(), packed.size());
            const size_t out_bytes = width * (v.wide ? 2 : 1);
            std::vector<uint8_t> dst(out_bytes + 1, 0x5A);

            v.fn(src.get(), packed.size(), dst.data(), width);

            for (size_t x = 0; x < width; ++x)
            {
                if (v.wide)
                {
                    const unsigned got = dst[2 * x] | (dst[2 * x + 1] << 8);
                    ASSERT_EQ(got, expect_16bit(v.bits, width, x, px[x])) << "pixel " << x;
                }
                else
                {
                    ASSERT_EQ(dst[x], expect_8bit(v.bits, px[x])) << "pixel " << x;
                }
            }
            EXPECT_EQ(dst[out_bytes], 0x5A) << "wrote past the line";
        }
    }
}

struct frame_case
{
    packing p;
    bool wide;
    uint32_t width;
    uint32_t height;
    size_t src_pad; // bytes of padding after each packed line but the last
    size_t dst_pad;
};

// Frames through the public calls: padding on both sides is skipped and left alone.
TEST(UnpackFrame, PaddedStridesOnBothSidesKeepEveryPixelAndTheirPadding)
{
    const frame_case cases[] = {
        {packing::mipi_raw12, false, 1920, 4, 0, 0}, {packing::mipi_raw12, false, 64, 5, 32, 4},
        {packing::mipi_raw10, false, 1280, 3, 0, 0}, {packing::mipi_raw10, false, 22, 6, 6, 2},
        {packing::mipi_raw12, true, 61, 3, 3, 6},    {packing::mipi_raw10, true, 37, 4, 11, 2},
        {packing::mipi_raw12, false, 7, 2, 1, 1},    {packing::mipi_raw10, true, 1, 3, 0, 0},
    };
    for (const auto& c : cases)
    {
        const unsigned bits = img_lib::unpack::bits_of(c.p);
        SCOPED_TRACE(std::to_string(bits) + "-bit " + std::to_string(c.width) + "x" +
                     std::to_string(c.height) + (c.wide ? " to 16" : " to 8"));
        const auto px = test_pixels(bits, c.width, c.height);
        const size_t src_stride = line_bytes(bits, c.width) + c.src_pad;
        const auto packed = pack_frame(bits, px, c.width, c.height, src_stride);
        const size_t sample = c.wide ? 2 : 1;
        const size_t dst_stride = c.width * sample + c.dst_pad;
        std::vector<std::byte> out(dst_stride * c.height, std::byte{0x5A});

        const img_lib::unpack::packed_view src{std::as_bytes(std::span<const uint8_t>(packed)),
                                               src_stride};
        const img_lib::unpack::sample_view dst{out, dst_stride};
        const auto ec = c.wide ? img_lib::unpack::to_16bit_le(c.p, c.width, c.height, src, dst)
                               : img_lib::unpack::to_8bit(c.p, c.width, c.height, src, dst);
        ASSERT_FALSE(ec) << ec.message();

        for (size_t y = 0; y < c.height; ++y)
        {
            const auto* line = reinterpret_cast<const uint8_t*>(out.data()) + y * dst_stride;
            for (size_t x = 0; x < c.width; ++x)
            {
                const uint16_t value = px[y * c.width + x];
                if (c.wide)
                {
                    ASSERT_EQ(line[2 * x] | (line[2 * x + 1] << 8),
                              expect_16bit(bits, c.width, x, value))
                        << "at " << x << "," << y;
                }
                else
                {
                    ASSERT_EQ(line[x], expect_8bit(bits, value)) << "at " << x << "," << y;
                }
            }
            for (size_t i = c.width * sample; i < dst_stride; ++i)
            {
                ASSERT_EQ(line[i], 0x5A) << "padding byte " << i << " of line " << y;
            }
        }
    }
}

std::error_code unpack8(packing p, uint32_t w, uint32_t h, std::span<const std::byte> in,
                        size_t in_stride, std::span<std::byte> out, size_t out_stride)
{
    return img_lib::unpack::to_8bit(p, w, h, {in, in_stride}, {out, out_stride});
}

// Geometry that does not fit is refused and leaves the output as it was.
TEST(UnpackFrame, RefusesGeometryThatDoesNotFitWithoutTouchingTheOutput)
{
    constexpr packing p = packing::mipi_raw12;
    constexpr uint32_t w = 8;
    constexpr uint32_t h = 4;
    const size_t line = line_bytes(12, w); // 12
    std::vector<std::byte> in(line * h, std::byte{0x11});
    std::vector<std::byte> out(w * h, std::byte{0x5A});
    const auto untouched = [&] {
        for (auto b : out)
        {
            if (b != std::byte{0x5A})
            {
                return false;
            }
        }
        return true;
    };

    EXPECT_EQ(unpack8(p, 0, h, in, line, out, w), errc::zero_size);
    EXPECT_EQ(unpack8(p, w, 0, in, line, out, w), errc::zero_size);
    EXPECT_EQ(unpack8(p, w, h, in, line - 1, out, w), errc::stride_below_line);
    EXPECT_EQ(unpack8(p, w, h, std::span(in).first(in.size() - 1), line, out, w),
              errc::source_too_short);
    // A padded stride needs more than the unpadded frame holds.
    EXPECT_EQ(unpack8(p, w, h, in, line + 1, out, w), errc::source_too_short);
    EXPECT_EQ(unpack8(p, w, h, in, line, std::span(out).first(out.size() - 1), w),
              errc::destination_too_small);
    EXPECT_EQ(unpack8(p, w, h, in, line, out, w - 1), errc::destination_too_small);
    EXPECT_EQ(unpack8(p, w, h, in, std::numeric_limits<size_t>::max() / 2, out, w),
              errc::size_overflow);
    EXPECT_EQ(unpack8(static_cast<packing>(8), w, h, in, line, out, w), errc::unsupported_format);
    EXPECT_EQ(img_lib::unpack::to_16bit_le(p, w, h, {in, line}, {out, w}),
              errc::destination_too_small);
    EXPECT_TRUE(untouched());

    // The exact frame, its last line without padding, is enough.
    EXPECT_FALSE(unpack8(p, w, h, in, line, out, w));
    EXPECT_EQ(out[0], std::byte{0x11});
}

} // namespace
