// The IMX335 driver on its simulated board: every byte it puts on the bus.

#include "imx335/imx335_access.h"
#include "imx335/imx335_scripts.h"
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
using korsa_cam::sensor::imx335_sensor;
using sensor_test::bus;
using sensor_test::hold_register; // 0x3001, as on the IMX290
using sensor_test::sensor_address;
using std::chrono::milliseconds;
using test_support::last_value;
using test_support::wire;
using strings = std::vector<std::string>;
namespace scripts = korsa_cam::sensor::imx335_scripts;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

img::img_type rgap(int w, int h)
{
    return img::make_img_type(img::fcc::RGAP, {w, h});
}

class Imx335 : public sensor_test::board_test
{
protected:
    void SetUp() override
    {
        board_test::SetUp();
        ASSERT_EQ(korsa_sim_load_board(sensor_test::shipped_board("imx335-direct.board").c_str()),
                  0);
        korsa_sim_trace_clear();
        sensor_ = std::make_unique<imx335_sensor>(bus, true, pauses_.get());
    }

    // setup_format once, so the init scripts are behind us, then an empty trace.
    void initialise()
    {
        ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 30));
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

    // The window as last written.
    struct window
    {
        uint32_t h_size, h_start, height, v_start, v_size, end, unread_limit, black_offset;
        bool operator==(const window&) const = default;
    };
    window written_window() const
    {
        const auto w = sensor_writes();
        auto v = [&](uint16_t reg) { return last_value(w, reg, 2).value_or(0xDEAD); };
        return {v(0x302E), v(0x302C), v(0x3056), v(0x3074),
                v(0x3076), v(0x30D8), v(0x30CE), v(0x30C6)};
    }
    // The flip-dependent registers as last written: 0x304E, 0x304F, 0x3081, 0x3083, 0x30B6,
    // 0x30B7, 0x3116.
    std::vector<uint32_t> written_flips() const
    {
        const auto w = sensor_writes();
        std::vector<uint32_t> out;
        for (uint16_t reg : {0x304E, 0x304F, 0x3081, 0x3083, 0x30B6, 0x30B7, 0x3116})
        {
            out.push_back(last_value(w, reg, 1).value_or(0xDEAD));
        }
        return out;
    }
    struct timing
    {
        uint32_t vmax, shr0, hmax;
    };
    timing written_timing() const
    {
        const auto w = sensor_writes();
        return {last_value(w, 0x3030, 3).value_or(0xDEAD),
                last_value(w, 0x3058, 3).value_or(0xDEAD),
                last_value(w, 0x3034, 2).value_or(0xDEAD)};
    }

    const std::vector<uint32_t> flipped_settings{1, 1, 0xFE, 0xFE, 0xFA, 0x01, 0x02};
    const std::vector<uint32_t> unflipped_settings{1, 0, 0x02, 0x02, 0x00, 0x00, 0x08};

    std::unique_ptr<imx335_sensor> sensor_;
};

