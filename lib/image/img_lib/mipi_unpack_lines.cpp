#include "mipi_unpack_lines.h"

#include <bit>
#include <cstring>

#if KORSA_UNPACK_HAVE_SSSE3
#include <tmmintrin.h>
#endif

namespace img_lib::unpack::lines {
namespace {

// Pixels per group and bytes per group of a packing.
template <unsigned Bits>
struct group_shape
{
    static_assert(Bits == 10 || Bits == 12);
    static constexpr size_t pixels = Bits == 10 ? 4 : 2;
    static constexpr size_t bytes = pixels + 1;
};

uint32_t load32(const uint8_t* p) noexcept
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
    {
        v = __builtin_bswap32(v);
    }
    return v;
}

void store64(uint8_t* p, uint64_t v) noexcept
{
    if constexpr (std::endian::native == std::endian::big)
    {
        v = __builtin_bswap64(v);
    }
    std::memcpy(p, &v, sizeof v);
}

void store32(uint8_t* p, uint32_t v) noexcept
{
    if constexpr (std::endian::native == std::endian::big)
    {
        v = __builtin_bswap32(v);
    }
    std::memcpy(p, &v, sizeof v);
}

// The value of pixel x top-aligned in 16 bits, for any pixel of a line (the slow path for the
// pixels the word loops leave over). A group cut short by the line's end has no low bits.
template <unsigned Bits>
unsigned sample16(const uint8_t* line, size_t line_bytes, size_t x) noexcept
{
    using shape = group_shape<Bits>;
    const size_t first = x / shape::pixels * shape::bytes;
    const size_t index = x % shape::pixels;
    const unsigned high = line[first + index];
    const size_t low_at = first + shape::pixels;
    if (low_at >= line_bytes)
    {
        return high << 8;
    }
    constexpr unsigned low_bits = Bits - 8;
    const unsigned low = (line[low_at] >> (index * low_bits)) & ((1U << low_bits) - 1);
    return (high << 8) | (low << (16 - Bits));
}

template <unsigned Bits>
void tail_to_8(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t from,
               size_t width) noexcept
{
    for (size_t x = from; x < width; ++x)
    {
        dst[x] = static_cast<uint8_t>(sample16<Bits>(src, line_bytes, x) >> 8);
    }
}

void put16(uint8_t* dst, size_t x, unsigned v) noexcept
{
    dst[2 * x] = static_cast<uint8_t>(v & 0xFF);
    dst[2 * x + 1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

// Each RAW10 group's first four bytes are the four results: one 32-bit word per group.
void raw10_to_8(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept
{
    size_t x = 0;
    const uint8_t* s = src;
    for (; x + 4 <= width; x += 4, s += 5)
    {
        std::memcpy(dst + x, s, 4);
    }
    tail_to_8<10>(src, line_bytes, dst, x, width);
}

// Four pixels (two groups, six bytes) per step from two overlapping 32-bit loads. The second
// load reaches one byte past the two groups, so the loop stops while that byte is in the line.
void raw12_to_8(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept
{
    size_t x = 0;
    size_t at = 0;
    for (; x + 4 <= width && at + 7 <= line_bytes; x += 4, at += 6)
    {
        const uint32_t a = load32(src + at);
        const uint32_t b = load32(src + at + 3);
        store32(dst + x, (a & 0xFFFFU) | (b << 16));
    }
    tail_to_8<12>(src, line_bytes, dst, x, width);
}

// Whole groups go out as one word of samples: four (RAW10) or two (RAW12) 16-bit samples.
void raw10_to_16(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept
{
    size_t x = 0;
    const uint8_t* s = src;
    for (; x + 4 <= width; x += 4, s += 5)
    {
        const uint64_t low = s[4];
        const uint64_t samples = (uint64_t{s[0]} << 8) | ((low & 0x03U) << 6) |
                                 (uint64_t{s[1]} << 24) | ((low & 0x0CU) << 20) |
                                 (uint64_t{s[2]} << 40) | ((low & 0x30U) << 34) |
                                 (uint64_t{s[3]} << 56) | ((low & 0xC0U) << 48);
        store64(dst + 2 * x, samples);
    }
    for (; x < width; ++x)
    {
        put16(dst, x, sample16<10>(src, line_bytes, x));
    }
}

void raw12_to_16(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept
{
    size_t x = 0;
    const uint8_t* s = src;
    for (; x + 2 <= width; x += 2, s += 3)
    {
        const uint32_t low = s[2];
        const uint32_t samples = (uint32_t{s[0]} << 8) | ((low & 0x0FU) << 4) |
                                 (uint32_t{s[1]} << 24) | ((low & 0xF0U) << 16);
        store32(dst + 2 * x, samples);
    }
    for (; x < width; ++x)
    {
        put16(dst, x, sample16<12>(src, line_bytes, x));
    }
}

#if KORSA_UNPACK_HAVE_SSSE3

bool has_ssse3() noexcept
{
    static const bool supported = __builtin_cpu_supports("ssse3") != 0;
    return supported;
}

namespace {

// 16 pixels per step: each of two 16-byte loads, `Half` bytes apart, yields the upper bytes
// of 8 pixels through one shuffle. The second load ends `Reach` bytes after the step's start,
// past the bytes the step consumes, so the loop stops while that end is inside the line.
template <unsigned Bits>
__attribute__((target("ssse3"))) void shuffle_to_8(const uint8_t* src, size_t line_bytes,
                                                   uint8_t* dst, size_t width) noexcept
{
    using shape = group_shape<Bits>;
    constexpr size_t half = 8 / shape::pixels * shape::bytes; // bytes of 8 pixels: 10 or 12
    constexpr size_t reach = half + 16;
    const __m128i pick =
        Bits == 10 ? _mm_setr_epi8(0, 1, 2, 3, 5, 6, 7, 8, -1, -1, -1, -1, -1, -1, -1, -1)
                   : _mm_setr_epi8(0, 1, 3, 4, 6, 7, 9, 10, -1, -1, -1, -1, -1, -1, -1, -1);
    size_t x = 0;
    size_t at = 0;
    for (; x + 16 <= width && at + reach <= line_bytes; x += 16, at += 2 * half)
    {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at + half));
        const __m128i out =
            _mm_unpacklo_epi64(_mm_shuffle_epi8(a, pick), _mm_shuffle_epi8(b, pick));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), out);
    }
    tail_to_8<Bits>(src, line_bytes, dst, x, width);
}

} // namespace

void raw10_to_8_ssse3(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept
{
    shuffle_to_8<10>(src, line_bytes, dst, width);
}

void raw12_to_8_ssse3(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept
{
    shuffle_to_8<12>(src, line_bytes, dst, width);
}

#endif

line_fn best_raw10_to_8() noexcept
{
#if KORSA_UNPACK_HAVE_SSSE3
    if (has_ssse3())
    {
        return raw10_to_8_ssse3;
    }
#endif
    return raw10_to_8;
}

line_fn best_raw12_to_8() noexcept
{
#if KORSA_UNPACK_HAVE_SSSE3
    if (has_ssse3())
    {
        return raw12_to_8_ssse3;
    }
#endif
    return raw12_to_8;
}

} // namespace img_lib::unpack::lines
