#pragma once

// Time for the virtual camera's generator thread: where its deadlines come from and how it
// waits for them. The camera uses the steady clock; tests substitute a clock they advance
// by hand, so frame periods and dropped slots can be checked without sleeping.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace gst_korsa {

class virt_cam_clock
{
public:
    virtual ~virt_cam_clock() = default;

    // Nanoseconds since the clock's epoch; also the frames' capture time.
    virtual int64_t now_ns() = 0;

    // Called with `lock` holding the camera's mutex: waits until `deadline_ns` or until
    // notify_all, with the mutex released meanwhile and held again on return. True when the
    // deadline has passed, false when woken before it (notified or spuriously).
    virtual bool wait_until(std::unique_lock<std::mutex>& lock, int64_t deadline_ns) = 0;

    // Called with `lock` holding the camera's mutex: waits, with the mutex released, until
    // notify_all (or spuriously). For a generator with nothing to do until a buffer comes back.
    virtual void wait(std::unique_lock<std::mutex>& lock) = 0;

    // Wakes a waiter early. Called with the camera's mutex held.
    virtual void notify_all() = 0;
};

// The steady clock. Waiting on it rather than on the wall clock keeps the frame period
// right when the system time is set (a Pi without a real-time clock jumps at boot).
class steady_virt_cam_clock final : public virt_cam_clock
{
public:
    int64_t now_ns() override;
    bool wait_until(std::unique_lock<std::mutex>& lock, int64_t deadline_ns) override;
    void wait(std::unique_lock<std::mutex>& lock) override { cv_.wait(lock); }
    void notify_all() override { cv_.notify_all(); }

private:
    std::condition_variable cv_;
};

} // namespace gst_korsa
