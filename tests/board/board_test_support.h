#pragma once

// Shared pieces of the board tests: board files, a captured library log, raw i2c-dev calls.

#include "korsa_sim/board_sim.hpp"
#include "log_capture.h"

#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace board_test {

// A shipped board file: they all sit beside the one KORSA_SIM_BOARD names.
inline std::string shipped_board(const std::string& name)
{
    const char* current = std::getenv("KORSA_SIM_BOARD");
    std::string dir = current != nullptr ? current : "";
    const auto slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    return dir + "/" + name;
}

// A board file written for one test, removed afterwards.
class temp_board_file
{
public:
    explicit temp_board_file(const std::string& text)
    {
        char tmpl[] = "/tmp/korsa-board-XXXXXX";
        const int fd = ::mkstemp(tmpl);
        path_ = tmpl;
        if (fd >= 0)
        {
            ::close(fd);
        }
        std::ofstream(path_) << text;
    }
    ~temp_board_file() { ::unlink(path_.c_str()); }
    temp_board_file(const temp_board_file&) = delete;
    temp_board_file& operator=(const temp_board_file&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Loads a board from text for the lifetime of the object.
class text_board
{
public:
    explicit text_board(const std::string& text) : file_(text), board_(file_.path()) {}
    bool ok() const { return board_.ok(); }

private:
    temp_board_file file_;
    korsa_sim::scoped_board board_;
};

using test_support::log_capture;
using test_support::log_record;

// Every test of these suites needs the simulator in the process.
inline void require_simulator()
{
    ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-direct.board").c_str()), 0)
        << "the simulated board library must be preloaded and KORSA_SIM_BOARD set";
}

} // namespace board_test
