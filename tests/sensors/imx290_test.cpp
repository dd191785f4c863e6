// The IMX290 driver on the simulated board: every byte it puts on the bus.

#include "imx290/imx290_access.h"
#include "imx290/imx290_scripts.h"
#include "script_bursts.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>
#include <vector>

namespace {

using korsa_cam::prop_values;
using korsa_cam::sensor::imx290_sensor;
using sensor_test::bus;
using sensor_test::hold_register;
using sensor_test::sensor_address;
using std::chrono::milliseconds;
using test_support::last_value;
using test_support::wire;
using strings = std::vector<std::string>;
namespace scripts = korsa_cam::sensor::imx290_scripts;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

img::img_type rggb(int w, int h)
{
    return img::make_img_type(img::fcc::RGDP, {w, h});
}

class Imx290 : public sensor_test::board_test
{
protected:
    void SetUp() override
    {
        board_test::SetUp();
        sensor_ = std::make_unique<imx290_sensor>(bus, true, pauses_.get());
    }

    // setup_format once, so the init script is behind us, then an empty trace.
    void initialise()
    {
        ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
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

    // The frame timing registers as last written.
    struct timing
    {
        uint32_t vmax, shs1, shs2;
    };
    timing written_timing() const
    {
        const auto w = sensor_writes();
        return {last_value(w, 0x3018, 3).value_or(0xDEAD),
                last_value(w, 0x3020, 3).value_or(0xDEAD),
                last_value(w, 0x3024, 3).value_or(0xDEAD)};
    }

    std::unique_ptr<imx290_sensor> sensor_;
};

TEST_F(Imx290, FormatsRatesConnectionAndProperties)
{
    const auto colour = sensor_->get_available_format_list();
    ASSERT_EQ(colour.size(), 1u);
    EXPECT_EQ(colour[0].type, img::fcc::RGDP);
    EXPECT_EQ(colour[0].dim_min, (img::dim{368, 304}));
    EXPECT_EQ(colour[0].dim_max, (img::dim{1920, 1080}));
    EXPECT_EQ(colour[0].dim_step, (img::dim{16, 4}));
    imx290_sensor mono(bus, false);
    const auto m = mono.get_available_format_list();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].type, img::fcc::Y1DP);
    EXPECT_EQ(m[0].dim_max, (img::dim{1920, 1080}));

