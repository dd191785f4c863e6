// The IMX296 / IMX297 driver on their simulated boards: every byte it puts on the bus.

#include "imx296/imx296_access.h"
#include "imx296/imx296_scripts.h"
#include "script_bursts.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <chrono>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using korsa_cam::prop_values;
using korsa_cam::sensor::imx296_sensor;
using model = korsa_cam::sensor::imx296_sensor::model;
using sensor_test::bus;
using sensor_test::sensor_address;
using std::chrono::milliseconds;
using test_support::last_value;
using test_support::wire;
using strings = std::vector<std::string>;
namespace scripts = korsa_cam::sensor::imx296_scripts;

constexpr uint16_t hold_register = 0x3008;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

img::img_type rgap(int w, int h)
{
    return img::make_img_type(img::fcc::RGAP, {w, h});
}

strings names_of(korsa_cam::sensor::sensor_impl_itf& s)
{
    strings names;
    for (const auto& d : s.get_property_list())
    {
        names.push_back(d.name);
    }
    return names;
}

// One fixture per model, each on its own board.
class Imx29x : public sensor_test::board_test
{
protected:
    explicit Imx29x(model m) : model_(m) {}

    void SetUp() override
    {
        board_test::SetUp();
        const char* board = model_ == model::imx297 ? "imx297-direct.board" : "imx296-direct.board";
        ASSERT_EQ(korsa_sim_load_board(sensor_test::shipped_board(board).c_str()), 0);
        korsa_sim_trace_clear();
        sensor_ = std::make_unique<imx296_sensor>(bus, model_, true, pauses_.get());
    }

    img::img_type full() const
    {
        return model_ == model::imx297 ? rgap(720, 540) : rgap(1440, 1080);
    }

    // setup_format once, so the init script is behind us, then an empty trace.
    void initialise()
    {
        ASSERT_TRUE(sensor_->setup_format(full(), 30));
        korsa_sim_trace_clear();
        pauses_.clear();
    }

    std::error_code set(const char* name, double v)
    {
        return sensor_->set_property(name, prop_values::from_double(v));
    }
    std::error_code set_int(const char* name, int64_t v)
    {
        return sensor_->set_property(name, prop_values::from_int64(v));
    }

    struct timing
    {
        uint32_t vmax, shs1;
    };
    timing written_timing() const
    {
        const auto w = sensor_writes();
        return {last_value(w, 0x3010, 3).value_or(0xDEAD),
                last_value(w, 0x308D, 3).value_or(0xDEAD)};
    }

    model model_;
    std::unique_ptr<imx296_sensor> sensor_;
};

class Imx296 : public Imx29x
{
protected:
    Imx296() : Imx29x(model::imx296) {}
};

class Imx297 : public Imx29x
{
protected:
    Imx297() : Imx29x(model::imx297) {}
};

