#pragma once

// The two lines of frame information burnt into the top-left corner of a frame.

#include "camera_types.h"
#include "frame_drop_info.h"

namespace gst_korsa {

// Line 1: frame number, id, capture time and the incomplete flag on red; line 2: the drop
// counters and the measured frame rate. The scale grows by one per 1024 pixels of width.
// Formats into stack buffers: no allocation.
void draw_frame_info(const img::img_descriptor& image, const korsa_cam::frame_info& info,
                     const frame_drop_info& drops, double measured_fps);

} // namespace gst_korsa
