#include "virt_cam_clock.h"

#include <chrono>

namespace gst_korsa {

int64_t steady_virt_cam_clock::now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool steady_virt_cam_clock::wait_until(std::unique_lock<std::mutex>& lock, int64_t deadline_ns)
{
    const std::chrono::steady_clock::time_point deadline{std::chrono::nanoseconds(deadline_ns)};
    if (std::chrono::steady_clock::now() >= deadline)
    {
        // Already due (period 0, or the work took longer than the period): a timed wait
        // would still put the thread to sleep for the timer slack, a good part of a frame.
        return true;
    }
    cv_.wait_until(lock, deadline);
    return std::chrono::steady_clock::now() >= deadline;
}

} // namespace gst_korsa
