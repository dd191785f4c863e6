// The IMX390 driver on the simulated board: its initialisation script against what is known of
// it, and every register its properties and set-ups put on the bus.

#include "imx390/imx390_access.h"
#include "imx390/imx390_mode_settings.h"
#include "imx390/imx390_scripts.h"
#include "rawcam_error.h"
#include "script_bursts.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <chrono>
#include <limits>
#include <memory>
#include <vector>

namespace {

using korsa_cam::prop_values;
using korsa_cam::sensor::imx390_sensor;
using sensor_test::bus;
using std::chrono::milliseconds;
using test_support::last_value;
using test_support::wire;
using strings = std::vector<std::string>;
namespace scripts = korsa_cam::sensor::imx390_scripts;

constexpr int address = 0x21;
constexpr uint16_t hold_register = 0x0008;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

img::img_type linear(int w, int h)
{
    return img::make_img_type(img::fcc::RGDP, {w, h});
}
img::img_type hdr(int w, int h)
{
    return img::make_img_type(img::fcc::PWL1, {w, h});
}

class Imx390 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(korsa_sim_load_board(sensor_test::shipped_board("imx390-direct.board").c_str()),
                  0);
        korsa_sim_trace_clear();
        sensor_ = std::make_unique<imx390_sensor>(bus, pauses_.get());
    }
    void TearDown() override { korsa_sim_clear_faults(); }

    void initialise()
    {
        ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), 30));
        korsa_sim_trace_clear();
        pauses_.clear();
    }

    std::vector<test_support::register_write> writes() const
    {
        return test_support::register_writes(bus, address);
    }
    static int chip_reg(unsigned r) { return korsa_sim::reg(bus, address, r); }
    // A register of the simulated chip, little-endian over width bytes.
    static uint32_t chip_value(unsigned r, unsigned width)
    {
        uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i)
        {
            v |= static_cast<uint32_t>(chip_reg(r + i) & 0xFF) << (8 * i);
        }
        return v;
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
        uint32_t hmax, vmax, fmax, shs1, shs2;
    };
    timing written_timing() const
    {
        const auto w = writes();
        return {
            last_value(w, 0x200C, 2).value_or(0xDEAD), last_value(w, 0x2008, 3).value_or(0xDEAD),
            last_value(w, 0x0090, 1).value_or(0xDEAD), last_value(w, 0x000C, 3).value_or(0xDEAD),
            last_value(w, 0x0010, 3).value_or(0xDEAD)};
    }

    test_support::recording_sleeper pauses_{[] { return korsa_sim_trace_size(); }};
    std::unique_ptr<imx390_sensor> sensor_;
};

