#pragma once

// The IMX290 as the sensor base sees it. The format list is empty here: the driver puts in
// the colour or the monochrome list when it constructs the base.

#include "common/sensor_base_config.h"

namespace korsa_cam::sensor {

inline const sensor_base_config imx290_config{
    .i2c_address = 0x1A,
    .model_number = 290,
    .connection = {.sensor_clock = 2 /* 37.125 MHz */, .num_output_lanes = 2},
    .lane_bandwidth = 0,
    .rx_termination = true,
    .reg_hold_address = 0x3001,
    .registers_little_endian = true,
    .formats = {},
    .offset_step_x = 4,
    .offset_step_y = 2,
    .exposure_min = 0.0001,
    .exposure_max = 1.0,
    .exposure_default = 1.0 / 120,
    .has_flip_x = true,
    .has_flip_y = true,
    .flip_inverted = false,
};

} // namespace korsa_cam::sensor
