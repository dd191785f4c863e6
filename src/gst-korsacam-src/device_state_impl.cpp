#include "device_state_impl.h"

#include <cstdlib>

namespace gst_korsa
{

bool read_env_switch(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
    {
        return false;
    }
    return std::strtol(value, nullptr, 10) != 0;
}

device_state::device_state()
    : debug_properties_enabled(read_env_switch("VELA_ENABLE_DEBUG_PROPERTIES"))
{
}

device_state::~device_state()
{
    close();
}

std::error_code device_state::open(const std::string& /*serial*/)
{
    close();
    // No camera backend is built in yet.
    return std::make_error_code(std::errc::no_such_device);
}

void device_state::close()
{
    camera.reset();
    serial.clear();
}

std::string device_state::get_device_name()
{
    return camera ? camera->get_device_info().name : std::string();
}

std::vector<korsa_cam::stream_type_desc> device_state::get_available_stream_types()
{
    return camera ? camera->get_available_stream_types()
                  : std::vector<korsa_cam::stream_type_desc>{};
}

int device_state::sensor_debug_get(int address)
{
    if (!camera)
    {
        return -1;
    }
    std::byte value{0};
    std::span<std::byte> data(&value, 1);
    if (camera->read_register(static_cast<uint32_t>(address), data))
    {
        return -1;
    }
    return static_cast<int>(std::to_integer<uint8_t>(value));
}

std::error_code device_state::sensor_debug_set(int address, int value)
{
    if (!camera)
    {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    const std::byte byte{static_cast<uint8_t>(value & 0xFF)};
    return camera->write_register(static_cast<uint32_t>(address),
                                  std::span<const std::byte>(&byte, 1));
}

} // namespace gst_korsa
