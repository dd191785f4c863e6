#pragma once

// Routes the camera library's spdlog output into the element's GStreamer debug category.
// Only the plug-in links this; the library itself logs through library_logger.h.

#include "library_logger.h"

#include <gst/gst.h>
#include <spdlog/details/null_mutex.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <memory>

namespace gstlog {

// Writes the bare message text of each record into one GStreamer debug category.
class gst_sink : public spdlog::sinks::base_sink<spdlog::details::null_mutex>
{
public:
    explicit gst_sink(GstDebugCategory* category) : category_(category) {}

    static GstDebugLevel map_level(spdlog::level::level_enum level) noexcept;

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override {}

private:
    GstDebugCategory* category_;
};

std::shared_ptr<gst_sink> create_gst_sink(GstDebugCategory* category);

// Installs a logger named "gst-sink" that writes into category as the library logger.
void setup_gst_logging(GstDebugCategory* category);

} // namespace gstlog
