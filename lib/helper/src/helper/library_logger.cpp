#include "library_logger.h"

#include <spdlog/spdlog.h>

namespace gstlog {

std::shared_ptr<spdlog::logger>& get_gst_log_ref()
{
    static std::shared_ptr<spdlog::logger> logger;
    return logger;
}

spdlog::logger* default_gst_logger_raw()
{
    auto& ref = get_gst_log_ref();
    if (!ref)
    {
        ref = spdlog::default_logger();
    }
    return ref.get();
}

} // namespace gstlog
