#pragma once

// Shared helpers of the capture tests: a capture of the library log and a fixture that runs
// every test against the simulated layer in on-demand delivery and checks afterwards that
// every component, pool, header and VCSM block is gone and nothing was freed twice.

#include "gstlog.h"

#include "korsa_vc_sim/vc_sim_hooks.h"

#include <interface/mmal/util/mmal_util_params.h>

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mmal_test {

struct log_record
{
    spdlog::level::level_enum level;
    std::string text;
    std::string file;
};

class capture_sink : public spdlog::sinks::base_sink<std::mutex>
{
public:
    std::vector<log_record> records()
    {
        std::lock_guard lock(this->mutex_);
        return records_;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override
    {
        records_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size()),
                            msg.source.filename != nullptr ? msg.source.filename : ""});
    }
    void flush_() override {}

private:
    std::vector<log_record> records_;
};

// Replaces the library logger while alive.
class log_capture
{
public:
    log_capture() : sink_(std::make_shared<capture_sink>())
    {
        auto& ref = gstlog::get_gst_log_ref();
        previous_ = ref;
        ref = std::make_shared<spdlog::logger>("capture", sink_);
        ref->set_level(spdlog::level::trace);
    }
    ~log_capture() { gstlog::get_gst_log_ref() = previous_; }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    // Records whose text starts with prefix.
    std::vector<log_record> starting_with(const std::string& prefix) const
    {
        std::vector<log_record> out;
        for (auto& r : sink_->records())
        {
            if (r.text.rfind(prefix, 0) == 0)
            {
                out.push_back(r);
            }
        }
        return out;
    }
    bool has(spdlog::level::level_enum level, const std::string& text) const
    {
        for (auto& r : sink_->records())
        {
            if (r.level == level && r.text == text)
            {
                return true;
            }
        }
        return false;
    }

private:
    std::shared_ptr<capture_sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

inline korsa_vc_sim_stats sim_stats()
{
    korsa_vc_sim_stats s{};
    korsa_vc_sim_get_stats(&s);
    return s;
}

class sim_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        korsa_vc_sim_set_delivery_mode(KORSA_VC_SIM_DELIVERY_MANUAL);
        korsa_vc_sim_clear_failures();
        korsa_vc_sim_reset_counters();
        const auto s = sim_stats();
        ASSERT_EQ(s.live_components, 0u);
        ASSERT_EQ(s.live_vcsm_handles, 0u);
        baseline_queues_ = s.live_queues;
    }

    void TearDown() override
    {
        korsa_vc_sim_clear_failures();
        expect_nothing_left();
    }

    void expect_nothing_left()
    {
        const auto s = sim_stats();
        EXPECT_EQ(s.live_components, 0u);
        EXPECT_EQ(s.live_pools, 0u);
        EXPECT_EQ(s.live_headers, 0u);
        EXPECT_EQ(s.live_queues, baseline_queues_);
        EXPECT_EQ(s.live_vcsm_handles, 0u);
        EXPECT_EQ(s.vcsm_allocs, s.vcsm_frees);
        EXPECT_EQ(s.invalid_vcsm_frees, 0u);
        EXPECT_EQ(s.invalid_vcsm_unlocks, 0u);
        EXPECT_EQ(s.vcsm_freed_while_locked, 0u);
        EXPECT_EQ(s.invalid_header_releases, 0u);
        EXPECT_EQ(s.invalid_sends, 0u);
        EXPECT_EQ(s.headers_out_at_pool_destroy, 0u);
    }

    uint64_t baseline_queues_ = 0;
};

} // namespace mmal_test
