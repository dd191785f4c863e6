#pragma once

// Collects what the library logs while it lives.

#include "gstlog.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace device_test {

class log_capture
{
public:
    log_capture() : sink_(std::make_shared<sink>())
    {
        previous_ = gstlog::get_gst_log_ref();
        auto logger = std::make_shared<spdlog::logger>("device-test", sink_);
        logger->set_level(spdlog::level::trace);
        gstlog::get_gst_log_ref() = logger;
    }
    ~log_capture() { gstlog::get_gst_log_ref() = previous_; }

    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<std::string> lines() const
    {
        std::lock_guard lock(sink_->lines_mutex);
        return sink_->lines;
    }

    std::vector<std::string> lines_starting_with(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const auto& l : lines())
        {
            if (l.rfind(prefix, 0) == 0)
            {
                out.push_back(l);
            }
        }
        return out;
    }

    // Waits until `n` lines starting with `prefix` have been logged (from any thread); false
    // if that does not happen within a generous bound.
    bool wait_for_lines_starting_with(const std::string& prefix, std::size_t n) const
    {
        std::unique_lock lock(sink_->lines_mutex);
        return sink_->added.wait_for(lock, std::chrono::seconds(30), [&] {
            std::size_t found = 0;
            for (const auto& l : sink_->lines)
            {
                found += l.rfind(prefix, 0) == 0 ? 1 : 0;
            }
            return found >= n;
        });
    }

private:
    struct sink : spdlog::sinks::base_sink<std::mutex>
    {
        void sink_it_(const spdlog::details::log_msg& msg) override
        {
            std::lock_guard lock(lines_mutex);
            lines.emplace_back(msg.payload.data(), msg.payload.size());
            added.notify_all();
        }
        void flush_() override {}

        mutable std::mutex lines_mutex;
        mutable std::condition_variable added;
        std::vector<std::string> lines;
    };

    std::shared_ptr<sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

} // namespace device_test