TEST_F(Imx296, FormatsRatesConnectionAndProperties)
{
    const auto colour = sensor_->get_available_format_list();
    ASSERT_EQ(colour.size(), 1u);
    EXPECT_EQ(colour[0].type, img::fcc::RGAP);
    EXPECT_EQ(colour[0].dim_min, (img::dim{80, 20}));
    EXPECT_EQ(colour[0].dim_max, (img::dim{1440, 1080}));
    EXPECT_EQ(colour[0].dim_step, (img::dim{16, 4}));
    imx296_sensor mono(bus, model::imx296, false);
    ASSERT_EQ(mono.get_available_format_list().size(), 1u);
    EXPECT_EQ(mono.get_available_format_list()[0].type, img::fcc::Y10P);

    EXPECT_EQ(sensor_->get_available_fps_list(rgap(1440, 1080)), (std::vector<double>{1.0, 60.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(80, 20)), (std::vector<double>{1.0, 1350.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(0, -30)).size(), 2u); // defined, no trap

    const auto conn = sensor_->get_connection_config();
    EXPECT_EQ(conn.sensor_clock, 2);
    EXPECT_EQ(conn.num_output_lanes, 1);

    // No flips on these sensors; their own three after the common ones.
    EXPECT_EQ(names_of(*sensor_),
              (strings{"ExposureTime", "OffsetX", "OffsetY", "OffsetAutoCenter",
                       "SensorRegisterAddress", "SensorRegisterValue", "SensorRegisterRead",
                       "SensorRegisterWrite", "TriggerMode", "Gain", "BlackLevel"}));
    const auto list = sensor_->get_property_list();
    const auto& trigger = list[8];
    EXPECT_EQ(trigger.type, korsa_cam::property_type::menu);
    EXPECT_EQ(trigger.category, "Special");
    EXPECT_EQ(trigger.group, "Trigger");
    ASSERT_EQ(trigger.menu_entries.size(), 2u);
    EXPECT_STREQ(trigger.menu_entries[0], "Off");
    EXPECT_STREQ(trigger.menu_entries[1], "On");

    auto tr = sensor_->get_property_range("TriggerMode");
    auto x = sensor_->get_property_range("OffsetX");
    auto y = sensor_->get_property_range("OffsetY");
    auto gain = sensor_->get_property_range("Gain");
    auto black = sensor_->get_property_range("BlackLevel");
    auto exposure = sensor_->get_property_range("ExposureTime");
    ASSERT_TRUE(tr && x && y && gain && black && exposure);
    EXPECT_EQ(tr.value().min.i64, 0);
    EXPECT_EQ(tr.value().max.i64, 1); // the last menu index
    EXPECT_EQ(tr.value().default_value.i64, 0);
    EXPECT_EQ(tr.value().step.i64, 1);
    EXPECT_EQ(x.value().max.i64, 1360);
    EXPECT_EQ(x.value().step.i64, 4);
    EXPECT_EQ(y.value().max.i64, 1060);
    EXPECT_EQ(y.value().step.i64, 2);
    EXPECT_EQ(gain.value().max.dbl, 48.0);
    EXPECT_EQ(gain.value().step.dbl, 0.1);
    EXPECT_EQ(black.value().max.dbl, 1023.0);
    EXPECT_EQ(black.value().default_value.dbl, 60.0);
    EXPECT_DOUBLE_EQ(exposure.value().default_value.dbl, 1e6 / 133);
    EXPECT_EQ(sensor_->get_property("TriggerMode").value().i64, 0);

    EXPECT_EQ(korsa_sim_trace_size(), 0u); // construction touches no register
}

TEST_F(Imx297, ColourBoardOffersOnlyRgapUpTo720x540AndPlaysItsOwnScript)
{
    const auto formats = sensor_->get_available_format_list();
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].type, img::fcc::RGAP);
    EXPECT_EQ(formats[0].dim_min, (img::dim{80, 20}));
    EXPECT_EQ(formats[0].dim_max, (img::dim{720, 540}));
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(720, 540)), (std::vector<double>{1.0, 121.0}));
    EXPECT_EQ(sensor_->get_property_range("OffsetX").value().max.i64, 640);
    EXPECT_EQ(sensor_->get_property_range("OffsetY").value().max.i64, 520);
    EXPECT_DOUBLE_EQ(sensor_->get_property_range("ExposureTime").value().default_value.dbl,
                     1e6 / 120);

    ASSERT_TRUE(sensor_->setup_format(full(), 60));
    const auto plan = test_support::plan_of(scripts::qel_imx297_mode_1456x1088_37mhz_60fps);
    const auto w = sensor_writes();
    ASSERT_GE(w.size(), plan.bursts.size());
    for (std::size_t i = 0; i < plan.bursts.size(); ++i)
    {
        EXPECT_EQ(w[i].address, plan.bursts[i].address) << "burst " << i;
        EXPECT_EQ(w[i].bytes, plan.bursts[i].bytes) << "burst " << i;
    }
    // Where the two scripts differ: the IMX297's line length 1070 (0x42E) and its output
    // height register; the IMX296's 0x3212 is never written.
    EXPECT_EQ(chip_reg(0x3014), 0x2E);
    EXPECT_EQ(chip_reg(0x3015), 0x04);
    EXPECT_EQ(chip_reg(0x3758), 0xA3);
    EXPECT_EQ(test_support::value_history(w).count(0x3212), 0u);
    EXPECT_EQ(w[plan.bursts.size()].address, hold_register); // then the window set-up

    imx296_sensor mono(bus, model::imx297, false);
    EXPECT_EQ(mono.get_available_format_list().at(0).type, img::fcc::Y10P);
    EXPECT_EQ(mono.get_available_format_list().at(0).dim_max, (img::dim{720, 540}));
}

