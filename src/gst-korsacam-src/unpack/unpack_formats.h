#pragma once

// What the unpack element converts: the camera's MIPI-packed codes on its sink side, the
// plain 8/16-bit codes stock elements read on its source side, and which turns into which.
// Caps names come from the shared fourcc-to-caps table, so they are exactly the strings the
// source element puts into its caps.

#include "image_fourcc.h"
#include "mipi_unpack.h"

#include <gst/video/video.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace gst_korsa::unpack {

struct input_format
{
    img::fourcc code;
    img_lib::unpack::packing packing;
    // What it can become, the richest first; FCC_NULL fills unused places.
    std::array<img::fourcc, 2> outputs;
};

struct output_format
{
    img::fourcc code;
    size_t sample_bytes;         // 1 or 2
    GstVideoFormat video_format; // for the video meta; UNKNOWN for Bayer, as the source does
};

// The camera's packed codes, in the order the sink template lists them.
std::span<const input_format> input_formats() noexcept;
// The unpacked codes, in the order the source template lists them.
std::span<const output_format> output_formats() noexcept;

const input_format* find_input(img::fourcc code) noexcept;
const output_format* find_output(img::fourcc code) noexcept;

// A code's caps media type and format string ("video/x-bayer", "bggr12m").
struct caps_name
{
    std::string media_type;
    std::string format;
};
std::optional<caps_name> caps_name_of(img::fourcc code);

// The code of (media type, format) among the codes of one side; FCC_NULL when it is not one.
img::fourcc find_input_code(std::string_view media_type, std::string_view format);
img::fourcc find_output_code(std::string_view media_type, std::string_view format);

// Line stride of an unpacked frame: rounded up to 4 bytes, which is what GStreamer's video
// library and bayer2rgb assume for these formats.
std::optional<size_t> output_stride(const output_format& out, uint32_t width) noexcept;

} // namespace gst_korsa::unpack