    EXPECT_EQ(sensor_->get_available_fps_list(rggb(1920, 1080)), (std::vector<double>{1.0, 61.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(rggb(368, 304)), (std::vector<double>{1.0, 208.0}));
    EXPECT_EQ(sensor_->get_available_fps_list(rggb(0, -19)).size(), 2u); // defined, no trap

    const auto conn = sensor_->get_connection_config();
    EXPECT_EQ(conn.sensor_clock, 2);
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
    EXPECT_EQ(x.value().max.i64, 1552);
    EXPECT_EQ(x.value().step.i64, 4);
    EXPECT_EQ(y.value().max.i64, 776);
    EXPECT_EQ(y.value().step.i64, 2);
    EXPECT_EQ(gain.value().max.dbl, 72.0);
    EXPECT_EQ(gain.value().step.dbl, 0.3);
    EXPECT_EQ(black.value().max.dbl, 511.0);
    EXPECT_EQ(black.value().default_value.dbl, 240.0);

    EXPECT_EQ(korsa_sim_trace_size(), 0u); // construction touches no register
}

TEST_F(Imx290, InitScriptTableHoldsEveryEntryInOrder)
{
    const auto plan = test_support::plan_of(scripts::qel_imx290_mode_1920x1080_60fps);
    EXPECT_EQ(plan.register_writes, 111u);
    ASSERT_EQ(plan.pauses.size(), 3u);
    EXPECT_EQ(plan.pauses[0], std::make_pair(milliseconds(10), std::size_t{0}));
    EXPECT_EQ(plan.pauses[1], std::make_pair(milliseconds(50), std::size_t{1}));
    EXPECT_EQ(plan.pauses[2], std::make_pair(milliseconds(50), std::size_t{4}));
    // Counted by hand from the register list: 42 runs of consecutive addresses, the longest
    // 0x3004..0x3022.
    EXPECT_EQ(plan.bursts.size(), 42u);
    EXPECT_EQ(plan.bursts[4].address, 0x3004);
    EXPECT_EQ(plan.bursts[4].bytes.size(), 31u);
    EXPECT_EQ(plan.bursts.back().address, 0x3005);
    EXPECT_EQ(plan.bursts.back().bytes, (std::vector<uint8_t>{0x01}));

    const auto start = test_support::plan_of(scripts::qel_imx290_start);
    EXPECT_EQ(start.register_writes, 3u);
    EXPECT_EQ(start.pause_total(), milliseconds(240));
    EXPECT_EQ(test_support::plan_of(scripts::qel_imx290_stop).register_writes, 1u);
}

TEST_F(Imx290, InitReachesTheChipInTheMinimumBlockWritesWithEveryValue)
{
    test_support::log_capture log;
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    const auto plan = test_support::plan_of(scripts::qel_imx290_mode_1920x1080_60fps);

    // The init traffic is everything before the first hold write of the window set-up.
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

    // The pauses fall where the script puts them.
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), plan.pauses.size());
    for (std::size_t i = 0; i < p.size(); ++i)
    {
        EXPECT_EQ(p[i].duration, plan.pauses[i].first);
        EXPECT_EQ(p[i].trace_position, plan.pauses[i].second);
    }
    // The sensor stays in standby with its master sequence stopped.
    EXPECT_EQ(chip_reg(0x3000), 0x01);
    EXPECT_EQ(chip_reg(0x3002), 0x01);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(chip_reg(0x3480), 0x49);
    EXPECT_EQ(chip_reg(0x3048), 0x30); // written twice, the last value holds
    EXPECT_EQ(log.lines_starting_with("imx290_sensor::configure_init"),
              (strings{"imx290_sensor::configure_init"}));
}

TEST_F(Imx290, SoftwareResetInTheInitScriptClearsEarlierWrites)
{
    korsa_sim::set_regs(bus, sensor_address, 0x3200, {0x5A});
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    EXPECT_EQ(chip_reg(0x3200), 0x00);
    EXPECT_EQ(chip_reg(0x3003), 0x00);

    // A reset inside a burst: the bytes after it still land at their addresses.
    linux_helper::i2c_com raw(bus, sensor_address);
    const uint8_t burst[] = {0x01, 0x10, 0x22};
    ASSERT_FALSE(raw.write16_block(0x3003, burst));
    EXPECT_EQ(chip_reg(0x3003), 0x00);
    EXPECT_EQ(chip_reg(0x3004), 0x10);
    EXPECT_EQ(chip_reg(0x3005), 0x22);
    EXPECT_EQ(chip_reg(0x3000), 0x01); // back in standby
    EXPECT_EQ(chip_reg(0x3480), 0x00); // the script's value is gone
}

TEST_F(Imx290, StartAndStopMoveTheSensorInAndOutOfStreaming)
{
    initialise();
    test_support::log_capture log;
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 00]", "[30 02 00]", "[30 49 02]"}));
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].duration, milliseconds(30));
    EXPECT_EQ(p[0].trace_position, 1u);
    EXPECT_EQ(p[1].duration, milliseconds(210));
    EXPECT_EQ(p[1].trace_position, 3u);

    korsa_sim_trace_clear();
    ASSERT_FALSE(sensor_->stop_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 01]"}));
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    EXPECT_EQ(log.lines_starting_with("imx290_sensor::st"),
              (strings{"imx290_sensor::start_stream", "imx290_sensor::stop_stream",
                       "imx290_sensor::start_stream"}));
    EXPECT_EQ(log.at_level(spdlog::level::trace).size(), 3u);
}

