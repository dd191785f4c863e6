// Every field of every model's record, against the data-sheet table they were written from.

#include "ar0234/ar0234_config.h"
#include "imx290/imx290_config.h"
#include "imx296/imx296_config.h"
#include "imx335/imx335_config.h"
#include "imx390/imx390_config.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using korsa_cam::stream_type_desc;
using korsa_cam::sensor::sensor_base_config;

struct row
{
    const char* model;
    const sensor_base_config* config;
    unsigned i2c_address;
    int model_number;
    int sensor_clock;
    int lanes;
    int lane_bandwidth;
    bool rx_termination;
    unsigned hold;
    int step_x;
    int step_y;
    double exposure_max;
    double exposure_default;
    bool flip_x;
    bool flip_y;
    bool flip_inverted;
    std::size_t formats;
};

TEST(SensorConfigs, EveryFieldOfEveryModel)
{
    // The AR0234 row as its creation function completes it for a 2-lane, 800 Mbit/s link.
    const auto ar0234 = korsa_cam::sensor::make_ar0234_config(2, 800000000);
    using namespace korsa_cam::sensor;
    const row rows[] = {
        {"IMX290", &imx290_config, 0x1A, 290, 2, 2, 0, true, 0x3001, 4, 2, 1.0, 1.0 / 120, true,
         true, false, 0},
        {"IMX296", &imx296_config, 0x1A, 296, 2, 1, 0, false, 0x3008, 4, 2, 1.0, 1.0 / 133, false,
         false, false, 0},
        {"IMX297", &imx297_config, 0x1A, 297, 2, 1, 0, false, 0x3008, 4, 2, 1.0, 1.0 / 120, false,
         false, false, 0},
        {"IMX335", &imx335_config, 0x1A, 335, 0, 2, 0, true, 0x3001, 12, 2, 1.0, 1.0 / 120, true,
         true, true, 0},
        {"IMX390", &imx390_config, 0x21, 290, 1, 4, 0, false, 0x0008, 2, 2, 1.0, 1.0 / 120, true,
         true, false, 2},
        {"AR0234", &ar0234, 0x10, 234, 1, 2, 800000000, true, 0, 2, 2, 0.25, 1.0 / 120, false,
         false, false, 1},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.model);
        const auto& c = *r.config;
        EXPECT_EQ(c.i2c_address, r.i2c_address);
        EXPECT_EQ(c.model_number, r.model_number);
        EXPECT_EQ(c.connection.sensor_clock, r.sensor_clock);
        EXPECT_EQ(c.connection.num_output_lanes, r.lanes);
        EXPECT_EQ(c.lane_bandwidth, r.lane_bandwidth);
        EXPECT_EQ(c.rx_termination, r.rx_termination);
        EXPECT_EQ(c.reg_hold_address, r.hold);
        EXPECT_TRUE(c.registers_little_endian);
        EXPECT_EQ(c.offset_step_x, r.step_x);
        EXPECT_EQ(c.offset_step_y, r.step_y);
        EXPECT_EQ(c.exposure_min, 0.0001);
        EXPECT_EQ(c.exposure_max, r.exposure_max);
        EXPECT_EQ(c.exposure_default, r.exposure_default);
        EXPECT_EQ(c.has_flip_x, r.flip_x);
        EXPECT_EQ(c.has_flip_y, r.flip_y);
        EXPECT_EQ(c.flip_inverted, r.flip_inverted);
        EXPECT_EQ(c.formats.size(), r.formats);
    }
    // The stored defaults are exactly these doubles.
    EXPECT_EQ(imx290_config.exposure_default, 0.008333333333333333);
    EXPECT_EQ(imx296_config.exposure_default, 0.007518796992481203);
}

TEST(SensorConfigs, FormatsHeldByTheRecordsThemselves)
{
    using namespace korsa_cam::sensor;
    auto same = [](const stream_type_desc& f, img::fourcc fcc, img::dim min, img::dim max) {
        return f.type == fcc && f.dim_min == min && f.dim_max == max &&
               f.dim_step == img::dim{16, 4};
    };
    ASSERT_EQ(imx390_config.formats.size(), 2u);
    EXPECT_TRUE(same(imx390_config.formats[0], img::fcc::RGDP, {336, 256}, {1920, 1080}));
    EXPECT_TRUE(same(imx390_config.formats[1], img::fcc::PWL1, {336, 256}, {1920, 1080}));
    ASSERT_EQ(ar0234_base_config.formats.size(), 1u);
    EXPECT_TRUE(same(ar0234_base_config.formats[0], img::fcc::GRAP, {256, 128}, {1920, 1200}));
    // The base record leaves the connection-dependent fields for creation.
    EXPECT_EQ(ar0234_base_config.connection.num_output_lanes, 0);
    EXPECT_EQ(ar0234_base_config.lane_bandwidth, 0);
    const auto four = make_ar0234_config(4, 1500000000);
    EXPECT_EQ(four.connection.num_output_lanes, 4);
    EXPECT_EQ(four.lane_bandwidth, 1500000000);
    EXPECT_EQ(four.formats.size(), 1u);
}

} // namespace