TEST_F(Imx390, FormatsRatesConnectionAndProperties)
{
    const auto formats = sensor_->get_available_format_list();
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].type, img::fcc::RGDP);
    EXPECT_EQ(formats[1].type, img::fcc::PWL1);
    for (const auto& f : formats)
    {
        EXPECT_EQ(f.dim_min, (img::dim{336, 256}));
        EXPECT_EQ(f.dim_max, (img::dim{1920, 1080}));
        EXPECT_EQ(f.dim_step, (img::dim{16, 4}));
    }
    EXPECT_EQ(sensor_->get_available_fps_list(hdr(1920, 1080)), (std::vector<double>{5.0, 60.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(linear(336, 256)), (std::vector<double>{5.0, 60.0}));
    EXPECT_EQ(sensor_->get_connection_config().sensor_clock, 1);
    EXPECT_EQ(sensor_->get_connection_config().num_output_lanes, 4);

    strings names;
    for (const auto& d : sensor_->get_property_list())
    {
        names.push_back(d.name);
    }
    EXPECT_EQ(names, (strings{"ExposureTime", "OffsetX", "OffsetY", "OffsetAutoCenter", "ReverseX",
                              "ReverseY", "SensorRegisterAddress", "SensorRegisterValue",
                              "SensorRegisterRead", "SensorRegisterWrite", "SensorOutputSelect",
                              "ExposureRatio", "Gain", "GainOffset"}));
    for (const auto& d : sensor_->get_property_list())
    {
        if (d.group == "IMX390")
        {
            EXPECT_EQ(d.category, "Exposure") << d.name;
        }
    }
    const auto list = sensor_->get_property_list();
    EXPECT_EQ(list[10].type, korsa_cam::property_type::menu);
    EXPECT_EQ(list[10].menu_entries.size(), 4u);
    EXPECT_STREQ(list[10].menu_entries[3], "SP2");
    EXPECT_EQ(list[12].group, "IMX390"); // not the shared "Gain" descriptor

    struct range_case
    {
        const char* name;
        double min, max, def, step;
    };
    for (const auto& r : {range_case{"ExposureRatio", 0.1, 1.0, 1.0, 0.025},
                          range_case{"Gain", 0.0, 27.0, 27.0, 0.3},
                          range_case{"GainOffset", -27.0, 0.0, -27.0, 0.3}})
    {
        auto range = sensor_->get_property_range(r.name);
        ASSERT_TRUE(range) << r.name;
        EXPECT_EQ(range.value().min.dbl, r.min) << r.name;
        EXPECT_EQ(range.value().max.dbl, r.max) << r.name;
        EXPECT_EQ(range.value().default_value.dbl, r.def) << r.name;
        EXPECT_EQ(range.value().step.dbl, r.step) << r.name;
        EXPECT_EQ(sensor_->get_property(r.name).value().dbl, r.def) << r.name;
    }
    auto select = sensor_->get_property_range("SensorOutputSelect");
    ASSERT_TRUE(select);
    EXPECT_EQ(select.value().max.i64, 4);
    EXPECT_EQ(sensor_->get_property("SensorOutputSelect").value().i64, 0);
    EXPECT_EQ(sensor_->get_property("BlackLevel").error(), std::errc::invalid_argument);
    auto x = sensor_->get_property_range("OffsetX");
    ASSERT_TRUE(x);
    EXPECT_EQ(x.value().max.i64, 1920 - 336);
    EXPECT_EQ(x.value().step.i64, 2);

    EXPECT_EQ(korsa_sim_trace_size(), 0u); // construction touches no register
}

// The script against everything the data sheet of this mode gives. The values are copied
// here on purpose, not taken from the settings header, so a wrong paste there fails.
TEST_F(Imx390, InitScriptHasTheKnownStructureAndValues)
{
    const auto* script = scripts::qel_imx390_mode_1920x1080_27mhz_30fps;
    ASSERT_EQ(scripts::qel_imx390_mode_1920x1080_27mhz_30fps_entries, 3870u);
    EXPECT_EQ(script[3869].address, 0xFFFF);

    const auto plan = test_support::plan_of(script);
    EXPECT_EQ(plan.register_writes, 3867u);
    EXPECT_EQ(plan.bursts.size(), 246u);
    ASSERT_EQ(plan.pauses.size(), 2u);
    EXPECT_EQ(plan.pauses[0], std::make_pair(milliseconds(30), std::size_t{0}));
    EXPECT_EQ(plan.pauses[1], std::make_pair(milliseconds(30), std::size_t{246}));

    uint16_t lowest = 0xFFFF;
    uint16_t highest = 0;
    for (std::size_t i = 1; i < 3868; ++i)
    {
        lowest = std::min(lowest, script[i].address);
        highest = std::max(highest, script[i].address);
    }
    EXPECT_EQ(lowest, 0x000C);
    EXPECT_EQ(highest, 0x723F);

    // It begins ...
    std::vector<std::pair<uint16_t, uint8_t>> head = {
        {0x000C, 0x7F}, {0x000D, 0x01}, {0x000E, 0x00}, {0x0010, 0x7F},
        {0x0011, 0x01}, {0x0012, 0x00}, {0x0018, 0x64}, {0x0019, 0x00},
        {0x001A, 0x0C}, {0x001B, 0x00}, {0x0038, 0x00}};
    for (uint16_t a = 0x003C; a <= 0x0060; ++a)
    {
        const unsigned last_digit = a & 0xF;
        if (last_digit != 0x3 && last_digit != 0x7 && last_digit != 0xB && last_digit != 0xF)
        {
            head.emplace_back(a, 0x00);
        }
    }
    EXPECT_EQ(script[0].address, 0xFFFE);
    for (std::size_t i = 0; i < head.size(); ++i)
    {
        EXPECT_EQ(script[1 + i].address, head[i].first) << "entry " << 1 + i;
        EXPECT_EQ(script[1 + i].value, head[i].second) << "entry " << 1 + i;
    }
    // ... and ends.
    const std::pair<uint16_t, uint8_t> tail[] = {{0x723C, 0x01}, {0x723D, 0xF6}, {0x723E, 0x45},
                                                 {0x723F, 0x12}, {0x0232, 0x13}, {0x0233, 0x01}};
    for (std::size_t i = 0; i < std::size(tail); ++i)
    {
        const auto& e = script[3868 - std::size(tail) + i];
        EXPECT_EQ(e.address, tail[i].first) << i;
        EXPECT_EQ(e.value, tail[i].second) << i;
    }
    EXPECT_EQ(script[3868].address, 0xFFFE);
    EXPECT_EQ(script[3868].value, 30);

    // Among its values, each register written exactly once.
    const std::pair<uint16_t, uint8_t> among[] = {{0x0078, 0x00}, {0x007C, 0x00}, {0x0080, 0x00},
                                                  {0x0090, 0x00}, {0x00F9, 0x01}, {0x00FA, 0x00},
                                                  {0x013B, 0x00}, {0x03C0, 0x00}, {0x2008, 0x65},
                                                  {0x200C, 0x98}, {0x3410, 0x90}, {0x3418, 0x48}};
    for (const auto& [reg, value] : among)
    {
        std::vector<uint8_t> seen;
        for (std::size_t i = 1; i < 3868; ++i)
        {
            if (script[i].address == reg)
            {
                seen.push_back(script[i].value);
            }
        }
        EXPECT_EQ(seen, (std::vector<uint8_t>{value})) << std::hex << reg;
    }
    // Start and stop.
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx390_start).register_writes, 1u);
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx390_start).pause_total(), milliseconds(210));
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx390_stop).register_writes, 1u);
}

