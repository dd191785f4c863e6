#pragma once

// Positions and colours for drawing into images.

#include <cstdint>

namespace img {

// A position in pixels from the top-left corner; -1 in a member centres along that axis.
struct point
{
    int32_t x = 0;
    int32_t y = 0;
};

namespace pixel_type {

// Red, green, blue, alpha. Alpha 0 is transparent (nothing is drawn in that colour); any
// other alpha is opaque. Colours are never blended.
struct R8G8B8A8
{
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;
};

} // namespace pixel_type

} // namespace img
