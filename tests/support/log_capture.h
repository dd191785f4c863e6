#pragma once

// Swaps the library logger for one that records every line while the object lives, so a
// test can check what the camera library said, at which level and from which file and
// function. Shared by every test program; needs nothing but spdlog.

#include "library_logger.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace test_support {

struct log_record
{
    spdlog::level::level_enum level;
    std::string text;
    std::string file;     // source location as the library reports it ("src/...")
    std::string function; // function name of the log statement
};

class log_capture
{
public:
    log_capture() : sink_(std::make_shared<sink>())
    {
        auto& ref = gstlog::get_gst_log_ref();
        previous_ = ref;
        auto logger = std::make_shared<spdlog::logger>("test-capture", sink_);
        logger->set_level(spdlog::level::trace);
        ref = std::move(logger);
    }
    ~log_capture() { gstlog::get_gst_log_ref() = previous_; }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<log_record> records() const
    {
        std::lock_guard lock(sink_->records_mutex);
        return sink_->records;
    }

    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (auto& r : records())
        {
            out.push_back(r.text);
        }
        return out;
    }

    // Records whose text starts with prefix.
    std::vector<log_record> starting_with(const std::string& prefix) const
    {
        std::vector<log_record> out;
        for (auto& r : records())
        {
            if (r.text.rfind(prefix, 0) == 0)
            {
                out.push_back(r);
            }
        }
        return out;
    }

    std::vector<std::string> lines_starting_with(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (auto& r : starting_with(prefix))
        {
            out.push_back(r.text);
        }
        return out;
    }

    // Records at exactly this level.
    std::vector<log_record> at_level(spdlog::level::level_enum level) const
    {
        std::vector<log_record> out;
        for (auto& r : records())
        {
            if (r.level == level)
            {
                out.push_back(r);
            }
        }
        return out;
    }

    bool has(spdlog::level::level_enum level, const std::string& text) const
    {
        for (auto& r : records())
        {
            if (r.level == level && r.text == text)
            {
                return true;
            }
        }
        return false;
    }

    // Waits until `n` lines starting with `prefix` have been logged (from any thread); false
    // if that does not happen within a generous bound, so a fault fails instead of hanging.
    bool wait_for_lines_starting_with(const std::string& prefix, std::size_t n) const
    {
        std::unique_lock lock(sink_->records_mutex);
        return sink_->added.wait_for(lock, std::chrono::seconds(30), [&] {
            std::size_t found = 0;
            for (const auto& r : sink_->records)
            {
                if (r.text.rfind(prefix, 0) == 0)
                {
                    ++found;
                }
            }
            return found >= n;
        });
    }

    void clear()
    {
        std::lock_guard lock(sink_->records_mutex);
        sink_->records.clear();
    }

private:
    struct sink : spdlog::sinks::base_sink<std::mutex>
    {
        void sink_it_(const spdlog::details::log_msg& msg) override
        {
            std::lock_guard lock(records_mutex);
            records.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size()),
                               msg.source.filename != nullptr ? msg.source.filename : "",
                               msg.source.funcname != nullptr ? msg.source.funcname : ""});
            added.notify_all();
        }
        void flush_() override {}

        mutable std::mutex records_mutex;      // guards records; nothing is called while held
        mutable std::condition_variable added; // a record was appended
        std::vector<log_record> records;
    };

    std::shared_ptr<sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

} // namespace test_support
