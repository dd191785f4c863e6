#include "gstlog.h"

#include <spdlog/spdlog.h>

#include <string>

namespace gstlog {

GstDebugLevel gst_sink::map_level(spdlog::level::level_enum level) noexcept
{
    switch (level)
    {
    case spdlog::level::trace:
        return GST_LEVEL_TRACE;
    case spdlog::level::debug:
        return GST_LEVEL_DEBUG;
    case spdlog::level::info:
        return GST_LEVEL_INFO;
    case spdlog::level::warn:
        return GST_LEVEL_WARNING;
    case spdlog::level::err:
        return GST_LEVEL_ERROR;
    case spdlog::level::critical:
        // Critical library messages are things that need fixing, not stream errors.
        return GST_LEVEL_FIXME;
    case spdlog::level::off:
        return GST_LEVEL_NONE;
    default:
        return GST_LEVEL_ERROR;
    }
}

void gst_sink::sink_it_(const spdlog::details::log_msg& msg)
{
    const std::string text(msg.payload.data(), msg.payload.size());
    const GstDebugLevel level = map_level(msg.level);

    if (msg.source.filename != nullptr && msg.source.filename[0] != '\0')
    {
        gst_debug_log(category_, level, msg.source.filename,
                      msg.source.funcname != nullptr ? msg.source.funcname : "", msg.source.line,
                      nullptr, "%s", text.c_str());
    }
    else if (gst_debug_get_default_threshold() >= level)
    {
        gst_debug_log(category_, level, "lib/helper/src/helper/gstlog", "sink_it_", 42, nullptr,
                      "%s", text.c_str());
    }
}

std::shared_ptr<gst_sink> create_gst_sink(GstDebugCategory* category)
{
    return std::make_shared<gst_sink>(category);
}

void setup_gst_logging(GstDebugCategory* category)
{
    auto logger = std::make_shared<spdlog::logger>("gst-sink", create_gst_sink(category));
    spdlog::initialize_logger(logger);
    get_gst_log_ref() = std::move(logger);
}

} // namespace gstlog
