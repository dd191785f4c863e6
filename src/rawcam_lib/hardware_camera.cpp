#include "hardware_camera.h"

#include "log.h"

namespace korsa_cam {

result<camera_create_info> open_hardware_camera(const std::string& serial)
{
    KLOG_INFO("no hardware camera support in this build; cannot open serial '{}'", serial);
    return std::make_error_code(std::errc::no_such_device);
}

} // namespace korsa_cam
