#include "unpack_frame.h"

#include <gst/video/video.h>

#include <fmt/format.h>

namespace gst_korsa::unpack {
namespace {

using img_lib::unpack::errc;

// Stride and first-line offset of plane 0, from the buffer's video meta or the defaults.
struct plane_layout
{
    int64_t stride = 0; // a meta's stride may be negative
    gsize offset = 0;
    bool from_meta = false;
};

plane_layout layout_of(GstBuffer* buffer, size_t default_stride)
{
    plane_layout l;
    if (const GstVideoMeta* meta = gst_buffer_get_video_meta(buffer); meta != nullptr)
    {
        l.stride = meta->stride[0];
        l.offset = meta->offset[0];
        l.from_meta = true;
    }
    else
    {
        l.stride = static_cast<int64_t>(default_stride);
    }
    return l;
}

// Unmaps on every way out.
class mapped_buffer
{
public:
    mapped_buffer(GstBuffer* buffer, GstMapFlags flags) : buffer_(buffer)
    {
        ok_ = gst_buffer_map(buffer_, &info_, flags) != FALSE;
    }
    ~mapped_buffer()
    {
        if (ok_)
        {
            gst_buffer_unmap(buffer_, &info_);
        }
    }
    mapped_buffer(const mapped_buffer&) = delete;
    mapped_buffer& operator=(const mapped_buffer&) = delete;

    bool ok() const { return ok_; }
    std::byte* data() const { return reinterpret_cast<std::byte*>(info_.data); }
    gsize size() const { return info_.size; }

private:
    GstBuffer* buffer_;
    GstMapInfo info_{};
    bool ok_ = false;
};

} // namespace

frame_outcome unpack_buffer(const unpack_plan& plan, GstBuffer* in, GstBuffer* out)
{
    const plane_layout src = layout_of(in, plan.in_line_bytes);
    const plane_layout dst = layout_of(out, plan.out_stride);

    mapped_buffer in_map(in, GST_MAP_READ);
    mapped_buffer out_map(out, GST_MAP_WRITE);
    if (!in_map.ok() || !out_map.ok())
    {
        return {std::make_error_code(std::errc::io_error), "cannot map a buffer"};
    }
    if (src.stride < 0 || static_cast<size_t>(src.stride) < plan.in_line_bytes)
    {
        return {
            make_error_code(errc::stride_below_line),
            fmt::format("input stride {} for lines of {} bytes", src.stride, plan.in_line_bytes)};
    }
    if (src.offset > in_map.size())
    {
        return {make_error_code(errc::source_too_short),
                fmt::format("input of {} bytes, first line at {}", in_map.size(), src.offset)};
    }
    if (dst.stride < 0 || dst.offset > out_map.size())
    {
        return {make_error_code(errc::destination_too_small),
                fmt::format("output of {} bytes, stride {}, first line at {}", out_map.size(),
                            dst.stride, dst.offset)};
    }

    const img_lib::unpack::packed_view packed{
        {in_map.data() + src.offset, in_map.size() - src.offset}, static_cast<size_t>(src.stride)};
    const img_lib::unpack::sample_view samples{
        {out_map.data() + dst.offset, out_map.size() - dst.offset},
        static_cast<size_t>(dst.stride)};
    const std::error_code ec =
        plan.out->sample_bytes == 1
            ? img_lib::unpack::to_8bit(plan.in->packing, plan.width, plan.height, packed, samples)
            : img_lib::unpack::to_16bit_le(plan.in->packing, plan.width, plan.height, packed,
                                           samples);
    if (ec)
    {
        const auto needed = img_lib::unpack::frame_bytes(static_cast<size_t>(src.stride),
                                                         plan.in_line_bytes, plan.height);
        return {ec, fmt::format("input of {} bytes (first line at {}, stride {}), {}x{} needs {}; "
                                "output of {} bytes, stride {}",
                                in_map.size(), src.offset, src.stride, plan.width, plan.height,
                                needed ? fmt::to_string(*needed) : std::string("too many"),
                                out_map.size(), dst.stride)};
    }
    if (!dst.from_meta)
    {
        gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
        gint strides[GST_VIDEO_MAX_PLANES] = {static_cast<gint>(plan.out_stride)};
        gst_buffer_add_video_meta_full(out, GST_VIDEO_FRAME_FLAG_NONE, plan.out->video_format,
                                       plan.width, plan.height, 1, offsets, strides);
    }
    return {};
}

} // namespace gst_korsa::unpack
