#pragma once

// A clock for the virtual camera that only moves when the test says so. Each tick lets the
// generator's current wait end at its deadline; the test can then wait until the generator
// has finished that slot and waits again.

#include "virt_cam_clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace device_test {

class manual_clock final : public gst_korsa::virt_cam_clock
{
public:
    int64_t now_ns() override
    {
        std::lock_guard lock(m_);
        return now_;
    }

    bool wait_until(std::unique_lock<std::mutex>& camera_lock, int64_t deadline_ns) override
    {
        camera_lock.unlock();
        bool reached = false;
        {
            std::unique_lock lock(m_);
            periods_.push_back(deadline_ns - now_);
            ++waits_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return ticks_ > 0 || woken_; });
            if (ticks_ > 0)
            {
                --ticks_;
                now_ = std::max(now_, deadline_ns);
                reached = true;
            }
            else
            {
                woken_ = false;
            }
        }
        camera_lock.lock();
        return reached;
    }

    void wait(std::unique_lock<std::mutex>& camera_lock) override
    {
        camera_lock.unlock();
        {
            std::unique_lock lock(m_);
            ++waits_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return woken_; });
            woken_ = false;
        }
        camera_lock.lock();
    }

    void notify_all() override
    {
        std::lock_guard lock(m_);
        woken_ = true;
        changed_.notify_all();
    }

    // Lets one period elapse and waits until the generator has handled it and waits again.
    void tick()
    {
        std::unique_lock lock(m_);
        const int before = waits_;
        ++ticks_;
        changed_.notify_all();
        wait_changed(lock, [&] { return waits_ > before && ticks_ == 0; });
    }

    // Waits until the generator has started waiting at least `n` times in all.
    void wait_for_waits(int n)
    {
        std::unique_lock lock(m_);
        wait_changed(lock, [&] { return waits_ >= n; });
    }

    // The time between "now" and the deadline of each wait, in nanoseconds.
    std::vector<int64_t> periods()
    {
        std::lock_guard lock(m_);
        return periods_;
    }

private:
    template <typename Pred>
    void wait_changed(std::unique_lock<std::mutex>& lock, Pred pred)
    {
        // A generous bound only so that a broken camera fails the test instead of hanging it.
        if (!changed_.wait_for(lock, std::chrono::seconds(30), pred))
        {
            throw std::runtime_error("virtual camera generator did not get back to waiting");
        }
    }

    std::mutex m_;
    std::condition_variable changed_;
    int64_t now_ = 1'000'000'000;
    int ticks_ = 0;
    bool woken_ = false;
    int waits_ = 0;
    std::vector<int64_t> periods_;
};

} // namespace device_test
