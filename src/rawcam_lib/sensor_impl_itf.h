#pragma once

// The contract between a sensor driver and the rest of the camera library.

#include "camera_types.h"
#include "csi_settings.h"
#include "result.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

namespace korsa_cam {

// What a driver needs from its connection.
struct sensor_config
{
    int sensor_clock = 0;     // 0 = 24 MHz, 1 = 27 MHz, 2 = 37.125 MHz
    int num_output_lanes = 2; // CSI-2 data lanes the sensor drives: 1, 2 or 4
};

namespace sensor {

// Drivers, connection wrappers and the property handler all derive virtually from this, so
// one object reached as a sensor or as a handler has a single set of operations.
class sensor_impl_itf
{
public:
    virtual ~sensor_impl_itf() = default;

    virtual sensor_config get_connection_config() = 0;
    virtual std::vector<stream_type_desc> get_available_format_list() = 0;
    virtual framerate_data get_available_fps_list(img::img_type type) = 0;
    virtual result<mmal::pi::csi_settings> setup_format(img::img_type type, double fps) = 0;
    virtual std::error_code start_stream() = 0;
    virtual std::error_code stop_stream() = 0;

    virtual std::error_code sensor_register_write(uint32_t address,
                                                  std::span<const uint8_t> data) = 0;
    virtual std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) = 0;

    virtual std::vector<property_desc> get_property_list() = 0;
    virtual result<property_range> get_property_range(std::string_view name) = 0;
    virtual result<prop_values> get_property(std::string_view name) = 0;
    virtual std::error_code set_property(std::string_view name, prop_values value) = 0;

    virtual bool test_reachable() = 0;
};

} // namespace sensor
} // namespace korsa_cam