TEST_F(Imx335, FormatsRatesConnectionAndProperties)
{
    const auto colour = sensor_->get_available_format_list();
    ASSERT_EQ(colour.size(), 1u);
    EXPECT_EQ(colour[0].type, img::fcc::RGAP);
    EXPECT_EQ(colour[0].dim_min, (img::dim{320, 372}));
    EXPECT_EQ(colour[0].dim_max, (img::dim{2592, 1944}));
    EXPECT_EQ(colour[0].dim_step, (img::dim{16, 4}));
    imx335_sensor mono(bus, false);
    ASSERT_EQ(mono.get_available_format_list().size(), 1u);
    EXPECT_EQ(mono.get_available_format_list()[0].type, img::fcc::Y10P);

    EXPECT_EQ(sensor_->get_available_fps_list(rgap(2592, 1944)), (std::vector<double>{1.0, 33.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(320, 372)), (std::vector<double>{1.0, 160.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(0, -48)).size(), 2u); // defined, no trap
    const auto conn = sensor_->get_connection_config();
    EXPECT_EQ(conn.sensor_clock, 0);
    EXPECT_EQ(conn.num_output_lanes, 2);

    strings names;
    for (const auto& d : sensor_->get_property_list())
    {
        names.push_back(d.name);
    }
    EXPECT_EQ(names, (strings{"ExposureTime", "OffsetX", "OffsetY", "OffsetAutoCenter", "ReverseX",
                              "ReverseY", "SensorRegisterAddress", "SensorRegisterValue",
                              "SensorRegisterRead", "SensorRegisterWrite", "Gain", "BlackLevel"}));
    auto x = sensor_->get_property_range("OffsetX");
    auto y = sensor_->get_property_range("OffsetY");
    auto gain = sensor_->get_property_range("Gain");
    auto black = sensor_->get_property_range("BlackLevel");
    ASSERT_TRUE(x && y && gain && black);
    EXPECT_EQ(x.value().max.i64, 2272);
    EXPECT_EQ(x.value().step.i64, 12);
    EXPECT_EQ(y.value().max.i64, 1572);
    EXPECT_EQ(y.value().step.i64, 2);
    EXPECT_EQ(gain.value().max.dbl, 72.0);
    EXPECT_EQ(gain.value().step.dbl, 0.3);
    EXPECT_EQ(black.value().max.dbl, 1023.0);
    EXPECT_EQ(black.value().default_value.dbl, 50.0);
    // Upright is what the user sees as unflipped.
    EXPECT_EQ(sensor_->get_property("ReverseX").value().i64, 0);
    EXPECT_EQ(sensor_->get_property("ReverseY").value().i64, 0);
    EXPECT_EQ(sensor_->get_property("TriggerMode").error(), std::errc::invalid_argument);

    EXPECT_EQ(korsa_sim_trace_size(), 0u); // construction touches no register
}

TEST_F(Imx335, ScriptTablesHoldEveryEntry)
{
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx335_mode_init).register_writes, 4u);
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx335_inck_1188Mbps_24Mhz).register_writes, 8u);
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx335_common_regs).register_writes, 66u);
    const auto mode = test_support::plan_of(scripts::qel_imx335_mode_2592x1944_10bit_30fps_2lane);
    EXPECT_EQ(mode.register_writes, 159u);
    EXPECT_TRUE(mode.pauses.empty());
    const auto start = test_support::plan_of(scripts::qel_imx335_start);
    EXPECT_EQ(start.register_writes, 2u);
    EXPECT_EQ(start.pause_total(), milliseconds(240));
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx335_stop).register_writes, 1u);
}

TEST_F(Imx335, InitPlaysTheFourScriptsInOrderAndStaysInStandby)
{
    ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 30));
    std::vector<test_support::expected_burst> expected;
    for (const auto* script :
         {scripts::qel_imx335_mode_init, scripts::qel_imx335_inck_1188Mbps_24Mhz,
          scripts::qel_imx335_common_regs, scripts::qel_imx335_mode_2592x1944_10bit_30fps_2lane})
    {
        const auto plan = test_support::plan_of(script);
        expected.insert(expected.end(), plan.bursts.begin(), plan.bursts.end());
    }
    const auto w = sensor_writes();
    std::size_t init_end = 0;
    while (init_end < w.size() &&
           !(w[init_end].address == hold_register && w[init_end].bytes == std::vector<uint8_t>{1}))
    {
        ++init_end;
    }
    ASSERT_EQ(init_end, expected.size());
    for (std::size_t i = 0; i < init_end; ++i)
    {
        EXPECT_EQ(w[i].address, expected[i].address) << "burst " << i;
        EXPECT_EQ(w[i].bytes, expected[i].bytes) << "burst " << i;
    }
    EXPECT_TRUE(sensor_reads().empty()); // played without verification
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].duration, milliseconds(10));
    EXPECT_EQ(p[0].trace_position, 0u);

    EXPECT_EQ(chip_reg(0x3000), 0x01);
    EXPECT_EQ(chip_reg(0x3002), 0x01);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(chip_reg(0x3A28), 0x3F); // the mode's last values arrived
    EXPECT_EQ(chip_reg(0x319E), 0x01); // and the clock set-up's
}