TEST_F(Imx390, InitGoesOutAsPlannedAndSaysThatTuningDataIsMissing)
{
    test_support::log_capture log;
    ASSERT_TRUE(sensor_->setup_format(hdr(1920, 1080), 30));
    const auto plan = test_support::plan_of(scripts::qel_imx390_mode_1920x1080_27mhz_30fps);
    const auto w = writes();
    ASSERT_GE(w.size(), plan.bursts.size());
    for (std::size_t i = 0; i < plan.bursts.size(); ++i)
    {
        ASSERT_EQ(w[i].address, plan.bursts[i].address) << "burst " << i;
        ASSERT_EQ(w[i].bytes, plan.bursts[i].bytes) << "burst " << i;
    }
    EXPECT_EQ(w[plan.bursts.size()].address, hold_register);         // then the window set-up
    EXPECT_TRUE(test_support::register_reads(bus, address).empty()); // no verification
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].trace_position, plan.bursts.size());
    EXPECT_EQ(chip_reg(0x723F), 0x12);
    EXPECT_EQ(chip_reg(0x0000), 0x01); // still in standby
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    const auto warnings = log.starting_with("IMX390 initialisation script holds placeholder");
    ASSERT_EQ(warnings.size(),
              korsa_cam::sensor::imx390_settings::maker_settings_supplied ? 0u : 1u);
    for (const auto& r : warnings)
    {
        EXPECT_EQ(r.level, spdlog::level::warn);
        EXPECT_EQ(r.file, "src/rawcam_lib/imx390/imx390_access");
    }
}

