#pragma once

// Test scaffolding: registries that are complete sensors, so the property operations can be
// exercised without any hardware.

#include "chained_property_handler.h"
#include "null_sensor.h"
#include "property_handler.h"
#include "sensor_impl_itf.h"

#include <string>
#include <vector>

namespace korsa_test {

using no_hardware_ops = test_support::null_sensor_hardware;

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
