#include "camera_bind.h"

#include "log.h"
#include "pi_cam_factory.h"
#include "virt_camera.h"

namespace gst_korsa {
namespace {

constexpr const char* virtual_serial = "virt";

} // namespace

std::string get_default_device_id()
{
    return {};
}

korsa_cam::result<korsa_cam::camera_create_info> create_camera_object(const std::string& serial)
{
    if (serial == virtual_serial)
    {
        KLOG_DEBUG("opening a virtual camera");
        return korsa_cam::camera_create_info{create_virt_cam(), virtual_serial};
    }
    return korsa_cam::create_camera_object(serial);
}

} // namespace gst_korsa
