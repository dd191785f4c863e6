#pragma once

// Unpacks one buffer into another by a negotiated plan. The input's line stride and start
// come from its video meta when it has one (the source pads its lines), the output's from its
// video meta when downstream's pool put one there; otherwise the output gets a meta with the
// plan's stride, so elements after it can find the lines too.

#include "unpack_caps.h"

#include <gst/gst.h>

#include <string>
#include <system_error>

namespace gst_korsa::unpack {

struct frame_outcome
{
    // unpack::errc codes: source_too_short, stride_below_line (the input does not hold the
    // frame its caps describe), destination_too_small (the output buffer cannot take it);
    // std::errc::io_error when a buffer cannot be mapped.
    std::error_code error;
    std::string detail; // the numbers behind the error, for the log
};

// Reads only inside the input's mapped memory and writes only inside the output's, whatever
// the buffers and their metas claim.
frame_outcome unpack_buffer(const unpack_plan& plan, GstBuffer* in, GstBuffer* out);

} // namespace gst_korsa::unpack
