#pragma once

// Status codes of the camera library and their error category "KORSA Error".

#include <string>
#include <system_error>

namespace korsa_cam {

enum class status : int
{
    success = 0,
    i2c_bus_open_failed = 1,
    i2c_device_not_found = 2,
    eeprom_data_invalid = 3,
    fpd_deserializer_open_failed = 4,
    fpd_serializer_open_failed = 5,
    gpio_chip_unidentified = 6,
    camera_in_use = 7,
    stream_caps_unavailable = 8,
    i2c_access_failed = 9,
    unknown_sensor_type = 10,
    no_device_on_i2c_bus = 11,
    invalid_property_value = 12,
};

class korsa_cam_error_category final : public std::error_category
{
public:
    const char* name() const noexcept override;
    std::string message(int value) const override;
    std::error_condition default_error_condition(int value) const noexcept override;
};

const std::error_category& error_category() noexcept;

std::error_code make_error_code(status s) noexcept;

} // namespace korsa_cam

template <>
struct std::is_error_code_enum<korsa_cam::status> : std::true_type
{};