TEST_F(Imx335, StartAndStopMoveTheSensorInAndOutOfStreaming)
{
    initialise();
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 00]", "[30 02 00]"}));
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].duration, milliseconds(30));
    EXPECT_EQ(p[0].trace_position, 1u);
    EXPECT_EQ(p[1].duration, milliseconds(210));
    EXPECT_EQ(p[1].trace_position, 2u);

    korsa_sim_trace_clear();
    ASSERT_FALSE(sensor_->stop_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 01]"}));
}

TEST_F(Imx335, UprightFullFrameUsesTheFlippedAddressingInOneHold)
{
    initialise();
    ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 30));
    const auto groups = test_support::hold_groups(sensor_writes(), hold_register);
    ASSERT_EQ(groups.groups.size(), 2u); // window, then timing
    EXPECT_TRUE(groups.outside.empty());
    EXPECT_EQ(wire(groups.groups[0].inside),
              (strings{"[30 18 04]", "[30 2E 20 0A]", "[30 2C 3C 00]", "[30 56 98 07]",
                       "[30 74 F8 0F]", "[30 76 30 0F]", "[30 D8 4C 10]", "[30 CE 00 00]",
                       "[30 C6 00 00]", "[30 4E 01]", "[30 4F 01]", "[30 81 FE]", "[30 83 FE]",
                       "[30 B6 FA]", "[30 B7 01]", "[31 16 02]"}));
    // S = 4088, E = 4172 (capped), at the edge: B = U = 0.
    EXPECT_EQ(written_window(), (window{2592, 60, 1944, 4088, 3888, 4172, 0, 0}));
    EXPECT_EQ(chip_reg(0x304E), 1);
    EXPECT_EQ(chip_reg(0x304F), 1);
}

TEST_F(Imx335, ReversedFullFrameUsesTheUnflippedAddressing)
{
    initialise();
    ASSERT_FALSE(set_int("ReverseY", 1));
    EXPECT_EQ(sensor_->get_property("ReverseY").value().i64, 1);
    // S = 200, E = 4172 (capped), at the edge: B = U = 0.
    EXPECT_EQ(written_window(), (window{2592, 60, 1944, 200, 3888, 4172, 0, 0}));
    EXPECT_EQ(written_flips(), unflipped_settings);

    ASSERT_FALSE(set_int("ReverseX", 1));
    EXPECT_EQ(sensor_->get_property("ReverseX").value().i64, 1);
    EXPECT_EQ(last_value(sensor_writes(), 0x304E, 1), 0u);
    ASSERT_FALSE(set_int("ReverseY", 0));
    auto flips = flipped_settings;
    flips[0] = 0;
    EXPECT_EQ(written_flips(), flips);
}

TEST_F(Imx335, CentredWindowStartsInsideTheArray)
{
    initialise();
    ASSERT_FALSE(set_int("ReverseY", 1));
    // 1920x1080 centred at (336, 432), hardware flip clear: S = 1064, E = 3432, B = 18,
    // U = 100.
    ASSERT_TRUE(sensor_->setup_format(rgap(1920, 1080), 30));
    EXPECT_EQ(written_window(), (window{1920, 396, 1080, 1064, 2160, 3432, 100, 18}));

    // Upright the same window counts from the bottom: S = (1022 - 216) x 4.
    ASSERT_FALSE(set_int("ReverseY", 0));
    EXPECT_EQ(written_window(), (window{1920, 396, 1080, 3224, 2160, 4172, 100, 18}));
}

