#pragma once

// What the sensor base needs to know about one sensor model. Every model keeps one constant
// record of it in its own folder (imx290/imx290_config.h, ...), written with designated
// initialisers so that the record reads like a row of a data sheet.

#include "camera_types.h"
#include "sensor_impl_itf.h"

#include <cstdint>
#include <vector>

namespace korsa_cam::sensor {

struct sensor_base_config
{
    uint8_t i2c_address = 0; // 7-bit
    int model_number = 0;    // tells models apart that share one driver
    sensor_config connection;
    int lane_bandwidth = 0;        // CSI-2 bits per second per lane the connection allows
    bool rx_termination = false;   // the receiver overrides its line termination
    uint16_t reg_hold_address = 0; // 0: no register hold
    bool registers_little_endian = true;
    // Empty in the records of models with a colour and a monochrome variant: their drivers
    // put the list of the variant in when they construct the base.
    std::vector<stream_type_desc> formats;
    int offset_step_x = 1;     // pixels
    int offset_step_y = 1;     // lines
    double exposure_min = 0.0; // seconds
    double exposure_max = 0.0;
    double exposure_default = 0.0;
    bool has_flip_x = false;
    bool has_flip_y = false;
    // The sensor is mounted so that its flip bits must be set for an upright, unmirrored
    // image; every flip request is XORed with this before it reaches the driver.
    bool flip_inverted = false;
};

} // namespace korsa_cam::sensor
