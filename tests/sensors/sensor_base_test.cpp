// The common sensor base: its properties, what it hands to the driver operations and the
// receiver settings it builds, with a driver that records every call.

#include "common/sensor_base.h"
#include "imx290/imx290_config.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <string>
#include <vector>

namespace {

using korsa_cam::prop_values;
using korsa_cam::stream_type_desc;
using korsa_cam::sensor::sensor_base;
using korsa_cam::sensor::sensor_base_config;
using sensor_test::bus;
using sensor_test::sensor_address;
using strings = std::vector<std::string>;

struct call
{
    std::string op;
    img::img_type type{};
    int x = 0;
    int y = 0;
    bool flip_x = false;
    bool flip_y = false;
    double fps = 0;
    double exposure = 0;
};

// The base under test with driver operations that only record.
class recording_driver final : public sensor_base
{
public:
    explicit recording_driver(sensor_base_config config, int on_bus = bus)
        : sensor_base(on_bus, std::move(config))
    {}

    korsa_cam::framerate_data get_available_fps_list(img::img_type) override { return {1, 60}; }
    std::error_code start_stream() override { return {}; }
    std::error_code stop_stream() override { return {}; }
    std::error_code sensor_register_write(uint32_t, std::span<const uint8_t>) override
    {
        return {};
    }
    std::error_code sensor_register_read(uint32_t, std::span<uint8_t>&) override { return {}; }

    std::error_code apply_exposure_now() { return apply_exposure(); }

