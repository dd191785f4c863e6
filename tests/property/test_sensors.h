#pragma once

// Test scaffolding: registries that are complete sensors, so the property operations can be
// exercised without any hardware.

#include "chained_property_handler.h"
#include "property_handler.h"
#include "sensor_impl_itf.h"

#include <span>
#include <string>
#include <vector>

namespace korsa_test {

// Answers every sensor operation that is not about properties with a harmless value.
class no_hardware_ops : public virtual korsa_cam::sensor::sensor_impl_itf
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

class test_registry final : public no_hardware_ops, public korsa_cam::property_handler
{};

class test_chain final : public no_hardware_ops, public korsa_cam::chained_property_handler
{
public:
    explicit test_chain(korsa_cam::sensor::sensor_impl_itf& next) : chained_property_handler(next)
    {}
};

inline std::vector<std::string> names_of(const std::vector<korsa_cam::property_desc>& list)
{
    std::vector<std::string> names;
    for (const auto& d : list)
    {
        names.push_back(d.name);
    }
    return names;
}

inline std::error_code einval()
{
    return std::make_error_code(std::errc::invalid_argument);
}

} // namespace korsa_test
