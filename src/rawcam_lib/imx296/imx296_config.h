#pragma once

// The IMX296 and the IMX297 as the sensor base sees them. They share one driver, which tells
// them apart by model_number. The format lists are empty here: the driver puts in the colour
// or the monochrome list of the model when it constructs the base.

#include "common/sensor_base_config.h"

namespace korsa_cam::sensor {

inline const sensor_base_config imx296_config{
    .i2c_address = 0x1A,
    .model_number = 296,
    .connection = {.sensor_clock = 2 /* 37.125 MHz */, .num_output_lanes = 1},
    .lane_bandwidth = 0,
    .rx_termination = false,
    .reg_hold_address = 0x3008,
    .registers_little_endian = true,
    .formats = {},
    .offset_step_x = 4,
    .offset_step_y = 2,
    .exposure_min = 0.0001,
    .exposure_max = 1.0,
    .exposure_default = 1.0 / 133,
    .has_flip_x = false,
    .has_flip_y = false,
    .flip_inverted = false,
};

inline const sensor_base_config imx297_config{
    .i2c_address = 0x1A,
    .model_number = 297,
    .connection = {.sensor_clock = 2 /* 37.125 MHz */, .num_output_lanes = 1},
    .lane_bandwidth = 0,
    .rx_termination = false,
    .reg_hold_address = 0x3008,
    .registers_little_endian = true,
    .formats = {},
    .offset_step_x = 4,
    .offset_step_y = 2,
    .exposure_min = 0.0001,
    .exposure_max = 1.0,
    .exposure_default = 1.0 / 120,
    .has_flip_x = false,
    .has_flip_y = false,
    .flip_inverted = false,
};

} // namespace korsa_cam::sensor