TEST_F(Imx335, MovingTheWindowRewritesTheVerticalAddressingAtItsEdges)
{
    initialise();
    ASSERT_TRUE(sensor_->setup_format(rgap(1920, 1080), 30));
    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int("ReverseY", 1));
    struct edge_case
    {
        int y;
        uint32_t start, black_offset;
    };
    // Unflipped the companions switch on above address 275.
    for (const auto& c : {edge_case{36, 272, 0}, edge_case{38, 276, 18}})
    {
        korsa_sim_trace_clear();
        ASSERT_FALSE(set_int("OffsetY", c.y));
        const auto w = written_window();
        EXPECT_EQ(w.v_start, c.start) << c.y;
        EXPECT_EQ(w.black_offset, c.black_offset) << c.y;
        EXPECT_EQ(w.unread_limit, c.black_offset == 0 ? 0u : 100u) << c.y;
        EXPECT_EQ(w.v_size, 2160u); // the height of the current format
        EXPECT_EQ(written_flips(), unflipped_settings);
    }
    // Flipped they are on up to 4012.
    ASSERT_FALSE(set_int("ReverseY", 0));
    for (const auto& c : {edge_case{826, 4012, 18}, edge_case{828, 4016, 0}})
    {
        korsa_sim_trace_clear();
        ASSERT_FALSE(set_int("OffsetY", c.y));
        const auto w = written_window();
        EXPECT_EQ(w.v_start, c.start) << c.y;
        EXPECT_EQ(w.black_offset, c.black_offset) << c.y;
        EXPECT_EQ(written_flips(), flipped_settings);
    }
}

TEST_F(Imx335, WidthAndOffsetRounding)
{
    initialise();
    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    ASSERT_TRUE(sensor_->setup_format(rgap(1000, 1944), 30));
    EXPECT_EQ(written_window().h_size, 1008u); // next multiple of 24
    ASSERT_FALSE(set_int("OffsetX", 130));
    EXPECT_EQ(sensor_->get_property("OffsetX").value().i64, 120);
    EXPECT_EQ(written_window().h_start, 180u); // 120 + 60
    EXPECT_EQ(written_window().h_size, 1008u);
    // Clamped to the room left (1592), the driver's own rounding to 12 shows: 1584 + 60.
    ASSERT_FALSE(set_int("OffsetX", 2004));
    EXPECT_EQ(written_window().h_start, 1644u);
    ASSERT_TRUE(sensor_->setup_format(rgap(1920, 1944), 30));
    EXPECT_EQ(written_window().h_size, 1920u); // already a multiple
}

TEST_F(Imx335, FrameLengthFollowsRateAndExposure)
{
    initialise();
    ASSERT_FALSE(set("ExposureTime", 10000));
    // 1944 lines, 30 fps, 10 ms: VMAX 4500, 1349 lines of exposure; HMAX first.
    const auto groups = test_support::hold_groups(sensor_writes(), hold_register);
    ASSERT_EQ(groups.groups.size(), 1u);
    EXPECT_EQ(wire(groups.groups[0].inside),
              (strings{"[30 34 26 02]", "[30 30 94 11 00]", "[30 58 4F 0C 00]"}));

    ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 1));
    EXPECT_EQ(written_timing().vmax, 135000u);
    ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 60));
    EXPECT_EQ(written_timing().vmax, 3984u); // 2 x (1944 + 48)
    ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 30));
    ASSERT_FALSE(set("ExposureTime", 100000));
    auto t = written_timing();
    EXPECT_EQ(t.vmax, 13508u); // 13499 + 9
    EXPECT_EQ(t.shr0, 9u);
    EXPECT_EQ(t.hmax, 550u);
}

TEST_F(Imx335, ExposureShorterThanTheOffsetIsZeroLines)
{
    initialise();
    for (double us : {1.0, 0.0, -5.0})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, 4500u) << us;
        EXPECT_EQ(t.shr0, 4499u) << us;
    }
    // Where nothing else asks for lines, the frame is the 10 that 0 exposure lines need.
    ASSERT_TRUE(sensor_->setup_format(rgap(16, -48), inf));
    const auto t = written_timing();
    EXPECT_EQ(t.vmax, 10u);
    EXPECT_EQ(t.shr0, 9u);
}

