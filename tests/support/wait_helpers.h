#pragma once

// Waiting in threaded tests without sleeping: a one-shot signal between threads, and a guard
// for calls that must return. The time bounds are generous and never part of what a test
// checks; they only turn a deadlock into a failure instead of a hung test run.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace test_wait {

inline constexpr std::chrono::seconds patience{30};

// Set once by one thread, awaited by others.
class latch
{
public:
    // Notifies under the lock, so the latch may be gone as soon as a waiter returns.
    void set()
    {
        std::lock_guard lock(m_);
        set_ = true;
        cv_.notify_all();
    }

    bool is_set()
    {
        std::lock_guard lock(m_);
        return set_;
    }

    // True once set; false if that did not happen within the patience bound.
    bool wait()
    {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, patience, [this] { return set_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};

// A deadlock: the test fails and the process ends, since the stuck threads cannot be
// cleaned up.
[[noreturn]] inline void deadlocked(const char* what)
{
    ADD_FAILURE() << what << " did not return: deadlock";
    std::fprintf(stderr, "%s did not return: deadlock\n", what);
    std::fflush(nullptr);
    std::_Exit(1);
}

// Runs `fn` on a thread of its own and waits for it to return.
inline void must_return(const char* what, std::function<void()> fn)
{
    std::packaged_task<void()> task(std::move(fn));
    auto done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(patience) != std::future_status::ready)
    {
        deadlocked(what);
    }
    runner.join();
    done.get();
}

} // namespace test_wait