TEST_F(Imx296, ScriptTablesHoldEveryEntry)
{
    for (const auto* script : {scripts::qel_imx296_mode_1456x1088_37mhz_60fps,
                               scripts::qel_imx297_mode_1456x1088_37mhz_60fps})
    {
        const auto plan = test_support::plan_of(script);
        EXPECT_EQ(plan.register_writes, 59u);
        // One pause of 30 ms, after every write.
        ASSERT_EQ(plan.pauses.size(), 1u);
        EXPECT_EQ(plan.pauses[0], std::make_pair(milliseconds(30), plan.bursts.size()));
    }
    const auto start = test_support::plan_of(scripts::qel_imx296_start);
    EXPECT_EQ(start.register_writes, 2u);
    EXPECT_EQ(start.pause_total(), milliseconds(10));
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx296_stop).register_writes, 1u);
}

TEST_F(Imx296, InitPlaysTheImx296ScriptInTheLeastBlockWritesAndStaysInStandby)
{
    ASSERT_TRUE(sensor_->setup_format(full(), 30));
    const auto plan = test_support::plan_of(scripts::qel_imx296_mode_1456x1088_37mhz_60fps);
    const auto w = sensor_writes();
    std::size_t init_end = 0;
    while (init_end < w.size() && w[init_end].address != hold_register)
    {
        ++init_end;
    }
    ASSERT_EQ(init_end, plan.bursts.size());
    for (std::size_t i = 0; i < init_end; ++i)
    {
        EXPECT_EQ(w[i].address, plan.bursts[i].address) << "burst " << i;
        EXPECT_EQ(w[i].bytes, plan.bursts[i].bytes) << "burst " << i;
    }
    EXPECT_TRUE(sensor_reads().empty()); // played without verification
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].duration, milliseconds(30));
    EXPECT_EQ(p[0].trace_position, plan.bursts.size());

    EXPECT_EQ(chip_reg(0x3014), 0x4C); // line length 1100
    EXPECT_EQ(chip_reg(0x3015), 0x04);
    EXPECT_EQ(chip_reg(0x30A8), 0x91); // the IMX297 has 0x63 here
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);

    // A second format set-up does not play it again.
    korsa_sim_trace_clear();
    ASSERT_TRUE(sensor_->setup_format(rgap(640, 480), 30));
    EXPECT_EQ(sensor_writes().front().address, hold_register);
}

TEST_F(Imx296, StartAndStopMoveTheSensorInAndOutOfStreaming)
{
    initialise();
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 00]", "[30 0A 00]"}));
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].duration, milliseconds(10));
    EXPECT_EQ(p[0].trace_position, 1u);

    korsa_sim_trace_clear();
    ASSERT_FALSE(sensor_->stop_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 01]"}));
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
}

TEST_F(Imx296, TriggerModeStoresAndWritesTheFlag)
{
    initialise();
    ASSERT_FALSE(sensor_->start_stream());
    korsa_sim_trace_clear();
    // Any index but 0 switches it on: 5 stores and writes 1.
    ASSERT_FALSE(set_int("TriggerMode", 5));
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 0B 01]"})); // no hold around it
    EXPECT_EQ(sensor_->get_property("TriggerMode").value().i64, 1);
    EXPECT_EQ(chip_reg(0x300B), 1);
    // Waiting for a trigger: no frames come.
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);

    ASSERT_FALSE(set_int("TriggerMode", 0));
    EXPECT_EQ(sensor_->get_property("TriggerMode").value().i64, 0);
    EXPECT_EQ(chip_reg(0x300B), 0);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);

    ASSERT_FALSE(set_int("TriggerMode", -1));
    EXPECT_EQ(sensor_->get_property("TriggerMode").value().i64, 1);

    // A failed write is returned to the caller; the flag keeps the new value.
    ASSERT_FALSE(set_int("TriggerMode", 0));
    korsa_sim_fail_address(bus, sensor_address, EREMOTEIO);
    EXPECT_EQ(set_int("TriggerMode", 1), std::error_code(EREMOTEIO, std::generic_category()));
    korsa_sim_fail_address(bus, sensor_address, 0);
    EXPECT_EQ(sensor_->get_property("TriggerMode").value().i64, 1);
    EXPECT_EQ(chip_reg(0x300B), 0);
}

