// The FPD-Link connection: both chip scripts, the serializer's lane count and clock, on the
// simulated deserializer and serializer.

#include "bringup_test_support.h"
#include "fpd_link.h"
#include "rawcam_error.h"

#include <cerrno>

namespace {

using board_test::log_capture;
using board_test::shipped_board;
using board_test::text_board;
using bringup_test::board_text;
using bringup_test::chip;
using bringup_test::messages_to;
using bringup_test::pause_ms;
using bringup_test::register_writes;
using korsa_cam::fpd_link_itf;
using korsa_cam::status;
using writes = std::vector<std::pair<uint8_t, uint8_t>>;

constexpr int bus10 = 10;
constexpr int deser = 0x30;
constexpr int ser = 0x31;

writes script_writes(std::span<const korsa_cam::fpdlink_reg> script)
{
    writes out;
    for (const auto& e : script)
    {
        out.emplace_back(e.reg, e.value);
    }
    return out;
}

class FpdLink : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-fpdlink.board").c_str()), 0)
            << "the simulated board library must be preloaded";
    }

    // A connection on the shipped board, the trace cleared afterwards.
    std::shared_ptr<fpd_link_itf> connect(const test_support::recording_sleeper& rec)
    {
        auto c = korsa_cam::connect_fpd_link(bus10, rec.get());
        EXPECT_TRUE(c) << c.error().message();
        korsa_sim_trace_clear();
        return c ? std::dynamic_pointer_cast<fpd_link_itf>(c.value()) : nullptr;
    }
};

TEST_F(FpdLink, ConnectWritesBothScriptsWithTheirPauses)
{
    auto rec = bringup_test::trace_sleeper();
    korsa_sim_trace_clear();
    auto c = korsa_cam::connect_fpd_link(bus10, rec.get());
    ASSERT_TRUE(c) << c.error().message();
    EXPECT_EQ(c.value()->bus(), bus10);
    EXPECT_EQ(register_writes(deser), script_writes(korsa_cam::fpd_link::deserializer_script()));
    writes expected_ser{{0x01, 0x07}};
    const auto s = script_writes(korsa_cam::fpd_link::serializer_script());
    expected_ser.insert(expected_ser.end(), s.begin(), s.end());
    EXPECT_EQ(register_writes(ser), expected_ser);
    // 200 ms after the deserializer's last write, 100 ms after the serializer's reset.
    const auto t = korsa_sim::trace();
    const auto p = rec.pauses();
    ASSERT_EQ(pause_ms(rec), (std::vector<long>{200, 100}));
    ASSERT_GT(p[0].trace_position, 0u);
    EXPECT_EQ(t[p[0].trace_position - 1].address, deser);
    EXPECT_EQ(t[p[0].trace_position - 1].data, (std::vector<uint8_t>{0x6F, 0x84}));
    EXPECT_EQ(t[p[1].trace_position - 1].data, (std::vector<uint8_t>{0x01, 0x07}));
    EXPECT_EQ(t[p[1].trace_position].address, ser);
    EXPECT_EQ(t[p[1].trace_position].data, (std::vector<uint8_t>{0x0B, 0x19}));
    // The serializer keeps its script (the reset came first), and the chips behind it answer.
    EXPECT_EQ(korsa_sim::reg(bus10, ser, 0x02), 0x13);
    EXPECT_EQ(korsa_sim::reg(bus10, ser, 0x0E), 0xC3);
    EXPECT_TRUE(linux_helper::i2c_com(bus10, 0x57).present());
    EXPECT_EQ(c.value()->max_lanes(), 4);
    EXPECT_EQ(c.value()->max_lane_bandwidth(1), 1600000000);
    EXPECT_EQ(c.value()->max_lane_bandwidth(2), 1600000000);
    EXPECT_EQ(c.value()->max_lane_bandwidth(3), 800000000);
    EXPECT_EQ(c.value()->max_lane_bandwidth(4), 800000000);
}