    std::vector<call> calls;
    std::error_code init_result;
    std::error_code driver_result; // of the roi, position and exposure operations

protected:
    std::error_code configure_init() override
    {
        calls.push_back({.op = "init"});
        return init_result;
    }
    std::error_code configure_roi(const img::img_type& type, int x, int y, bool fx,
                                  bool fy) override
    {
        calls.push_back({.op = "roi", .type = type, .x = x, .y = y, .flip_x = fx, .flip_y = fy});
        return driver_result;
    }
    std::error_code configure_exposure_fps(const img::img_type& type, double fps,
                                           double exposure) override
    {
        calls.push_back({.op = "exposure", .type = type, .fps = fps, .exposure = exposure});
        return driver_result;
    }
    std::error_code configure_roi_position(int x, int y, bool fx, bool fy) override
    {
        calls.push_back({.op = "position", .x = x, .y = y, .flip_x = fx, .flip_y = fy});
        return driver_result;
    }
};

stream_type_desc range_format(img::fourcc fcc, img::dim min, img::dim max)
{
    return {.type = fcc, .dim_min = min, .dim_max = max, .dim_step = {16, 4}};
}

sensor_base_config imx290_like()
{
    return korsa_cam::sensor::with_formats(
        korsa_cam::sensor::imx290_config, {range_format(img::fcc::RGDP, {368, 304}, {1920, 1080})});
}

strings names(korsa_cam::sensor::sensor_impl_itf& s)
{
    strings out;
    for (const auto& d : s.get_property_list())
    {
        out.push_back(d.name);
    }
    return out;
}

strings ops(const std::vector<call>& calls)
{
    strings out;
    for (const auto& c : calls)
    {
        out.push_back(c.op);
    }
    return out;
}

class SensorBase : public sensor_test::board_test
{
protected:
    static std::error_code set_int(korsa_cam::sensor::sensor_impl_itf& s, const char* name,
                                   int64_t v)
    {
        return s.set_property(name, prop_values::from_int64(v));
    }
    static int64_t get_int(korsa_cam::sensor::sensor_impl_itf& s, const char* name)
    {
        auto r = s.get_property(name);
        EXPECT_TRUE(r) << name;
        return r ? r.value().i64 : -999;
    }
};

TEST_F(SensorBase, CommonPropertiesInOrderAndOnlyWhereTheModelHasThem)
{
    recording_driver full(imx290_like());
    EXPECT_EQ(names(full),
              (strings{"ExposureTime", "OffsetX", "OffsetY", "OffsetAutoCenter", "ReverseX",
                       "ReverseY", "SensorRegisterAddress", "SensorRegisterValue",
                       "SensorRegisterRead", "SensorRegisterWrite"}));
    for (const auto& d : full.get_property_list())
    {
        const bool debug = d.name.rfind("SensorRegister", 0) == 0;
        EXPECT_EQ(d.flags, debug ? korsa_cam::property_flag_debug : 0u) << d.name;
    }

    // Fixed sizes only and no flips: neither offsets nor reverse properties.
    auto fixed = imx290_like();
    fixed.formats = {range_format(img::fcc::RGDP, {1920, 1080}, {1920, 1080}),
                     range_format(img::fcc::Y1DP, {640, 480}, {640, 480})};
    fixed.has_flip_x = false;
    fixed.has_flip_y = false;
    recording_driver fixed_sensor(fixed);
    EXPECT_EQ(names(fixed_sensor),
              (strings{"ExposureTime", "SensorRegisterAddress", "SensorRegisterValue",
                       "SensorRegisterRead", "SensorRegisterWrite"}));
    // One flip without the other.
    fixed.has_flip_y = true;
    recording_driver only_y(fixed);
    EXPECT_EQ(names(only_y)[1], "ReverseY");

    // Nothing of this touched the sensor.
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
    EXPECT_TRUE(full.calls.empty());
}

TEST_F(SensorBase, OffsetRangesSpanTheLargestDifferenceOverAllFormats)
{
    auto config = imx290_like();
    config.formats.push_back(range_format(img::fcc::Y1DP, {1000, 100}, {1200, 1000}));
    recording_driver s(config);
    auto x = s.get_property_range("OffsetX");
    auto y = s.get_property_range("OffsetY");
    auto centre = s.get_property_range("OffsetAutoCenter");
    ASSERT_TRUE(x && y && centre);
    EXPECT_EQ(x.value().min.i64, 0);
    EXPECT_EQ(x.value().max.i64, 1552);
    EXPECT_EQ(x.value().step.i64, 4);
    EXPECT_EQ(x.value().default_value.i64, 0);
    EXPECT_EQ(y.value().max.i64, 900); // from the second format
    EXPECT_EQ(y.value().step.i64, 2);
    EXPECT_EQ(centre.value().default_value.i64, 1);
    EXPECT_EQ(get_int(s, "OffsetAutoCenter"), 1);
}

TEST_F(SensorBase, OffsetsAreRefusedWhileCentringThenReducedToTheirStep)
{
    recording_driver s(imx290_like());
    EXPECT_EQ(set_int(s, "OffsetX", 100), std::error_code(EPERM, std::generic_category()));
    EXPECT_EQ(set_int(s, "OffsetY", 100), std::error_code(EPERM, std::generic_category()));
    EXPECT_EQ(get_int(s, "OffsetX"), 0);
    EXPECT_TRUE(s.calls.empty());

    ASSERT_FALSE(set_int(s, "OffsetAutoCenter", 0));
    EXPECT_TRUE(s.calls.empty()); // turning centring off moves nothing
    ASSERT_FALSE(set_int(s, "OffsetX", 101));
    EXPECT_EQ(get_int(s, "OffsetX"), 100);
    ASSERT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(s.calls[0].op, "position");
    EXPECT_EQ(s.calls[0].x, 100);
    EXPECT_EQ(s.calls[0].y, 0);

    // The same value after reduction: no driver call, no bus access.
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int(s, "OffsetX", 103));
    EXPECT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(korsa_sim_trace_size(), 0u);

    ASSERT_FALSE(set_int(s, "OffsetY", 7));
    EXPECT_EQ(get_int(s, "OffsetY"), 6);
    // Negative values reduce toward zero and reach the driver unclamped from below.
    ASSERT_FALSE(set_int(s, "OffsetX", -101));
    EXPECT_EQ(get_int(s, "OffsetX"), -100);
    ASSERT_EQ(s.calls.size(), 3u);
    EXPECT_EQ(s.calls[2].x, -100);
    EXPECT_EQ(s.calls[2].y, 6);
}