TEST_F(Imx296, RegionGoesOutInsideOneHold)
{
    initialise();
    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int("OffsetX", 16));
    ASSERT_FALSE(set_int("OffsetY", 8));
    korsa_sim_trace_clear();
    ASSERT_TRUE(sensor_->setup_format(rgap(640, 480), 60));
    const auto groups = test_support::hold_groups(sensor_writes(), hold_register);
    ASSERT_EQ(groups.groups.size(), 2u); // region, then timing
    EXPECT_TRUE(groups.outside.empty());
    EXPECT_EQ(groups.nested_opens, 0u);
    EXPECT_TRUE(groups.groups[0].closed);
    EXPECT_EQ(wire(groups.groups[0].inside),
              (strings{"[33 00 03]", "[33 10 10 00]", "[33 12 08 00]", "[33 14 80 02]",
                       "[33 16 E0 01]", "[41 82 E0 01]"}));
    EXPECT_EQ(korsa_sim::regs(bus, sensor_address, 0x3310, 8),
              (std::vector<uint8_t>{16, 0, 8, 0, 0x80, 0x02, 0xE0, 0x01}));

    // Moving it writes the position only.
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("OffsetX", 22)); // step 4: 20
    EXPECT_EQ(wire(sensor_writes()),
              (strings{"[30 08 01]", "[33 10 14 00]", "[33 12 08 00]", "[30 08 00]"}));

    // Auto-centred: (1440 - 640) / 2, (1080 - 480) / 2.
    ASSERT_FALSE(set_int("OffsetAutoCenter", 1));
    const auto w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3310, 2), 400u);
    EXPECT_EQ(last_value(w, 0x3312, 2), 300u);
}

TEST_F(Imx296, FrameLengthFollowsRateAndExposure)
{
    initialise();
    // 30 fps, 10 ms: 2250 lines, 674 of exposure.
    ASSERT_TRUE(sensor_->setup_format(full(), 30));
    ASSERT_FALSE(set("ExposureTime", 10000));
    auto t = written_timing();
    EXPECT_EQ(t.vmax, 2250u);
    EXPECT_EQ(t.shs1, 1576u);
    const auto groups = test_support::hold_groups(sensor_writes(), hold_register);
    ASSERT_FALSE(groups.groups.empty());
    EXPECT_EQ(wire(groups.groups.back().inside), (strings{"[30 10 CA 08 00]", "[30 8D 28 06 00]"}));

    // 1 fps: 67500 lines.
    ASSERT_TRUE(sensor_->setup_format(full(), 1));
    EXPECT_EQ(written_timing().vmax, 67500u);

    // Faster than the height allows: the shortest frame, height + 30.
    ASSERT_TRUE(sensor_->setup_format(full(), 120));
    EXPECT_EQ(written_timing().vmax, 1110u);

    // A long exposure stretches the frame: 80 ms needs 5399 + 4 lines.
    ASSERT_TRUE(sensor_->setup_format(full(), 60));
    EXPECT_EQ(written_timing().vmax, 1125u);
    ASSERT_FALSE(set("ExposureTime", 80000));
    t = written_timing();
    EXPECT_EQ(t.vmax, 5403u);
    EXPECT_EQ(t.shs1, 4u);
}

TEST_F(Imx296, ExposureShorterThanTheOffsetIsZeroLines)
{
    initialise();
    ASSERT_TRUE(sensor_->setup_format(full(), 30));
    for (double us : {14.0, 0.0, -5.0})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, 2250u) << us;
        EXPECT_EQ(t.shs1, 2249u) << us; // one line of shutter
    }
    // Where nothing else asks for lines, the frame is the 5 that 0 exposure lines need.
    ASSERT_TRUE(sensor_->setup_format(rgap(16, -30), inf));
    const auto t = written_timing();
    EXPECT_EQ(t.vmax, 5u);
    EXPECT_EQ(t.shs1, 4u);
}