TEST_F(FpdLink, SerializerResetLosesWhatWasWrittenBefore)
{
    // What the order above relies on: the reset brings the registers back to power-on.
    linux_helper::i2c_com d(bus10, deser);
    ASSERT_FALSE(d.write8_reg(0x5C, 0x62));
    linux_helper::i2c_com s(bus10, ser);
    ASSERT_FALSE(s.write8_reg(0x0B, 0x19));
    ASSERT_FALSE(s.write8_reg(0x01, 0x07));
    EXPECT_EQ(korsa_sim::reg(bus10, ser, 0x0B), 0x00);
    EXPECT_EQ(korsa_sim::reg(bus10, ser, 0x01), 0x00);
}

TEST_F(FpdLink, MissingChipsAndFailingDeserializer)
{
    {
        text_board board(bringup_test::board_text(""));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto rec = bringup_test::trace_sleeper();
        auto c = korsa_cam::connect_fpd_link(bus10, rec.get());
        ASSERT_FALSE(c);
        EXPECT_EQ(c.error(), make_error_code(status::fpd_deserializer_open_failed));
        EXPECT_EQ(korsa_sim::trace().size(), 1u); // the presence probe alone
        EXPECT_TRUE(logs.has(spdlog::level::warn,
                             "Failed to find fpd link deserializer on bus=10 at i2c address=0x30"));
        EXPECT_FALSE(korsa_cam::detect_fpd_link(bus10));
    }
    {
        // No camera on the cable: the deserializer is set up, then the serializer is missing.
        text_board board(board_text(chip("deserializer", "type=fpd-deserializer")));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto rec = bringup_test::trace_sleeper();
        auto c = korsa_cam::connect_fpd_link(bus10, rec.get());
        ASSERT_FALSE(c);
        EXPECT_EQ(c.error(), make_error_code(status::fpd_serializer_open_failed));
        EXPECT_EQ(c.error().message(), "Failed to open fpd-link serializer, no camera connected?");
        EXPECT_EQ(register_writes(deser),
                  script_writes(korsa_cam::fpd_link::deserializer_script()));
        EXPECT_EQ(pause_ms(rec), std::vector<long>{200});
        EXPECT_TRUE(logs.has(spdlog::level::warn,
                             "Failed to find fpd link serializer on bus=10 at i2c address=0x31"));
    }
    {
        ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-fpdlink.board").c_str()), 0);
        korsa_sim_fail_nth(3, EREMOTEIO); // probe, register address, then the read
        log_capture logs;
        auto rec = bringup_test::trace_sleeper();
        auto c = korsa_cam::connect_fpd_link(bus10, rec.get());
        ASSERT_FALSE(c);
        EXPECT_EQ(c.error(), make_error_code(status::fpd_deserializer_open_failed));
        EXPECT_EQ(logs.lines_starting_with("Failed to read FPD deserializer revision id"),
                  std::vector<std::string>{"Failed to read FPD deserializer revision id due to " +
                                           std::generic_category().message(EREMOTEIO)});
        EXPECT_TRUE(register_writes(deser).empty());
    }
    {
        // A failed script write: its error, nothing after it, no pause.
        korsa_sim_reset();
        // probe (1), revision read (2), then the 5th script entry.
        korsa_sim_fail_nth(3 + 5, EIO);
        log_capture logs;
        auto rec = bringup_test::trace_sleeper();
        auto c = korsa_cam::connect_fpd_link(bus10, rec.get());
        ASSERT_FALSE(c);
        EXPECT_EQ(c.error(), std::error_code(EIO, std::generic_category()));
        EXPECT_EQ(register_writes(deser).size(), 4u);
        EXPECT_TRUE(rec.pauses().empty());
        EXPECT_TRUE(
            logs.has(spdlog::level::warn, "Failed to initialize FPD deserializer registers: " +
                                              std::generic_category().message(EIO)));
        EXPECT_TRUE(
            logs.has(spdlog::level::warn, "Failed to write device=0x30 address=16 value=0, err=" +
                                              std::generic_category().message(EIO)));
    }
}

