#pragma once

// How the board code waits between hardware steps. The chips need fixed pauses (a reset
// settling, a link locking, a sensor leaving standby); they are real sleeps on the camera,
// restarted with the remaining time when a signal interrupts them. Every object that pauses
// holds a sleeper by value and is given it at construction, so a test can hand in one that
// records the pauses instead of spending them, while production code always gets the real
// one by default.
//
//   linux_helper::sleeper pause;              // the real sleep
//   pause(std::chrono::milliseconds(200));
//
//   std::vector<std::chrono::milliseconds> seen;
//   linux_helper::sleeper fake([&](auto d) { seen.push_back(d); });

#include <chrono>
#include <functional>

namespace linux_helper {

class sleeper
{
public:
    using function = std::function<void(std::chrono::milliseconds)>;

    // The real sleep.
    sleeper() = default;
    // Sleeps through f instead; an empty f means the real sleep.
    explicit sleeper(function f) : f_(std::move(f)) {}

    // A duration of zero or less returns at once without calling anything.
    void operator()(std::chrono::milliseconds duration) const;

    bool is_real() const noexcept { return !f_; }

    // nanosleep, restarted with the remaining time after EINTR.
    static void real_sleep(std::chrono::milliseconds duration);

private:
    function f_;
};

} // namespace linux_helper