TEST_F(Imx390, StartAndStopMoveTheSensorInAndOutOfStreaming)
{
    initialise();
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    EXPECT_EQ(wire(writes()), (strings{"[00 00 00]"}));
    ASSERT_EQ(pauses_.pauses().size(), 1u);
    EXPECT_EQ(pauses_.pauses()[0].duration, milliseconds(210));
    korsa_sim_trace_clear();
    ASSERT_FALSE(sensor_->stop_stream());
    EXPECT_EQ(wire(writes()), (strings{"[00 00 01]"}));
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
}

TEST_F(Imx390, OutputSelectPicksHdrOrOneChannel)
{
    initialise();
    ASSERT_FALSE(set_int("SensorOutputSelect", 3)); // SP2
    EXPECT_EQ(wire(writes()), (strings{"[00 F9 00]", "[00 FA 02]"}));
    EXPECT_EQ(sensor_->get_property("SensorOutputSelect").value().i64, 3);
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("SensorOutputSelect", 0)); // HDR
    EXPECT_EQ(wire(writes()), (strings{"[00 F9 01]"}));
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("SensorOutputSelect", 1)); // SP1 HCG
    EXPECT_EQ(wire(writes()), (strings{"[00 F9 00]", "[00 FA 00]"}));

    // No entry past the menu: refused, nothing written, the selection kept.
    for (int64_t bad : {int64_t{4}, int64_t{5}, int64_t{-1}, int64_t{INT32_MIN}})
    {
        korsa_sim_trace_clear();
        EXPECT_EQ(set_int("SensorOutputSelect", bad), korsa_cam::status::invalid_property_value)
            << bad;
        EXPECT_EQ(korsa_sim_trace_size(), 0u) << bad;
    }
    EXPECT_EQ(sensor_->get_property("SensorOutputSelect").value().i64, 1);

    // The setter reports success even when the bus fails.
    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_FALSE(set_int("SensorOutputSelect", 2));
    EXPECT_EQ(sensor_->get_property("SensorOutputSelect").value().i64, 2);
}

