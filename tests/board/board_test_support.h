#pragma once

// Shared pieces of the board tests: board files, a captured library log, raw i2c-dev calls.

#include "korsa_sim/board_sim.hpp"
#include "log.h"

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

struct log_record
{
    spdlog::level::level_enum level;
    std::string text;
    std::string file;
    std::string function;
};

// Captures the library log while alive.
class log_capture
{
public:
    log_capture()
    {
        sink_ = std::make_shared<sink>();
        auto logger = std::make_shared<spdlog::logger>("board-test", sink_);
        logger->set_level(spdlog::level::trace);
        previous_ = gstlog::get_gst_log_ref();
        gstlog::get_gst_log_ref() = logger;
    }
    ~log_capture() { gstlog::get_gst_log_ref() = previous_; }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<log_record> records() const
    {
        std::lock_guard lock(sink_->records_mutex);
        return sink_->records;
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
        }
        void flush_() override {}
        mutable std::mutex records_mutex;
        std::vector<log_record> records;
    };

    std::shared_ptr<sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

// Every test of these suites needs the simulator in the process.
inline void require_simulator()
{
    ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-direct.board").c_str()), 0)
        << "the simulated board library must be preloaded and KORSA_SIM_BOARD set";
}

} // namespace board_test