TEST_F(SensorBase, OffsetsAreClampedWhenHandedOnButStoredAsSet)
{
    recording_driver s(imx290_like());
    ASSERT_FALSE(set_int(s, "OffsetAutoCenter", 0));
    // Before any format the current size is 0x0, so the whole sensor is room.
    ASSERT_FALSE(set_int(s, "OffsetX", 5000));
    EXPECT_EQ(s.calls.back().x, 1920);
    ASSERT_TRUE(s.setup_format(img::make_img_type(img::fcc::RGDP, {1280, 720}), 30));
    EXPECT_EQ(get_int(s, "OffsetX"), 5000);
    const auto& roi = s.calls[s.calls.size() - 2];
    EXPECT_EQ(roi.op, "roi");
    EXPECT_EQ(roi.x, 640);
    EXPECT_EQ(roi.y, 0);
    // Extreme values: reduced and clamped without overflow.
    ASSERT_FALSE(set_int(s, "OffsetY", INT32_MAX));
    EXPECT_EQ(s.calls.back().y, 360);
    ASSERT_FALSE(set_int(s, "OffsetY", INT32_MIN));
    EXPECT_EQ(s.calls.back().y, INT32_MIN);
}

TEST_F(SensorBase, CentringFollowsTheFormatAndTurningItOnMovesTheWindow)
{
    test_support::log_capture log;
    recording_driver s(imx290_like());
    ASSERT_TRUE(s.setup_format(img::make_img_type(img::fcc::RGDP, {1280, 720}), 30));
    EXPECT_EQ(ops(s.calls), (strings{"init", "roi", "exposure"}));
    EXPECT_EQ(s.calls[1].x, 320);
    EXPECT_EQ(s.calls[1].y, 180);
    EXPECT_EQ(get_int(s, "OffsetX"), 320);
    EXPECT_EQ(get_int(s, "OffsetY"), 180);

    // Odd room: half of it, rounded down to the step.
    ASSERT_TRUE(s.setup_format(img::make_img_type(img::fcc::RGDP, {1904, 1074}), 30));
    EXPECT_EQ(get_int(s, "OffsetX"), 8);
    EXPECT_EQ(get_int(s, "OffsetY"), 2);

    ASSERT_FALSE(set_int(s, "OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int(s, "OffsetX", 0));
    s.calls.clear();
    ASSERT_FALSE(set_int(s, "OffsetAutoCenter", 1));
    ASSERT_EQ(ops(s.calls), (strings{"position"}));
    EXPECT_EQ(s.calls[0].x, 8);
    EXPECT_EQ(s.calls[0].y, 2);
    ASSERT_FALSE(set_int(s, "OffsetAutoCenter", 1)); // already centred: nothing to do
    EXPECT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(log.lines_starting_with("set_offset_auto_center"),
              (strings{"set_offset_auto_center false", "set_offset_auto_center true",
                       "set_offset_auto_center true"}));

    // A format larger than the sensor centres at 0.
    ASSERT_TRUE(s.setup_format(img::make_img_type(img::fcc::RGDP, {4000, 3000}), 30));
    EXPECT_EQ(get_int(s, "OffsetX"), 0);
    EXPECT_EQ(get_int(s, "OffsetY"), 0);
}

TEST_F(SensorBase, FlipsAreXoredWithTheMounting)
{
    auto config = imx290_like();
    config.flip_inverted = true;
    recording_driver s(config);
    EXPECT_EQ(get_int(s, "ReverseX"), 0);
    ASSERT_FALSE(set_int(s, "ReverseX", 0));
    ASSERT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(s.calls[0].op, "roi");
    EXPECT_TRUE(s.calls[0].flip_x);
    EXPECT_TRUE(s.calls[0].flip_y); // untouched, but inverted from the start
    EXPECT_EQ(get_int(s, "ReverseX"), 0);
    ASSERT_FALSE(set_int(s, "ReverseY", 1));
    EXPECT_TRUE(s.calls[1].flip_x);
    EXPECT_FALSE(s.calls[1].flip_y);
    EXPECT_EQ(get_int(s, "ReverseY"), 1);

    recording_driver upright(imx290_like());
    ASSERT_FALSE(set_int(upright, "ReverseX", 1));
    EXPECT_TRUE(upright.calls[0].flip_x);
    EXPECT_FALSE(upright.calls[0].flip_y);
    // The flips then go along with every window change.
    ASSERT_FALSE(set_int(upright, "OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int(upright, "OffsetX", 8));
    EXPECT_TRUE(upright.calls.back().flip_x);
}

TEST_F(SensorBase, InitRunsOnceItSucceedsAndIsRetriedAfterAFailure)
{
    recording_driver s(imx290_like());
    const auto type = img::make_img_type(img::fcc::RGDP, {1920, 1080});
    s.init_result = std::error_code(EIO, std::generic_category());
    auto r = s.setup_format(type, 30);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EIO, std::generic_category()));
    EXPECT_EQ(ops(s.calls), (strings{"init"})); // nothing else was done
    s.init_result = {};
    ASSERT_TRUE(s.setup_format(type, 30));
    ASSERT_TRUE(s.setup_format(type, 25));
    EXPECT_EQ(ops(s.calls), (strings{"init", "init", "roi", "exposure", "roi", "exposure"}));
}

TEST_F(SensorBase, DriverFailuresInSetupOnlyReachTheLogButPropertyCallersSeeThem)
{
    recording_driver s(imx290_like());
    s.driver_result = std::error_code(EREMOTEIO, std::generic_category());
    EXPECT_TRUE(s.setup_format(img::make_img_type(img::fcc::RGDP, {1920, 1080}), 30));

    ASSERT_FALSE(set_int(s, "OffsetAutoCenter", 0));
    EXPECT_EQ(set_int(s, "OffsetX", 40), s.driver_result);
    EXPECT_EQ(get_int(s, "OffsetX"), 40);
    EXPECT_EQ(set_int(s, "ReverseY", 1), s.driver_result);
    EXPECT_EQ(get_int(s, "ReverseY"), 1);
    EXPECT_EQ(s.set_property("ExposureTime", prop_values::from_double(5000)), s.driver_result);
    auto e = s.get_property("ExposureTime");
    ASSERT_TRUE(e);
    EXPECT_DOUBLE_EQ(e.value().dbl, 5000);
}

TEST_F(SensorBase, ExposureGoesToTheDriverWithTheCurrentFormatAndRate)
{
    recording_driver s(imx290_like());
    // Before the first format: the all-zero type at 60 fps.
    ASSERT_FALSE(s.set_property("ExposureTime", prop_values::from_double(2000)));
    ASSERT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(s.calls[0].type, img::img_type{});
    EXPECT_EQ(s.calls[0].fps, 60.0);
    EXPECT_DOUBLE_EQ(s.calls[0].exposure, 0.002);

    const auto type = img::make_img_type(img::fcc::RGDP, {1280, 720});
    ASSERT_TRUE(s.setup_format(type, 24));
    EXPECT_DOUBLE_EQ(s.calls.back().exposure, 0.002);
    ASSERT_FALSE(s.apply_exposure_now());
    EXPECT_EQ(s.calls.back().op, "exposure");
    EXPECT_EQ(s.calls.back().type, type);
    EXPECT_EQ(s.calls.back().fps, 24.0);

    recording_driver fresh(imx290_like());
    ASSERT_TRUE(fresh.setup_format(type, 30));
    EXPECT_EQ(fresh.calls.back().exposure, 1.0 / 120); // the model's default
}

TEST_F(SensorBase, DebugRegisterPropertiesReadAndWriteOneByte)
{
    recording_driver s(imx290_like());
    ASSERT_FALSE(set_int(s, "SensorRegisterAddress", 0x3000));
    ASSERT_FALSE(set_int(s, "SensorRegisterValue", 0x1AB));
    EXPECT_EQ(korsa_sim_trace_size(), 0u); // storing touches nothing
    EXPECT_EQ(get_int(s, "SensorRegisterValue"), 0x1AB);

    ASSERT_FALSE(set_int(s, "SensorRegisterRead", 1));
    auto reads = sensor_reads();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].address, 0x3000);
    EXPECT_EQ(get_int(s, "SensorRegisterValue"), 0x01); // the IMX290 powers up in standby

    ASSERT_FALSE(set_int(s, "SensorRegisterAddress", 0x3014));
    ASSERT_FALSE(set_int(s, "SensorRegisterValue", 0x1AB));
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int(s, "SensorRegisterWrite", 1));
    EXPECT_EQ(test_support::wire(sensor_writes()), (strings{"[30 14 AB]"}));
    EXPECT_EQ(chip_reg(0x3014), 0xAB);

    korsa_sim_fail_reads(bus, sensor_address, 1, EIO);
    EXPECT_EQ(set_int(s, "SensorRegisterRead", 1), std::error_code(EIO, std::generic_category()));
    EXPECT_EQ(get_int(s, "SensorRegisterValue"), 0x1AB); // kept
    korsa_sim_fail_address(bus, sensor_address, ENXIO);
    EXPECT_EQ(set_int(s, "SensorRegisterWrite", 1),
              std::error_code(ENXIO, std::generic_category()));
}

