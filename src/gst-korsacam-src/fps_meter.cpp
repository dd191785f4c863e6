#include "fps_meter.h"

namespace gst_korsa {

void fps_meter::frame_arrived(int64_t now_us) noexcept
{
    if (window_start_ == -1)
    {
        window_start_ = now_us;
        frame_count_ = 1;
        return;
    }
    ++frame_count_;
    const int64_t elapsed = now_us - window_start_;
    if (elapsed >= window_us)
    {
        fps_ = static_cast<double>(frame_count_) * 1'000'000.0 / static_cast<double>(elapsed);
        frame_count_ = 0;
        window_start_ = now_us;
    }
}

void fps_meter::reset() noexcept
{
    frame_count_ = 0;
    window_start_ = -1;
    fps_ = 0.0;
}

} // namespace gst_korsa