TEST_F(Imx390, GainsOfBothChannels)
{
    initialise();
    test_support::log_capture log;
    // The defaults: 27 dB and -27 dB.
    ASSERT_FALSE(set("Gain", 27));
    EXPECT_EQ(wire(writes()), (strings{"[00 08 01]", "[00 1A 0A 00]", "[00 08 00]", "[00 08 01]",
                                       "[00 18 64 00]", "[00 08 00]"}));
    EXPECT_TRUE(log.has(spdlog::level::debug, "SP1L = 10 SP1H = 100"));

    // 12 dB with -20 dB: the low channel stops at 0 dB.
    ASSERT_FALSE(set("Gain", 12));
    ASSERT_FALSE(set("GainOffset", -20));
    EXPECT_EQ(last_value(writes(), 0x001A, 2), 10u);
    EXPECT_EQ(last_value(writes(), 0x0018, 2), 50u);
    EXPECT_EQ(sensor_->get_property("Gain").value().dbl, 12.0);
    EXPECT_EQ(sensor_->get_property("GainOffset").value().dbl, -20.0);

    // In range both follow the formula: 21 + -6 = 15 dB.
    ASSERT_FALSE(set("Gain", 21));
    ASSERT_FALSE(set("GainOffset", -6));
    EXPECT_EQ(last_value(writes(), 0x0018, 2), 80u);
    EXPECT_EQ(last_value(writes(), 0x001A, 2), 60u);

    // Outside the range both channels stay within 0 .. 27 dB.
    struct case_
    {
        double gain, offset;
        uint32_t sp1h, sp1l;
    };
    for (const auto& c : {case_{50, 0, 100, 100}, case_{-5, -27, 10, 10}, case_{inf, -inf, 100, 10},
                          case_{-inf, inf, 10, 10}, case_{27, 40, 100, 100}})
    {
        ASSERT_FALSE(set("Gain", c.gain));
        ASSERT_FALSE(set("GainOffset", c.offset));
        EXPECT_EQ(last_value(writes(), 0x0018, 2), c.sp1h) << c.gain << " " << c.offset;
        EXPECT_EQ(last_value(writes(), 0x001A, 2), c.sp1l) << c.gain << " " << c.offset;
    }
    korsa_sim_trace_clear();
    EXPECT_EQ(set("Gain", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(set("GainOffset", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
    EXPECT_EQ(sensor_->get_property("Gain").value().dbl, 27.0);
}

TEST_F(Imx390, ExposureAndFrameRateWithFrameMultiplication)
{
    initialise();
    test_support::log_capture log;
    // Ratio 0.5 at 30 fps and 10 ms.
    ASSERT_FALSE(set("ExposureRatio", 0.5));
    ASSERT_FALSE(set("ExposureTime", 10000));
    auto t = written_timing();
    EXPECT_EQ(t.hmax, 2200u);
    EXPECT_EQ(t.vmax, 2250u);
    EXPECT_EQ(t.fmax, 0u);
    EXPECT_EQ(t.shs1, 1575u);
    EXPECT_EQ(t.shs2, 1913u);
    EXPECT_TRUE(
        log.has(spdlog::level::debug, "HMAX = 2200 VMAX = 2250 FMAX = 0 SHS1 = 1575 SHS2 = 1913"));
    // The whole set-up inside one hold.
    korsa_sim_trace_clear();
    ASSERT_FALSE(set("ExposureRatio", 1.0));
    const auto groups = test_support::hold_groups(writes(), hold_register);
    ASSERT_EQ(groups.groups.size(), 1u);
    EXPECT_TRUE(groups.groups[0].closed);
    EXPECT_EQ(groups.groups[0].inside.size(), 5u);
    EXPECT_TRUE(groups.outside.empty());

    // 0.1 s at 30 fps spans three extra frames; the frame length stays.
    const auto m = imx390_sensor::exposure_timing(30, 0.1, 1.0);
    EXPECT_EQ(m.vmax, 2250u);
    EXPECT_EQ(m.fmax, 3u);
    EXPECT_EQ(m.shs1, 2250u);
    EXPECT_EQ(m.shs2, 2250u);
    // Through the property (microseconds): 120 ms are 8100 lines, 900 short of four frames.
    ASSERT_FALSE(set("ExposureTime", 120000));
    t = written_timing();
    EXPECT_EQ(t.vmax, 2250u);
    EXPECT_EQ(t.fmax, 3u);
    EXPECT_EQ(t.shs1, 900u);
    EXPECT_EQ(t.shs2, 900u);

    // 100 fps asks for 675 lines: the shortest frame is 1125.
    ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), 100));
    EXPECT_EQ(written_timing().vmax, 1125u);
    ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), 5));
    EXPECT_EQ(written_timing().vmax, 13500u);
}