TEST_F(SensorBase, ReceiverSettingsForEveryFormatCode)
{
    struct row
    {
        img::fourcc fcc;
        mmal::bayer_order bayer;
        uint32_t id;
        uint32_t depth;
    };
    using mmal::bayer_order;
    using namespace img::fcc;
    const row rows[] = {
        {RGAP, bayer_order::rggb, 0x2B, 10}, {RGDP, bayer_order::rggb, 0x2C, 12},
        {PWL1, bayer_order::rggb, 0x2C, 12}, {GRAP, bayer_order::grbg, 0x2B, 10},
        {GRDP, bayer_order::grbg, 0x2C, 12}, {Y10P, bayer_order::grbg, 0x2B, 10},
        {Y1DP, bayer_order::grbg, 0x2C, 12}, {GBAP, bayer_order::gbrg, 0x2B, 10},
        {GBDP, bayer_order::gbrg, 0x2C, 12}, {BGAP, bayer_order::bggr, 0x2B, 10},
        {BGDP, bayer_order::bggr, 0x2C, 12},
    };
    test_support::log_capture log;
    recording_driver s(imx290_like());
    for (const auto& r : rows)
    {
        auto csi = s.setup_format(img::make_img_type(r.fcc, {1280, 720}), 29.97);
        ASSERT_TRUE(csi);
        const auto& c = csi.value();
        EXPECT_EQ(c.bayer, r.bayer) << img::fourcc_chars(r.fcc);
        EXPECT_EQ(c.image_id, r.id) << img::fourcc_chars(r.fcc);
        EXPECT_EQ(c.bit_depth, r.depth) << img::fourcc_chars(r.fcc);
        EXPECT_EQ(c.width, 1280);
        EXPECT_EQ(c.height, 720u);
        EXPECT_EQ(c.data_lanes, 2u);
        EXPECT_EQ(c.embedded_data_lines, 1u);
        EXPECT_TRUE(c.term_override);
        EXPECT_EQ(c.fps, 29.97);
    }
    EXPECT_TRUE(log.at_level(spdlog::level::err).empty());

    auto config = imx290_like();
    config.connection.num_output_lanes = 4;
    config.rx_termination = false;
    recording_driver other(config);
    auto csi = other.setup_format(img::make_img_type(RGDP, {640, 480}), 10);
    ASSERT_TRUE(csi);
    EXPECT_EQ(csi.value().data_lanes, 4u);
    EXPECT_FALSE(csi.value().term_override);
}

