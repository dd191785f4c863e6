#pragma once

// The IMX390 as the sensor base sees it. It has only a colour variant, so its two formats
// (linear and piecewise-linear HDR) are part of the record.

#include "common/sensor_base_config.h"

namespace korsa_cam::sensor {

inline const sensor_base_config imx390_config{
    .i2c_address = 0x21,
    // 290, not 390, is the value this record carries; only the IMX296/IMX297 driver reads the
    // field, so nothing depends on it here.
    .model_number = 290,
    .connection = {.sensor_clock = 1 /* 27 MHz */, .num_output_lanes = 4},
    .lane_bandwidth = 0,
    .rx_termination = false,
    .reg_hold_address = 0x0008,
    .registers_little_endian = true,
    .formats =
        {
            {.type = img::fcc::RGDP,
             .dim_min = {336, 256},
             .dim_max = {1920, 1080},
             .dim_step = {16, 4}},
            {.type = img::fcc::PWL1,
             .dim_min = {336, 256},
             .dim_max = {1920, 1080},
             .dim_step = {16, 4}},
        },
    .offset_step_x = 2,
    .offset_step_y = 2,
    .exposure_min = 0.0001,
    .exposure_max = 1.0,
    .exposure_default = 1.0 / 120,
    .has_flip_x = true,
    .has_flip_y = true,
    .flip_inverted = false,
};

} // namespace korsa_cam::sensor
