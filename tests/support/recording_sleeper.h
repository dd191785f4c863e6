#pragma once

// A sleeper that spends no time: it records each pause it is asked for, together with the
// number of bus transactions the simulated board had traced by then (when a board is in the
// process), so a test can check both the mandated pauses and where they fall in the traffic.

#include "sleeper.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace test_support {

struct recorded_pause
{
    std::chrono::milliseconds duration;
    std::size_t trace_position; // trace records seen before the pause (0 without a board)
};

class recording_sleeper
{
public:
    // trace_size tells the current trace length; empty: positions stay 0.
    explicit recording_sleeper(std::function<std::size_t()> trace_size = {})
        : state_(std::make_shared<state>())
    {
        state_->trace_size = std::move(trace_size);
    }

    // The sleeper to hand to the code under test; it shares this object's record.
    linux_helper::sleeper get() const
    {
        auto s = state_;
        return linux_helper::sleeper([s](std::chrono::milliseconds d) {
            const std::size_t pos = s->trace_size ? s->trace_size() : 0;
            std::lock_guard lock(s->mutex);
            s->pauses.push_back({d, pos});
        });
    }

    std::vector<recorded_pause> pauses() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->pauses;
    }

    std::chrono::milliseconds total() const
    {
        std::chrono::milliseconds sum{0};
        for (auto& p : pauses())
        {
            sum += p.duration;
        }
        return sum;
    }

    void clear()
    {
        std::lock_guard lock(state_->mutex);
        state_->pauses.clear();
    }

private:
    struct state
    {
        std::mutex mutex; // guards pauses; nothing is called while held
        std::vector<recorded_pause> pauses;
        std::function<std::size_t()> trace_size;
    };
    std::shared_ptr<state> state_;
};

} // namespace test_support
