#pragma once

// The one null sensor the tests derive their doubles from: every sensor operation answers
// with a harmless value (no formats, no rates, register access refused with the generic
// error 99, every property name unknown), so a double overrides only what its test is about.
// null_sensor_hardware leaves the four property operations open, for doubles that take them
// from a property_handler.

#include "sensor_impl_itf.h"

#include <span>
#include <system_error>
#include <vector>

namespace test_support {

class null_sensor_hardware : public virtual korsa_cam::sensor::sensor_impl_itf
{
public:
    korsa_cam::sensor_config get_connection_config() override { return {}; }
    std::vector<korsa_cam::stream_type_desc> get_available_format_list() override { return {}; }
    korsa_cam::framerate_data get_available_fps_list(img::img_type) override { return {}; }
    korsa_cam::result<mmal::pi::csi_settings> setup_format(img::img_type, double) override
    {
        return std::make_error_code(std::errc::not_supported);
    }
    std::error_code start_stream() override { return {}; }
    std::error_code stop_stream() override { return {}; }
    std::error_code sensor_register_write(uint32_t, std::span<const uint8_t>) override
    {
        return std::make_error_code(std::errc::address_not_available);
    }
    std::error_code sensor_register_read(uint32_t, std::span<uint8_t>&) override
    {
        return std::make_error_code(std::errc::address_not_available);
    }
    bool test_reachable() override { return true; }
};

class null_sensor : public null_sensor_hardware
{
public:
    std::vector<korsa_cam::property_desc> get_property_list() override { return {}; }
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view) override
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view) override
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::error_code set_property(std::string_view, korsa_cam::prop_values) override
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
};

} // namespace test_support