TEST_F(Imx390, NonsenseRatesExposuresAndRatiosStayInsideTheRegisters)
{
    initialise();
    struct rate_case
    {
        double fps;
        uint32_t vmax;
    };
    for (const auto& r : {rate_case{0.0, 0xFFFFF}, rate_case{1e-9, 0xFFFFF}, rate_case{-30, 1125},
                          rate_case{nan, 1125}, rate_case{inf, 1125}, rate_case{-inf, 1125}})
    {
        ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), r.fps));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, r.vmax) << r.fps;
        EXPECT_LE(t.shs2, 0xFFFFFFu) << r.fps;
        EXPECT_GE(t.shs1, 1u) << r.fps;
    }
    // The longest exposure the registers can express: 256 frames at 60 fps (VMAX 1125), 16
    // frames when the frame is 0xFFFFF lines.
    ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), 60));
    for (double us : {1e12, inf})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.fmax, 255u) << us;
        EXPECT_EQ(t.shs1, 1u) << us;
    }
    ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), 0.0));
    auto t = written_timing();
    EXPECT_EQ(t.fmax, 15u);
    EXPECT_EQ(t.shs1, 1u);
    EXPECT_LE(t.shs2, 0xFFFFFFu);
    // A negative exposure still exposes one line.
    ASSERT_TRUE(sensor_->setup_format(linear(1920, 1080), 30));
    ASSERT_FALSE(set("ExposureTime", -5));
    t = written_timing();
    EXPECT_EQ(t.fmax, 0u);
    EXPECT_EQ(t.shs1, 2249u);
    EXPECT_EQ(t.shs2, 2249u);

    // Ratios: the second exposure is never longer than the first, never shorter than a line.
    ASSERT_FALSE(set("ExposureTime", 10000));
    ASSERT_FALSE(set("ExposureRatio", 5.0));
    EXPECT_EQ(written_timing().shs2, 1575u);
    ASSERT_FALSE(set("ExposureRatio", -1.0));
    EXPECT_EQ(written_timing().shs2, 2249u);
    EXPECT_EQ(set("ExposureRatio", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(sensor_->get_property("ExposureRatio").value().dbl, -1.0);
}

// Every combination of nonsense the properties and the frame rate can carry, through the
// driver: the registers stay inside what they can hold and keep their relations (the second
// exposure never longer than the first, the multiplier the whole frames of the first). Under
// the sanitizers this is also the proof that no conversion on the way is undefined.
TEST_F(Imx390, EveryNonsenseCombinationKeepsTheRegistersConsistent)
{
    initialise();
    const double values[] = {nan, inf, -inf, 1e300, -1e300, -1.0, 0.0, -0.0, 1e-300, 0.5, 27.0};
    for (double g : values)
    {
        for (double o : values)
        {
            (void)set("Gain", g);
            (void)set("GainOffset", o);
            const auto sp1h = chip_value(0x0018, 2);
            const auto sp1l = chip_value(0x001A, 2);
            EXPECT_GE(sp1h, 10u) << g << " " << o;
            EXPECT_LE(sp1h, 100u) << g << " " << o;
            EXPECT_GE(sp1l, 10u) << g << " " << o;
            EXPECT_LE(sp1l, 100u) << g << " " << o;
        }
    }

    const double rates[] = {nan, inf, -inf, 0.0, -0.0, 1e-300, -30.0, 1e300, 7.3, 60.0};
    const double exposures_us[] = {inf, -inf, 1e300, -1e300, -1.0, 0.0, 1e-300, 33333.0, 4e6};
    const double ratios[] = {inf, -inf, 1e300, -1.0, 0.0, 0.1, 1.0};
    for (double fps : rates)
    {
        ASSERT_TRUE(sensor_->setup_format(hdr(1920, 1080), fps)) << fps;
        for (double us : exposures_us)
        {
            ASSERT_FALSE(set("ExposureTime", us)) << us;
            for (double ratio : ratios)
            {
                korsa_sim_trace_clear();
                ASSERT_FALSE(set("ExposureRatio", ratio)) << ratio;
                const auto t = written_timing();
                SCOPED_TRACE(testing::Message() << fps << " fps, " << us << " us, ratio " << ratio);
                ASSERT_EQ(t.hmax, 2200u);
                ASSERT_GE(t.vmax, 1125u);
                ASSERT_LE(t.vmax, 0xFFFFFu);
                ASSERT_LE(t.fmax, 255u);
                const uint64_t total = uint64_t{t.vmax} * (t.fmax + 1);
                ASSERT_LE(total, 0xFFFFFFu);
                ASSERT_GE(t.shs1, 1u);
                ASSERT_LT(t.shs1, total);
                ASSERT_GE(t.shs2, t.shs1);
                ASSERT_LT(t.shs2, total);
                ASSERT_EQ(t.fmax, (total - t.shs1) / t.vmax);
            }
        }
    }

    // Menu values from anywhere in the 64-bit range never select a channel that is not there.
    for (int64_t v : {INT64_MIN, INT64_MAX, int64_t{1} << 32, (int64_t{1} << 32) + 2, int64_t{-4}})
    {
        (void)set_int("SensorOutputSelect", v);
        EXPECT_LE(chip_value(0x00FA, 1), 2u) << v;
        EXPECT_LE(chip_value(0x00F9, 1), 1u) << v;
        const auto selected = sensor_->get_property("SensorOutputSelect").value().i64;
        EXPECT_GE(selected, 0) << v;
        EXPECT_LE(selected, 3) << v;
    }
}

TEST_F(Imx390, WindowFormatAndFlips)
{
    initialise();
    ASSERT_TRUE(sensor_->setup_format(hdr(1920, 1080), 30));
    auto w = writes();
    EXPECT_EQ(last_value(w, 0x013B, 1), 0u); // piecewise-linear
    EXPECT_EQ(last_value(w, 0x03C0, 1), 1u);
    EXPECT_EQ(last_value(w, 0x0078, 1), 1u);
    EXPECT_EQ(last_value(w, 0x3410, 2), 1920u);
    EXPECT_EQ(last_value(w, 0x3418, 2), 1080u);
    EXPECT_EQ(last_value(w, 0x0074, 1), 0u);

    // The window: one hold around everything, the position inside it without a hold of its own.
    korsa_sim_trace_clear();
    ASSERT_TRUE(sensor_->setup_format(linear(1280, 720), 30));
    const auto groups = test_support::hold_groups(writes(), hold_register);
    ASSERT_EQ(groups.groups.size(), 2u); // window, timing
    EXPECT_EQ(groups.nested_opens, 0u);
    EXPECT_EQ(wire(groups.groups[0].inside),
              (strings{"[01 3B 01]", "[03 C0 01]", "[00 78 01]", "[34 10 00 05]", "[34 18 D0 02]",
                       "[00 74 00]", "[00 7C 40 01]", "[00 80 B4 00]"}));

    // Both flips.
    ASSERT_FALSE(set_int("ReverseX", 1));
    ASSERT_FALSE(set_int("ReverseY", 1));
    w = writes();
    EXPECT_EQ(last_value(w, 0x03C0, 1), 13u);
    EXPECT_EQ(last_value(w, 0x0074, 1), 3u);
    EXPECT_EQ(chip_reg(0x03C0), 13);
    ASSERT_FALSE(set_int("ReverseY", 0));
    EXPECT_EQ(last_value(writes(), 0x03C0, 1), 9u);
    EXPECT_EQ(last_value(writes(), 0x0074, 1), 2u);

    // Moving the window writes only the offsets, in one hold.
    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("OffsetX", 101));
    EXPECT_EQ(wire(writes()),
              (strings{"[00 08 01]", "[00 7C 64 00]", "[00 80 B4 00]", "[00 08 00]"}));
}

TEST_F(Imx390, RawRegisterAccessAndMissingBus)
{
    const uint8_t data[] = {0x11, 0x22};
    ASSERT_FALSE(sensor_->sensor_register_write(0x10003100, data));
    EXPECT_EQ(wire(writes()), (strings{"[31 00 11 22]"}));
    std::vector<uint8_t> buffer(2);
    std::span<uint8_t> out(buffer);
    ASSERT_FALSE(sensor_->sensor_register_read(0x3100, out));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0x11, 0x22}));
    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_EQ(sensor_->sensor_register_write(0x3100, data),
              std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(sensor_->sensor_register_read(0x3100, out),
              std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_FALSE(sensor_->test_reachable());
    korsa_sim_fail_address(bus, address, 0);
    EXPECT_TRUE(sensor_->test_reachable());

    test_support::log_capture log;
    std::unique_ptr<korsa_cam::sensor::sensor_impl_itf> s;
    EXPECT_NO_THROW(s = korsa_cam::sensor::create_imx390(3));
    EXPECT_FALSE(s);
    EXPECT_EQ(log.at_level(spdlog::level::err).size(), 1u);
    EXPECT_TRUE(korsa_cam::sensor::create_imx390(bus));
}

} // namespace