TEST_F(Imx297, FrameTimingUsesTheShorterLine)
{
    initialise();
    // 60 fps at 1070 clocks a line: 1156 lines; 10 ms is 692 lines.
    ASSERT_TRUE(sensor_->setup_format(full(), 60));
    ASSERT_FALSE(set("ExposureTime", 10000));
    auto t = written_timing();
    EXPECT_EQ(t.vmax, 1156u);
    EXPECT_EQ(t.shs1, 464u);
    // Faster than the height allows: 10 ms still needs 692 + 4 lines, 1 ms only the
    // shortest frame, height + 30.
    ASSERT_TRUE(sensor_->setup_format(full(), 200));
    EXPECT_EQ(written_timing().vmax, 696u);
    ASSERT_FALSE(set("ExposureTime", 1000));
    t = written_timing();
    EXPECT_EQ(t.vmax, 570u);
    EXPECT_EQ(t.shs1, 570u - 68);
}

// Frame rates and property values outside any sense: the registers get defined values at
// the ends of their range. In the sanitizer build an undefined conversion fails the test.
TEST_F(Imx296, NonsenseRatesAndValuesStayInsideTheRegisters)
{
    initialise();
    struct rate_case
    {
        double fps;
        uint32_t vmax;
    };
    const rate_case rates[] = {
        {0.0, 0xFFFFF}, {1e-9, 0xFFFFF}, {-30.0, 1110}, {nan, 1110}, {inf, 1110}, {-inf, 1110},
    };
    for (const auto& r : rates)
    {
        ASSERT_TRUE(sensor_->setup_format(full(), r.fps));
        EXPECT_EQ(written_timing().vmax, r.vmax) << "fps " << r.fps;
    }

    ASSERT_TRUE(sensor_->setup_format(full(), 30));
    for (double us : {1e15, inf})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, 0xFFFFFu) << us; // cut to the longest frame
        EXPECT_EQ(t.shs1, 4u) << us;
    }
    ASSERT_FALSE(set("ExposureTime", -inf));
    EXPECT_EQ(written_timing().shs1, 2249u);
    EXPECT_EQ(set("ExposureTime", nan), std::errc::argument_out_of_domain);

    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int("OffsetX", -100));
    ASSERT_FALSE(set_int("OffsetY", INT32_MIN));
    auto w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3310, 2), 0u);
    EXPECT_EQ(last_value(w, 0x3312, 2), 0u);

    ASSERT_FALSE(set("Gain", inf));
    EXPECT_EQ(last_value(sensor_writes(), 0x3204, 2), 0xFFFFu);
    ASSERT_FALSE(set("Gain", -3));
    EXPECT_EQ(last_value(sensor_writes(), 0x3204, 2), 0u);
    ASSERT_FALSE(set("Gain", 6.0));
    EXPECT_EQ(last_value(sensor_writes(), 0x3204, 2), 60u);
    ASSERT_FALSE(set("BlackLevel", 1e300));
    EXPECT_EQ(last_value(sensor_writes(), 0x3254, 2), 1023u);
    EXPECT_EQ(set("Gain", nan), std::errc::argument_out_of_domain);

    ASSERT_TRUE(sensor_->setup_format(rgap(-16, 1 << 30), 30));
    w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3314, 2), 0u);
    EXPECT_EQ(last_value(w, 0x3316, 2), 0xFFFFu);
    EXPECT_EQ(last_value(w, 0x4182, 2), 0xFFFFu);
    EXPECT_EQ(written_timing().vmax, 0xFFFFFu);
}

