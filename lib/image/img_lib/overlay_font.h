#pragma once

// The 8x8 bitmap font of the overlay text: code page 437 shapes, one glyph per byte value.

#include <array>
#include <cstdint>

namespace img_lib::overlay {

// 256 glyphs of 8 bytes, one byte per row from top to bottom, bit 7 = leftmost pixel.
extern const std::array<uint8_t, 2048> g_font_data;

inline uint8_t glyph_row_of(unsigned char code, int row) noexcept
{
    return g_font_data[static_cast<std::size_t>(code) * 8 + static_cast<std::size_t>(row)];
}

} // namespace img_lib::overlay
