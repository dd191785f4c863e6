#include "frame_return_path.h"

namespace gst_korsa {

bool frame_return_path::try_lend(int limit) noexcept
{
    if (frames_out_.load() >= limit)
    {
        return false;
    }
    frames_out_.fetch_add(1);
    return true;
}

void frame_return_path::give_back(korsa_cam::buffer_id_type id)
{
    frames_out_.fetch_sub(1);
    if (camera_)
    {
        camera_->reenqueue_buffer(id);
    }
}

void destroy_gst_buffer(gst_buffer_desc* desc)
{
    const std::unique_ptr<gst_buffer_desc> owned(desc);
    if (owned && owned->owner)
    {
        owned->owner->give_back(owned->buffer.buffer_id);
    }
}

} // namespace gst_korsa
