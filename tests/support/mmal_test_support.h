#pragma once

// Shared helpers of the capture tests: a capture of the library log and a fixture that runs
// every test against the simulated layer in on-demand delivery and checks afterwards that
// every component, pool, header and VCSM block is gone and nothing was freed twice.

#include "log_capture.h"

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

using test_support::log_capture;
using test_support::log_record;

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
        korsa_vc_sim_set_flush_thread(KORSA_VC_SIM_FLUSH_ON_DISABLING_THREAD);
        korsa_vc_sim_set_disable_observer(nullptr, nullptr);
        korsa_vc_sim_clear_failures();
        korsa_vc_sim_reset_counters();
        const auto s = sim_stats();
        ASSERT_EQ(s.live_components, 0u);
        ASSERT_EQ(s.live_vcsm_handles, 0u);
        baseline_queues_ = s.live_queues;
    }

    void TearDown() override
    {
        korsa_vc_sim_set_disable_observer(nullptr, nullptr);
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