// In the sanitizer build an undefined conversion fails the test.
TEST_F(Imx335, NonsenseRatesAndValuesStayInsideTheRegisters)
{
    initialise();
    struct rate_case
    {
        double fps;
        uint32_t vmax;
    };
    const rate_case rates[] = {
        {0.0, 0xFFFFF}, {1e-9, 0xFFFFF}, {-30.0, 3984}, {nan, 3984}, {inf, 3984}, {-inf, 3984},
    };
    for (const auto& r : rates)
    {
        ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), r.fps));
        EXPECT_EQ(written_timing().vmax, r.vmax) << "fps " << r.fps;
    }
    ASSERT_TRUE(sensor_->setup_format(rgap(2592, 1944), 30));
    for (double us : {1e15, inf})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, 0xFFFFFu) << us; // cut to the longest frame
        EXPECT_EQ(t.shr0, 9u) << us;
    }
    ASSERT_FALSE(set("ExposureTime", -inf));
    EXPECT_EQ(written_timing().shr0, 4499u);

    ASSERT_FALSE(set("Gain", inf));
    EXPECT_EQ(last_value(sensor_writes(), 0x30E8, 2), 0xFFFFu);
    ASSERT_FALSE(set("Gain", 6.0));
    EXPECT_EQ(last_value(sensor_writes(), 0x30E8, 2), 20u);
    ASSERT_FALSE(set("BlackLevel", -7));
    EXPECT_EQ(last_value(sensor_writes(), 0x3302, 2), 0u);
    const auto before = sensor_writes().size();
    EXPECT_EQ(set("ExposureTime", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(set("Gain", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(set("BlackLevel", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(sensor_writes().size(), before); // refused before any register is touched

    // Offsets and sizes nowhere on the sensor: every window register saturates, nothing
    // wraps around.
    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int("OffsetX", INT32_MIN));
    ASSERT_FALSE(set_int("OffsetY", INT32_MIN));
    auto w = written_window();
    EXPECT_EQ(w.h_start, 0u);
    EXPECT_EQ(w.v_start, 0u); // flipped: far past the bottom of the addresses
    ASSERT_FALSE(set_int("ReverseY", 1));
    EXPECT_EQ(written_window().v_start, 0u);
    ASSERT_TRUE(sensor_->setup_format(rgap(-100, 1 << 30), 30));
    w = written_window();
    EXPECT_EQ(w.h_size, 0u);
    EXPECT_EQ(w.height, 0xFFFFu);
    EXPECT_EQ(w.v_size, 0xFFFFu);
    EXPECT_EQ(written_timing().vmax, 0xFFFFFu);
    // The extremes of the size fields, both ways round, at both vertical directions.
    for (int reverse_y : {0, 1})
    {
        ASSERT_FALSE(set_int("ReverseY", reverse_y));
        ASSERT_TRUE(sensor_->setup_format(rgap(INT32_MAX, INT32_MIN), 0.0));
        w = written_window();
        EXPECT_EQ(w.h_size, 0xFFFFu) << reverse_y;
        EXPECT_EQ(w.height, 0u) << reverse_y;
        EXPECT_EQ(written_timing().vmax, 0xFFFFFu) << reverse_y; // 0 fps: the longest frame
        ASSERT_TRUE(sensor_->setup_format(rgap(INT32_MIN, INT32_MAX), -inf));
        w = written_window();
        EXPECT_EQ(w.h_size, 0u) << reverse_y;
        EXPECT_EQ(w.v_size, 0xFFFFu) << reverse_y;
    }
    EXPECT_EQ(sensor_->get_available_fps_list(rgap(0, INT32_MAX)).size(), 2u);
}

TEST_F(Imx335, RawRegisterAccessBusErrorsAndCreation)
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
    korsa_sim_fail_address(bus, sensor_address, 0);

    test_support::log_capture log;
    std::unique_ptr<korsa_cam::sensor::sensor_impl_itf> s;
    EXPECT_NO_THROW(s = korsa_cam::sensor::create_imx335(3, true));
    EXPECT_FALSE(s);
    EXPECT_EQ(log.at_level(spdlog::level::err).size(), 1u);
    s = korsa_cam::sensor::create_imx335(bus, false);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->get_available_format_list().at(0).type, img::fcc::Y10P);
}

} // namespace