// The IMX297 runs the same arithmetic with its own line length: the same nonsense stays
// defined there, and the extreme sizes reach the registers saturated, not wrapped.
TEST_F(Imx297, NonsenseRatesSizesAndValuesStayInsideTheRegisters)
{
    initialise();
    ASSERT_FALSE(set("ExposureTime", 1000)); // 68 lines: the frame is what the rate asks
    struct rate_case
    {
        double fps;
        uint32_t vmax;
    };
    const rate_case rates[] = {
        // -0.0 divides into minus infinity: no lines from the rate, the shortest frame.
        {0.0, 0xFFFFF}, {-0.0, 570}, {-60.0, 570}, {nan, 570}, {inf, 570}, {-inf, 570},
    };
    for (const auto& r : rates)
    {
        ASSERT_TRUE(sensor_->setup_format(full(), r.fps));
        EXPECT_EQ(written_timing().vmax, r.vmax) << "fps " << r.fps;
    }
    ASSERT_TRUE(sensor_->setup_format(full(), 60));
    const auto before = sensor_writes().size();
    EXPECT_EQ(set("ExposureTime", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(set("Gain", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(set("BlackLevel", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(sensor_writes().size(), before); // refused before any register is touched
    EXPECT_EQ(sensor_->get_property("BlackLevel").value().dbl, 60.0);

    ASSERT_TRUE(sensor_->setup_format(rgap(INT32_MIN, INT32_MAX), 60));
    auto w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3314, 2), 0u);
    EXPECT_EQ(last_value(w, 0x3316, 2), 0xFFFFu);
    EXPECT_EQ(written_timing().vmax, 0xFFFFFu);
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(0, INT32_MAX)).size(), 2u);
    ASSERT_TRUE(sensor_->setup_format(rgap(INT32_MAX, INT32_MIN), 0.0));
    w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3314, 2), 0xFFFFu);
    EXPECT_EQ(last_value(w, 0x3316, 2), 0u);
    EXPECT_EQ(written_timing().vmax, 0xFFFFFu); // 0 fps asks for the longest frame
}

TEST_F(Imx296, RawRegisterAccessAndBusErrors)
{
    const uint8_t data[] = {0x11, 0x22};
    ASSERT_FALSE(sensor_->sensor_register_write(0xABCD3100, data));
    EXPECT_EQ(wire(sensor_writes()), (strings{"[31 00 11 22]"}));
    std::vector<uint8_t> buffer(2);
    std::span<uint8_t> out(buffer);
    ASSERT_FALSE(sensor_->sensor_register_read(0x13100, out));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0x11, 0x22}));

    korsa_sim_fail_address(bus, sensor_address, EREMOTEIO);
    const std::error_code remote(EREMOTEIO, std::generic_category());
    EXPECT_EQ(sensor_->sensor_register_write(0x3100, data), remote);
    EXPECT_EQ(sensor_->sensor_register_read(0x3100, out), remote);
    EXPECT_EQ(set("Gain", 6.0), remote);
    EXPECT_EQ(set("BlackLevel", 100), remote);
    EXPECT_FALSE(sensor_->test_reachable());
    // The register work itself reports success; the script player logs what failed.
    test_support::log_capture log;
    EXPECT_TRUE(sensor_->setup_format(full(), 30));
    EXPECT_FALSE(sensor_->start_stream());
    EXPECT_FALSE(log.lines_starting_with("write_script -- write failed").empty());
}

TEST_F(Imx296, CreationOnAMissingBusGivesNothingAndThrowsNothing)
{
    test_support::log_capture log;
    std::unique_ptr<korsa_cam::sensor::sensor_impl_itf> s;
    EXPECT_NO_THROW(s = korsa_cam::sensor::create_imx296(3, true));
    EXPECT_FALSE(s);
    EXPECT_NO_THROW(s = korsa_cam::sensor::create_imx297(3, true));
    EXPECT_FALSE(s);
    EXPECT_EQ(log.at_level(spdlog::level::err).size(), 2u);

    auto a = korsa_cam::sensor::create_imx296(bus, false);
    auto b = korsa_cam::sensor::create_imx297(bus, true);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->get_available_format_list().at(0).type, img::fcc::Y10P);
    EXPECT_EQ(a->get_available_format_list().at(0).dim_max, (img::dim{1440, 1080}));
    EXPECT_EQ(b->get_available_format_list().at(0).type, img::fcc::RGAP);
    EXPECT_EQ(b->get_available_format_list().at(0).dim_max, (img::dim{720, 540}));
}

} // namespace
