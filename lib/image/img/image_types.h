#pragma once

// Image records shared by the camera library and the GStreamer side.

#include "image_fourcc.h"

#include <cstddef>
#include <cstdint>

namespace img {

struct dim
{
    int32_t cx = 0; // width in pixels
    int32_t cy = 0; // height in lines

    friend constexpr bool operator==(const dim&, const dim&) = default;
};

struct img_type
{
    fourcc type = fourcc::FCC_NULL;
    img::dim dim;
    uint32_t buffer_length = 0; // bytes needed for one frame of this type

    friend constexpr bool operator==(const img_type&, const img_type&) = default;
};

struct img_descriptor
{
    img_type type;
    std::byte* data = nullptr;
    int32_t pitch = 0; // bytes from the start of one line to the start of the next

    // Not relied upon by the element; zero in the buffers the cameras deliver.
    uint32_t flags = 0;
    int32_t reserved = 0;
};

// Bits per pixel of a packed or interleaved code; 0 for planar and unknown codes.
int get_bits_per_pixel(fourcc fcc) noexcept;

// Bytes needed for one frame of this format and size (0 for unknown codes).
uint32_t calc_buffer_length(fourcc fcc, dim size) noexcept;

inline img_type make_img_type(fourcc fcc, dim size) noexcept
{
    return img_type{fcc, size, calc_buffer_length(fcc, size)};
}

} // namespace img
