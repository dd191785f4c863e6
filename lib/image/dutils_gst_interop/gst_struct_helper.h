#pragma once

// Reading image types and frame rates out of GStreamer caps structures.

#include "image_types.h"

#include <gst/gst.h>

#include <optional>

namespace gst_helper {

// The code for the structure's media type and string "format" field; FCC_NULL without one.
img::fourcc get_gst_struct_fcc(const GstStructure* structure);

// Present when "width" and "height" are both ints.
std::optional<img::dim> get_gst_struct_image_dim(const GstStructure* structure);

// Present when the size is there and the format maps to a known code.
std::optional<img::img_type> get_gst_struct_image_type(const GstStructure* structure);

// The "framerate" fraction as a double, when the structure has one.
std::optional<double> get_gst_struct_framerate(const GstStructure* structure);

} // namespace gst_helper
