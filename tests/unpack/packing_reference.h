#pragma once

// An independent model of MIPI CSI-2 RAW10/RAW12 packing for the unpack tests: it packs known
// pixel values the way a sensor sends them, and says what an unpacker must read back. It
// works forwards (pixels to bytes), so it shares nothing with the code under test.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace unpack_test {

// Pixel values for `width` x `height`: full scale and zero first, then random (fixed seed).
inline std::vector<uint16_t> test_pixels(unsigned bits, size_t width, size_t height,
                                         uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    const uint16_t max = static_cast<uint16_t>((1U << bits) - 1);
    std::uniform_int_distribution<unsigned> any(0, max);
    std::vector<uint16_t> px(width * height);
    for (size_t i = 0; i < px.size(); ++i)
    {
        px[i] = i == 0 ? max : i == 1 ? 0 : static_cast<uint16_t>(any(rng));
    }
    return px;
}

// Bytes of one packed line: width * bits / 8, rounded down, as the cameras size their lines.
inline size_t line_bytes(unsigned bits, size_t width)
{
    return width * bits / 8;
}

// One packed line. RAW10 groups: four upper bytes, then p0[1:0] | p1[1:0] << 2 | p2 << 4 |
// p3 << 6. RAW12 groups: two upper bytes, then p0[3:0] | p1[3:0] << 4. A group the width cuts
// short ends after its pixels' upper bytes.
inline std::vector<uint8_t> pack_line(unsigned bits, const uint16_t* px, size_t width)
{
    const size_t per_group = bits == 10 ? 4 : 2;
    const unsigned low_bits = bits - 8;
    std::vector<uint8_t> out;
    for (size_t g = 0; g < width; g += per_group)
    {
        const size_t n = std::min(per_group, width - g);
        unsigned low = 0;
        for (size_t i = 0; i < n; ++i)
        {
            out.push_back(static_cast<uint8_t>(px[g + i] >> low_bits));
            low |= (px[g + i] & ((1U << low_bits) - 1)) << (i * low_bits);
        }
        if (n == per_group)
        {
            out.push_back(static_cast<uint8_t>(low));
        }
    }
    out.resize(line_bytes(bits, width));
    return out;
}

// A packed frame with `stride` bytes per line (padding filled with `pad`); the last line
// ends at its payload, as a camera's last line may.
inline std::vector<uint8_t> pack_frame(unsigned bits, const std::vector<uint16_t>& px, size_t width,
                                       size_t height, size_t stride, uint8_t pad = 0xA5)
{
    const size_t line = line_bytes(bits, width);
    std::vector<uint8_t> out(stride * (height - 1) + line, pad);
    for (size_t y = 0; y < height; ++y)
    {
        const auto packed = pack_line(bits, px.data() + y * width, width);
        std::copy(packed.begin(), packed.end(), out.begin() + static_cast<ptrdiff_t>(y * stride));
    }
    return out;
}

// Whether pixel x of a line lies in a group the width cuts short (no low bits sent).
inline bool in_cut_group(unsigned bits, size_t width, size_t x)
{
    const size_t per_group = bits == 10 ? 4 : 2;
    return x >= width / per_group * per_group;
}

inline uint8_t expect_8bit(unsigned bits, uint16_t value)
{
    return static_cast<uint8_t>(value >> (bits - 8));
}

// The value at the top of 16 bits; in a cut group only the upper byte arrived.
inline uint16_t expect_16bit(unsigned bits, size_t width, size_t x, uint16_t value)
{
    if (in_cut_group(bits, width, x))
    {
        return static_cast<uint16_t>(expect_8bit(bits, value) << 8);
    }
    return static_cast<uint16_t>(value << (16 - bits));
}

} // namespace unpack_test
