#pragma once

// The one logger the camera library writes to. Free of GStreamer on purpose: the camera
// library and the capture library build and run with spdlog alone, and only the plug-in
// routes this logger into its debug category (gstlog.h).

#include <spdlog/logger.h>

#include <memory>

namespace gstlog {

// The library logger (empty until set up or first used). Tests swap it for a capturing one.
std::shared_ptr<spdlog::logger>& get_gst_log_ref();

// The library logger; falls back to spdlog's default logger while nothing was set up.
spdlog::logger* default_gst_logger_raw();

} // namespace gstlog
