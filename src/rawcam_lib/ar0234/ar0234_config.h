#pragma once

// The AR0234 as the sensor base sees it. Its lane count and lane bandwidth depend on what
// the connection allows, so the record is completed at creation: ar0234_base_config holds
// the fixed fields, and make_ar0234_config fills in connection.num_output_lanes and
// lane_bandwidth (both 0 in the base record).

#include "common/sensor_base_config.h"

namespace korsa_cam::sensor {

inline const sensor_base_config ar0234_base_config{
    .i2c_address = 0x10,
    .model_number = 234,
    .connection = {.sensor_clock = 1 /* 27 MHz */, .num_output_lanes = 0 /* at creation */},
    .lane_bandwidth = 0, // at creation
    .rx_termination = true,
    .reg_hold_address = 0, // 16-bit registers with a grouped hold of their own
    .registers_little_endian = true,
    .formats =
        {
            {.type = img::fcc::GRAP,
             .dim_min = {256, 128},
             .dim_max = {1920, 1200},
             .dim_step = {16, 4}},
        },
    .offset_step_x = 2,
    .offset_step_y = 2,
    .exposure_min = 0.0001,
    .exposure_max = 0.25,
    .exposure_default = 1.0 / 120,
    .has_flip_x = false,
    .has_flip_y = false,
    .flip_inverted = false,
};

// The record for a connection with this many lanes at this bit rate per lane.
inline sensor_base_config make_ar0234_config(int lanes, int lane_bandwidth)
{
    sensor_base_config c = ar0234_base_config;
    c.connection.num_output_lanes = lanes;
    c.lane_bandwidth = lane_bandwidth;
    return c;
}

} // namespace korsa_cam::sensor
