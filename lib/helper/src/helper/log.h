#pragma once

// Logging front end of the camera library. Every statement goes through the one library
// logger (gstlog::default_gst_logger_raw) and carries its source location as a path from
// the innermost "src/" folder without extension, e.g. "src/rawcam_lib/i2c_com", so that a
// line in the GStreamer debug log points at the library file that wrote it.

#include "library_logger.h"

#include <spdlog/spdlog.h>

#include <array>
#include <cstddef>

namespace gstlog::detail {

template <std::size_t N>
struct log_path
{
    std::array<char, N> text{};
};

// Turns __FILE__ into the reported location at compile time.
template <std::size_t N>
constexpr log_path<N> make_log_path(const char (&file)[N])
{
    std::size_t len = N - 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 4 <= len; ++i)
    {
        if (file[i] == 's' && file[i + 1] == 'r' && file[i + 2] == 'c' && file[i + 3] == '/' &&
            (i == 0 || file[i - 1] == '/'))
        {
            start = i;
        }
    }
    std::size_t end = len;
    for (std::size_t i = len; i > start; --i)
    {
        if (file[i - 1] == '/')
        {
            break;
        }
        if (file[i - 1] == '.')
        {
            end = i - 1;
            break;
        }
    }
    log_path<N> out{};
    for (std::size_t i = start; i < end; ++i)
    {
        out.text[i - start] = file[i];
    }
    return out;
}

} // namespace gstlog::detail

#define KORSA_LOG_FILE_                                                                            \
    ([]() -> const char* {                                                                         \
        static constexpr auto korsa_log_path_ = ::gstlog::detail::make_log_path(__FILE__);         \
        return korsa_log_path_.text.data();                                                        \
    }())

#define KORSA_LOG_(lvl, ...)                                                                       \
    ::gstlog::default_gst_logger_raw()->log(                                                       \
        ::spdlog::source_loc{KORSA_LOG_FILE_, __LINE__, static_cast<const char*>(__func__)}, lvl,  \
        __VA_ARGS__)

#define KLOG_TRACE(...) KORSA_LOG_(::spdlog::level::trace, __VA_ARGS__)
#define KLOG_DEBUG(...) KORSA_LOG_(::spdlog::level::debug, __VA_ARGS__)
#define KLOG_INFO(...) KORSA_LOG_(::spdlog::level::info, __VA_ARGS__)
#define KLOG_WARN(...) KORSA_LOG_(::spdlog::level::warn, __VA_ARGS__)
#define KLOG_ERROR(...) KORSA_LOG_(::spdlog::level::err, __VA_ARGS__)
#define KLOG_CRITICAL(...) KORSA_LOG_(::spdlog::level::critical, __VA_ARGS__)
