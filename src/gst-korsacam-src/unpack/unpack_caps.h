#pragma once

// Caps of the unpack element: its templates, how caps map across it in both directions, the
// choice of output among those downstream accepts, and the frame geometry that fixed caps
// describe. Every function here only reads its arguments, so any thread may call it.

#include "result.h"
#include "unpack_formats.h"

#include <gst/gst.h>

#include <cstddef>
#include <optional>

namespace gst_korsa::unpack {

// Everything one negotiated pair of caps fixes about a frame.
struct unpack_plan
{
    const input_format* in = nullptr;
    const output_format* out = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t in_line_bytes = 0;   // one packed line; the stride when the buffer has no meta
    size_t in_frame_bytes = 0;  // a frame of unpadded lines
    size_t out_stride = 0;      // of the buffers this element fills when downstream gives none
    size_t out_frame_bytes = 0; // height lines of out_stride
};

// New caps: every packed format (sink) or unpacked format (source), any size and rate.
GstCaps* make_sink_template_caps();
GstCaps* make_src_template_caps();

// The caps on the other side of caps on the `direction` side (GST_PAD_SINK: caps upstream
// sends, giving what may go downstream; GST_PAD_SRC: the reverse). Size, rate and other
// fields pass through; formats map through the tables; a structure naming no format stands
// for every format of its media type. New caps, filtered by `filter` when given.
GstCaps* transform_caps(GstPadDirection direction, GstCaps* caps, GstCaps* filter);

// Fixes the source caps for fixed sink caps: the first output of the input's list that
// `candidates` allows (so the richest one downstream accepts), with the input's size and rate.
// Takes ownership of `candidates`, returns new fixed caps.
GstCaps* fixate_src_caps(GstCaps* sink_caps, GstCaps* candidates);

// The plan for fixed input and output caps. Fails with unpack::errc::zero_size without a
// positive width and height, unsupported_format when the formats are not a pair this element
// converts or the sizes differ, size_overflow when a frame does not fit into memory.
korsa_cam::result<unpack_plan> make_plan(const GstCaps* in_caps, const GstCaps* out_caps);

// Bytes of one frame as caps of either side describe it (packed lines without padding, or
// unpacked lines at the output stride); nothing for caps this element does not handle.
std::optional<size_t> caps_frame_bytes(const GstCaps* caps);

} // namespace gst_korsa::unpack
