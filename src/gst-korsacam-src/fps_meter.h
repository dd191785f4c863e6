#pragma once

// Measures the delivered frame rate over windows of at least three seconds.

#include <cstdint>

namespace gst_korsa {

class fps_meter
{
public:
    // Counts one arriving frame at `now_us` (microseconds of any monotonic-enough clock).
    void frame_arrived(int64_t now_us) noexcept;
    // The rate of the last complete window; 0 until the first window has closed.
    double fps() const noexcept { return fps_; }
    void reset() noexcept;

    static constexpr int64_t window_us = 3'000'000;

private:
    int64_t frame_count_ = 0;
    int64_t window_start_ = -1; // -1: no window open
    double fps_ = 0.0;
};

} // namespace gst_korsa
