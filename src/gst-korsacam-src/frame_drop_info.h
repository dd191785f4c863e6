#pragma once

// Counters of frames the device state did not hand to the element.

#include <cstdint>

namespace gst_korsa {

struct frame_drop_info
{
    uint64_t pck_drops = 0; // incomplete frames dropped because "drop-incomplete-buffer" is on
    uint64_t qks_drops = 0; // printed by the overlay; nothing counts into it
    uint64_t qum_drops = 0; // frames dropped because the queue bound was reached or flushing
};

} // namespace gst_korsa