TEST_F(Imx290, FullWindowAndTimingGoOutInsideTwoHolds)
{
    initialise();
    test_support::log_capture log;
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    // Window: 0x40, width 1920, height 1080 (twice: window and output), position 12 / 8.
    // Timing at 30 fps with the default 1/120 s: VMAX 2250, SHS1 2250 - 562, SHS2 562.
    EXPECT_EQ(
        wire(sensor_writes()),
        (strings{"[30 01 01]", "[30 07 40]", "[30 42 80 07]", "[30 3E 38 04]", "[34 72 80 07]",
                 "[34 18 38 04]", "[30 40 0C 00]", "[30 3C 08 00]", "[30 01 00]", "[30 01 01]",
                 "[30 18 CA 08 00]", "[30 20 98 06 00]", "[30 24 32 02 00]", "[30 01 00]"}));
    EXPECT_TRUE(log.has(spdlog::level::debug, "imx290_sensor::configure_roi 1920x1080"));
}

TEST_F(Imx290, FlipsSetTheModeBitsAndMoveTheWindowByOne)
{
    initialise();
    ASSERT_FALSE(set_int("ReverseX", 1));
    ASSERT_FALSE(set_int("ReverseY", 1));
    const auto w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3007, 1), 0x43u);
    EXPECT_EQ(last_value(w, 0x3040, 2), 13u);
    EXPECT_EQ(last_value(w, 0x303C, 2), 9u);
    EXPECT_EQ(chip_reg(0x3007), 0x43);

    ASSERT_FALSE(set_int("ReverseX", 0));
    EXPECT_EQ(last_value(sensor_writes(), 0x3007, 1), 0x41u);
    EXPECT_EQ(last_value(sensor_writes(), 0x3040, 2), 12u);
}

TEST_F(Imx290, CroppedWindowCentredAndMovedByTheOffsets)
{
    initialise();
    ASSERT_TRUE(sensor_->setup_format(rggb(1280, 720), 30));
    auto w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3042, 2), 1280u);
    EXPECT_EQ(last_value(w, 0x303E, 2), 720u);
    EXPECT_EQ(last_value(w, 0x3472, 2), 1280u);
    EXPECT_EQ(last_value(w, 0x3418, 2), 720u);
    EXPECT_EQ(last_value(w, 0x3040, 2), 320u + 12);
    EXPECT_EQ(last_value(w, 0x303C, 2), 180u + 8);

    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("OffsetX", 101));
    // Only the position moves, inside one hold.
    EXPECT_EQ(wire(sensor_writes()),
              (strings{"[30 01 01]", "[30 40 70 00]", "[30 3C BC 00]", "[30 01 00]"}));
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("OffsetX", 100));
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
}

TEST_F(Imx290, FrameLengthFollowsRateAndExposure)
{
    initialise();
    // 1 fps: 67500 lines, below the 0x3FFFF cap.
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 1));
    EXPECT_EQ(written_timing().vmax, 67500u);

    // 30 fps, 10 ms: VMAX 2250, SHS1 1575, 675 lines of exposure.
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    ASSERT_FALSE(set("ExposureTime", 10000));
    auto t = written_timing();
    EXPECT_EQ(t.vmax, 2250u);
    EXPECT_EQ(t.shs1, 1575u);
    EXPECT_EQ(t.shs2, 675u);

    // Exposure 0 still exposes one line.
    ASSERT_FALSE(set("ExposureTime", 0));
    t = written_timing();
    EXPECT_EQ(t.vmax, 2250u);
    EXPECT_EQ(t.shs1, 2249u);
    EXPECT_EQ(t.shs2, 1u);

    // Faster than the height allows: the shortest frame, height + 19.
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 120));
    EXPECT_EQ(written_timing().vmax, 1099u);

    // A long exposure stretches the frame: 80 ms at 60 fps needs 5400 + 2 lines.
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 60));
    EXPECT_EQ(written_timing().vmax, 1125u);
    ASSERT_FALSE(set("ExposureTime", 80000));
    t = written_timing();
    EXPECT_EQ(t.vmax, 5402u);
    EXPECT_EQ(t.shs1, 2u);
    EXPECT_EQ(t.shs2, 5400u);
}

