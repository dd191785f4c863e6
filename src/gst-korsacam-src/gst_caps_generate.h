#pragma once

// Turns a camera's stream types into the caps the element offers.

#include "camera_types.h"

#include <gst/gst.h>

#include <functional>
#include <vector>

namespace gst_helper {

using fps_function = std::function<korsa_cam::framerate_data(const img::img_type&)>;

// The sizes offered for ranged formats, largest first.
const std::vector<img::dim>& get_standard_resolutions();

// Sets "framerate" from a rate list: a fraction for one rate, a fraction range (smallest to
// largest) for more. Returns false, leaving value unset, for an empty list.
bool set_gvalue_framerate_data(GValue* value, const korsa_cam::framerate_data& rates);

// Fills "width", "height" and "framerate" of one fixed-size structure; false when the camera
// offers no rate for the type.
bool fill_structure_fixed_resolution(GstStructure* structure, const img::img_type& type,
                                     const fps_function& get_fps);

// New caps (owned by the caller, possibly empty) for the stream types in the camera's order.
GstCaps* convert_videoformatsdescription_to_caps(
    const std::vector<korsa_cam::stream_type_desc>& stream_types, const fps_function& get_fps);

} // namespace gst_helper
