#pragma once

// Shared pieces of the sensor tests: a freshly powered IMX290 board for every test, a sleeper
// that records the pauses where they fall in the trace, and short names for the trace helpers.

#include "korsa_sim/board_sim.hpp"
#include "log_capture.h"
#include "recording_sleeper.h"
#include "register_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sensor_test {

constexpr int bus = 10;
constexpr int sensor_address = 0x1A;
constexpr uint16_t hold_register = 0x3001;

// A shipped board file: they all sit beside the one KORSA_SIM_BOARD names.
inline std::string shipped_board(const std::string& name)
{
    const char* current = std::getenv("KORSA_SIM_BOARD");
    std::string dir = current != nullptr ? current : "";
    const auto slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    return dir + "/" + name;
}

// Every test starts on a freshly loaded IMX290 board with an empty trace.
class board_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-direct.board").c_str()), 0)
            << "the simulated board library must be preloaded and KORSA_SIM_BOARD set";
        korsa_sim_trace_clear();
    }
    void TearDown() override { korsa_sim_clear_faults(); }

    std::vector<test_support::register_write> sensor_writes() const
    {
        return test_support::register_writes(bus, sensor_address);
    }
    std::vector<test_support::register_read> sensor_reads() const
    {
        return test_support::register_reads(bus, sensor_address);
    }
    static int chip_reg(unsigned r) { return korsa_sim::reg(bus, sensor_address, r); }

    test_support::recording_sleeper pauses_{[] { return korsa_sim_trace_size(); }};
};

} // namespace sensor_test