TEST_F(FpdLink, LaneCountKeepsTheOtherBitsOfRegister02)
{
    test_support::recording_sleeper rec;
    auto link = connect(rec);
    ASSERT_TRUE(link);
    for (const auto& [lanes, value] :
         std::vector<std::pair<int, uint8_t>>{{2, 0x53}, {4, 0x73}, {1, 0x43}, {3, 0x43}})
    {
        SCOPED_TRACE(lanes);
        korsa_sim::set_regs(bus10, ser, 0x02, {0x43});
        korsa_sim_trace_clear();
        EXPECT_FALSE(link->write_ser_csi_channel_count(lanes));
        EXPECT_EQ(bringup_test::values_written(ser, 0x02), std::vector<uint8_t>{value});
    }
    // A failing read of the register throws; a serializer that does not answer is EINVAL.
    // presence probe (1), register address (2), then the read itself.
    korsa_sim_trace_clear();
    korsa_sim_fail_nth(3, EREMOTEIO);
    EXPECT_THROW(link->write_ser_csi_channel_count(2), std::system_error);
    korsa_sim_fail_address(bus10, ser, EREMOTEIO);
    EXPECT_EQ(link->write_ser_csi_channel_count(2),
              std::make_error_code(std::errc::invalid_argument));
}

TEST_F(FpdLink, SensorClockProgrammingAndCalculatedFrequency)
{
    struct expect
    {
        int selection;
        uint8_t reg06;
        uint8_t reg07;
        const char* mhz;
    };
    const expect cases[] = {
        {0, 0x43, 0x7D, "24"},
        {1, 0x9B, 0xFA, "27"},
        {2, 0x6F, 0xCA, "37.1287"},
    };
    auto rec = bringup_test::trace_sleeper();
    auto link = connect(rec);
    ASSERT_TRUE(link);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.selection);
        korsa_sim_trace_clear();
        rec.clear();
        log_capture logs;
        EXPECT_FALSE(link->configure_sensor_environment({c.selection, 4}));
        EXPECT_EQ(bringup_test::values_written(ser, 0x06), std::vector<uint8_t>{c.reg06});
        EXPECT_EQ(bringup_test::values_written(ser, 0x07), std::vector<uint8_t>{c.reg07});
        EXPECT_EQ(bringup_test::values_written(ser, 0x02), std::vector<uint8_t>{0x33});
        const auto freq = logs.lines_starting_with("Refclock;25 Freq (calculated): ");
        ASSERT_EQ(freq.size(), 1u);
        EXPECT_EQ(freq[0].rfind(std::string("Refclock;25 Freq (calculated): ") + c.mhz, 0), 0u)
            << freq[0];
        EXPECT_EQ(freq[0].substr(freq[0].size() - 4), " MHZ");
        EXPECT_EQ(logs.lines_starting_with("f=").size(), 1u);
        EXPECT_TRUE(logs.has(spdlog::level::debug, "Configuring FPD-Link input to 4 lanes"));
        // The pause comes after the clock writes.
        ASSERT_EQ(pause_ms(rec), std::vector<long>{100});
        EXPECT_EQ(rec.pauses()[0].trace_position, korsa_sim::trace().size());
    }
    korsa_cam::fpd_link::clock_setting s{};
    ASSERT_TRUE(korsa_cam::fpd_link::clock_setting_for(2, s));
    EXPECT_NEAR(korsa_cam::fpd_link::calculated_clkout_mhz(s), 37.1287, 0.0001);

    // An unknown selection programs no clock and is no error.
    korsa_sim_trace_clear();
    rec.clear();
    EXPECT_FALSE(link->configure_sensor_environment({7, 2}));
    EXPECT_TRUE(bringup_test::values_written(ser, 0x06).empty());
    EXPECT_EQ(pause_ms(rec), std::vector<long>{100});

    // A failing clock write leaves as the exception, without the pause.
    rec.clear();
    korsa_sim_trace_clear();
    // presence probe (1), register read (2), lane write (1), then the 0x06 write.
    korsa_sim_fail_nth(5, EIO);
    EXPECT_THROW(link->configure_sensor_environment({2, 2}), std::system_error);
    EXPECT_TRUE(rec.pauses().empty());
    // A missing serializer fails the lane count first.
    korsa_sim_fail_address(bus10, ser, EREMOTEIO);
    EXPECT_EQ(link->configure_sensor_environment({2, 2}),
              std::make_error_code(std::errc::invalid_argument));
}

} // namespace
