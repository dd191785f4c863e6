#include "rawcam_error.h"

#include <array>
#include <cerrno>

namespace korsa_cam {
namespace {

struct status_text
{
    const char* message;
    int generic_condition;
};

constexpr std::array<status_text, 13> status_table = {{
    {"Success", 0},
    {"Failed to open i2c bus device handle", ECONNREFUSED},
    {"Failed to find i2c device at address", ENOTCONN},
    {"Invalid data present in sensor EEPROM", EPROTO},
    {"Failed to open fpd-link deserializer", ENOENT},
    {"Failed to open fpd-link serializer, no camera connected?", ENOENT},
    {"Failed to identify gpio chip on sensor board", ENOENT},
    {"Another process already uses the camera", EACCES},
    {"Failed to fetch streaming caps from camera", EBADF},
    {"Failed to access i2c bus", ECONNABORTED},
    {"Unknown sensor type encountered", ECONNREFUSED},
    {"Failed to find a device on the i2c bus", ECONNREFUSED},
    {"Invalid property value specified", EINVAL},
}};

bool is_known(int value) noexcept
{
    return value >= 0 && value < static_cast<int>(status_table.size());
}

} // namespace

const char* korsa_cam_error_category::name() const noexcept
{
    return "KORSA Error";
}

std::string korsa_cam_error_category::message(int value) const
{
    return is_known(value) ? status_table[value].message : "Unknown Error";
}

std::error_condition korsa_cam_error_category::default_error_condition(int value) const noexcept
{
    if (!is_known(value))
    {
        return std::error_condition(value, *this);
    }
    return std::error_condition(status_table[value].generic_condition, std::generic_category());
}

const std::error_category& error_category() noexcept
{
    static const korsa_cam_error_category category;
    return category;
}

std::error_code make_error_code(status s) noexcept
{
    return std::error_code(static_cast<int>(s), error_category());
}

} // namespace korsa_cam