TEST_F(SensorBase, UnknownFormatFallsBackToRggbRaw12WithThreeErrors)
{
    test_support::log_capture log;
    recording_driver s(imx290_like());
    auto csi = s.setup_format(img::make_img_type(img::fcc::BA81, {640, 480}), 30);
    ASSERT_TRUE(csi);
    EXPECT_EQ(csi.value().bayer, mmal::bayer_order::rggb);
    EXPECT_EQ(csi.value().image_id, 0x2Cu);
    EXPECT_EQ(csi.value().bit_depth, 12u);
    const auto errors = log.at_level(spdlog::level::err);
    ASSERT_EQ(errors.size(), 3u);
    const char* functions[] = {"bayer_encoding", "image_id", "bit_depth"};
    for (std::size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(errors[i].text, "Unexpected image type: 31384142");
        EXPECT_EQ(errors[i].function, functions[i]);
        EXPECT_EQ(errors[i].file, "src/rawcam_lib/common/sensor_base");
    }
}

TEST_F(SensorBase, ReachableWhileRegisterZeroAnswersAndConstructionNeedsTheBus)
{
    recording_driver s(imx290_like());
    EXPECT_TRUE(s.test_reachable());
    auto reads = sensor_reads();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].address, 0x0000);
    korsa_sim_set_unplugged(1);
    EXPECT_FALSE(s.test_reachable());
    korsa_sim_set_unplugged(0);
    EXPECT_TRUE(s.test_reachable());

    // No bus 3 on this board: the connection cannot be opened.
    EXPECT_THROW(recording_driver(imx290_like(), 3), std::system_error);
}

} // namespace