// Frame rates and property values outside any sense: the registers get defined values at
// the ends of their range. In the sanitizer build an undefined conversion fails the test.
TEST_F(Imx290, NonsenseRatesAndValuesStayInsideTheRegisters)
{
    initialise();
    struct rate_case
    {
        double fps;
        uint32_t vmax;
    };
    const rate_case rates[] = {
        {0.0, 0x3FFFF}, {1e-9, 0x3FFFF}, {-30.0, 1099}, {nan, 1099}, {inf, 1099}, {-inf, 1099},
    };
    for (const auto& r : rates)
    {
        ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), r.fps));
        EXPECT_EQ(written_timing().vmax, r.vmax) << "fps " << r.fps;
    }

    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    // Longer than the longest frame: cut to it.
    for (double us : {1e15, inf})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, 0x3FFFFu) << us;
        EXPECT_EQ(t.shs2, 0x3FFFDu) << us;
        EXPECT_EQ(t.shs1, 2u) << us;
    }
    for (double us : {-1.0, -inf})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.vmax, 2250u) << us;
        EXPECT_EQ(t.shs2, 1u) << us;
    }
    EXPECT_EQ(set("ExposureTime", nan), std::errc::argument_out_of_domain);

    // Offsets below the sensor's origin put the window at 0, never wrapping around.
    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    ASSERT_FALSE(set_int("OffsetX", -100));
    ASSERT_FALSE(set_int("OffsetY", INT32_MIN));
    auto w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3040, 2), 0u);
    EXPECT_EQ(last_value(w, 0x303C, 2), 0u);
    ASSERT_FALSE(set_int("OffsetX", INT32_MAX)); // clamped to the room left: none
    EXPECT_EQ(last_value(sensor_writes(), 0x3040, 2), 12u);

    ASSERT_FALSE(set("Gain", inf));
    EXPECT_EQ(last_value(sensor_writes(), 0x3014, 2), 0xFFFFu);
    ASSERT_FALSE(set("Gain", -3));
    EXPECT_EQ(last_value(sensor_writes(), 0x3014, 2), 0u);
    ASSERT_FALSE(set("BlackLevel", 1e300));
    EXPECT_EQ(last_value(sensor_writes(), 0x300A, 2), 511u);

    // A format with a nonsense size still gives defined register values.
    ASSERT_TRUE(sensor_->setup_format(rggb(-16, 1 << 30), 30));
    w = sensor_writes();
    EXPECT_EQ(last_value(w, 0x3042, 2), 0u);
    EXPECT_EQ(last_value(w, 0x303E, 2), 0xFFFFu);
    EXPECT_EQ(written_timing().vmax, 0x3FFFFu);
}

TEST_F(Imx290, RawRegisterAccessUsesTheLow16AddressBits)
{
    const uint8_t data[] = {0x11, 0x22, 0x33};
    ASSERT_FALSE(sensor_->sensor_register_write(0xABCD3100, data));
    EXPECT_EQ(wire(sensor_writes()), (strings{"[31 00 11 22 33]"}));
    korsa_sim_trace_clear();
    std::vector<uint8_t> buffer(3);
    std::span<uint8_t> out(buffer);
    ASSERT_FALSE(sensor_->sensor_register_read(0x13100, out));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0x11, 0x22, 0x33}));
    const auto reads = sensor_reads();
    ASSERT_EQ(reads.size(), 1u); // one multi-byte read
    EXPECT_EQ(reads[0].address, 0x3100);

    korsa_sim_fail_address(bus, sensor_address, EREMOTEIO);
    EXPECT_EQ(sensor_->sensor_register_write(0x3100, data),
              std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(sensor_->sensor_register_read(0x3100, out),
              std::error_code(EREMOTEIO, std::generic_category()));
}

TEST_F(Imx290, FailingWriteInTheInitScriptIsLoggedAndTheRestIsSent)
{
    test_support::log_capture log;
    // The sixth block write is the run 0x303A..0x3043.
    korsa_sim_fail_nth(6, EREMOTEIO);
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    EXPECT_EQ(log.lines_starting_with("write_script"),
              (strings{"write_script -- write failed for address [303a], value c"}));
    EXPECT_EQ(chip_reg(0x303A), 0x00); // lost
    EXPECT_EQ(chip_reg(0x3046), 0x01); // the next run arrived
    EXPECT_EQ(chip_reg(0x3480), 0x49); // and the end of the script
    EXPECT_EQ(chip_reg(0x3007), 0x40); // and the window set-up after it
}

TEST_F(Imx290, FailingPropertyWriteReturnsTheBusErrorAndKeepsTheValue)
{
    initialise();
    korsa_sim_fail_address(bus, sensor_address, EREMOTEIO);
    const std::error_code remote(EREMOTEIO, std::generic_category());
    EXPECT_EQ(set("Gain", 6.0), remote);
    EXPECT_EQ(set("BlackLevel", 100), remote);
    EXPECT_EQ(set_int("SensorRegisterWrite", 1), remote);
    // The window and timing operations log their failures but report success, so these
    // properties succeed and keep their values.
    EXPECT_FALSE(set("ExposureTime", 5000));
    EXPECT_FALSE(set_int("ReverseX", 1));
    korsa_sim_fail_address(bus, sensor_address, 0);
    for (const char* name : {"Gain", "BlackLevel", "ExposureTime", "ReverseX"})
    {
        auto v = sensor_->get_property(name);
        ASSERT_TRUE(v) << name;
    }
    EXPECT_EQ(sensor_->get_property("Gain").value().dbl, 6.0);
    EXPECT_EQ(sensor_->get_property("BlackLevel").value().dbl, 100.0);
    EXPECT_DOUBLE_EQ(sensor_->get_property("ExposureTime").value().dbl, 5000.0);
    EXPECT_EQ(sensor_->get_property("ReverseX").value().i64, 1);
    EXPECT_TRUE(sensor_->test_reachable());
}

TEST_F(Imx290, CreationOnAMissingBusGivesNothingAndThrowsNothing)
{
    test_support::log_capture log;
    std::unique_ptr<korsa_cam::sensor::sensor_impl_itf> s;
    EXPECT_NO_THROW(s = korsa_cam::sensor::create_imx290(3, true));
    EXPECT_FALSE(s);
    EXPECT_EQ(log.at_level(spdlog::level::err).size(), 1u);
    auto ok = korsa_cam::sensor::create_imx290(bus, false);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->get_available_format_list().at(0).type, img::fcc::Y1DP);
}

// What the bring-up costs on the bus (init, window and timing, start), against the pauses the
// sensor needs. Prints the figures; fails if the player needs more block writes than the
// scripts' runs of consecutive addresses allow.
TEST_F(Imx290, BringUpBusCost)
{
    ASSERT_TRUE(sensor_->setup_format(rggb(1920, 1080), 30));
    ASSERT_FALSE(sensor_->start_stream());
    const auto t = korsa_sim::trace();
    std::size_t data_bytes = 0;
    for (const auto& x : t)
    {
        EXPECT_FALSE(x.read);
        EXPECT_EQ(x.error, 0);
        data_bytes += x.data.size();
    }
    const auto init = test_support::plan_of(scripts::qel_imx290_mode_1920x1080_60fps);
    const auto start = test_support::plan_of(scripts::qel_imx290_start);
    // Window: hold, mode, four sizes, two positions, release. Timing: hold, three, release.
    constexpr std::size_t window_and_timing = 9 + 5;
    EXPECT_EQ(t.size(), init.bursts.size() + window_and_timing + start.bursts.size());

    // Each transaction: the device address byte, then its data; 9 clocks a byte at 400 kHz.
    const std::size_t wire_bytes = data_bytes + t.size();
    const double bus_ms = wire_bytes * 9 / 400.0;
    const auto script_only = init.wire_bytes() + init.bursts.size();
    std::cout << "IMX290 bring-up: " << t.size() << " transactions (init script "
              << init.bursts.size() << " for " << init.register_writes << " registers), "
              << wire_bytes << " bytes on the wire (init script " << script_only << "), " << bus_ms
              << " ms of bus time at 400 kHz (init script " << script_only * 9 / 400.0
              << " ms); mandated pauses " << pauses_.total().count() << " ms (init "
              << init.pause_total().count() << ", start " << start.pause_total().count() << ")\n";
    EXPECT_EQ(pauses_.total(), init.pause_total() + start.pause_total());
}

} // namespace
