// The IMX register accessor and its script player, checked on the simulated bus.

#include "common/imx_registers.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <chrono>
#include <vector>

namespace {

using korsa_cam::sensor::imx_registers;
using entry = imx_registers::script_entry;
using linux_helper::i2c_com;
using sensor_test::bus;
using sensor_test::hold_register;
using sensor_test::sensor_address;
using std::chrono::milliseconds;
using test_support::wire;
using strings = std::vector<std::string>;

class ImxRegisters : public sensor_test::board_test
{
protected:
    i2c_com i2c_{bus, sensor_address};
    imx_registers regs_{i2c_, hold_register, true, pauses_.get()};
};

TEST_F(ImxRegisters, ScriptOfOnlyTheEndAndZeroDelaysTouchNothing)
{
    const entry only_end[] = {imx_registers::script_end};
    EXPECT_FALSE(regs_.write_script(only_end, false));
    const entry zero_delay[] = {imx_registers::wait_ms(0), imx_registers::script_end};
    EXPECT_FALSE(regs_.write_script(zero_delay, true));
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
    EXPECT_TRUE(pauses_.pauses().empty());
    // Without a sleeper of its own the accessor pauses for real.
    EXPECT_TRUE(imx_registers(i2c_, hold_register, true).pause().is_real());
    EXPECT_FALSE(regs_.pause().is_real());
}

TEST_F(ImxRegisters, BurstsEndAtDelaysAndAddressJumps)
{
    const entry script[] = {
        {0x3000, 0x11},
        {0x3001, 0x22},
        {0x3003, 0x33}, // jump: 2 + 1
        {0x3004, 0x44},
        imx_registers::wait_ms(0), // a delay of 0 still splits
        {0x3005, 0x55},
        imx_registers::wait_ms(7),
        {0x3006, 0x66},
        {0x3006, 0x67}, // same address again: split
        imx_registers::script_end,
    };
    ASSERT_FALSE(regs_.write_script(script, false));
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 00 11 22]", "[30 03 33 44]", "[30 05 55]",
                                              "[30 06 66]", "[30 06 67]"}));
    // One pause, 7 ms, after the third write (the zero delay sleeps not at all).
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].duration, milliseconds(7));
    EXPECT_EQ(p[0].trace_position, 3u);
}

TEST_F(ImxRegisters, LongRunSplitsIntoFullBurstAndRest)
{
    constexpr uint16_t start = 0x4000;
    std::vector<entry> script;
    for (unsigned i = 0; i < 1500; ++i)
    {
        script.push_back({static_cast<uint16_t>(start + i), static_cast<uint8_t>(i * 7)});
    }
    script.push_back(imx_registers::script_end);
    ASSERT_FALSE(regs_.write_script(script.data(), false));

    const auto w = sensor_writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].address, start);
    EXPECT_EQ(w[0].bytes.size(), 1022u);
    EXPECT_EQ(w[1].address, start + 1022);
    EXPECT_EQ(w[1].bytes.size(), 478u);
    const auto chip = korsa_sim::regs(bus, sensor_address, start, 1500);
    ASSERT_EQ(chip.size(), 1500u);
    for (unsigned i = 0; i < 1500; ++i)
    {
        ASSERT_EQ(chip[i], static_cast<uint8_t>(i * 7)) << "register " << start + i;
    }
}

TEST_F(ImxRegisters, SixteenBitWriteIsBracketedByTheHoldUnlessThereIsNone)
{
    EXPECT_FALSE(regs_.write_u16(0x3014, 0x1234));
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 01 01]", "[30 14 34 12]", "[30 01 00]"}));

    korsa_sim_trace_clear();
    imx_registers no_hold(i2c_, 0, true);
    EXPECT_FALSE(no_hold.write_u16(0x3014, 0x1234));
    no_hold.push_reg_hold();
    no_hold.pop_reg_hold();
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 14 34 12]"}));
}

TEST_F(ImxRegisters, ByteOrderAndWidthsOfTheValueWrites)
{
    imx_registers big(i2c_, 0, false);
    EXPECT_FALSE(regs_.write_u24(0x3018, 0x0A0B0C));
    EXPECT_FALSE(big.write_u24(0x3018, 0xFF0A0B0C)); // the top byte is not sent
    EXPECT_FALSE(regs_.write_ux(0x3100, 0x01020304, 4));
    EXPECT_FALSE(big.write_ux(0x3100, 0x01020304, 2));
    EXPECT_FALSE(regs_.write_u8(0x3200, 0xAB));
    const uint8_t raw[] = {9, 8, 7};
    EXPECT_FALSE(regs_.write(0x3300, raw));
    EXPECT_EQ(wire(sensor_writes()),
              (strings{"[30 01 01]", "[30 18 0C 0B 0A]", "[30 01 00]", "[30 18 0A 0B 0C]",
                       "[31 00 04 03 02 01]", "[31 00 03 04]", "[32 00 AB]", "[33 00 09 08 07]"}));

    korsa_sim_trace_clear();
    EXPECT_EQ(regs_.write_ux(0x3100, 1, 0), std::errc::invalid_argument);
    EXPECT_EQ(regs_.write_ux(0x3100, 1, 5), std::errc::invalid_argument);
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
}

TEST_F(ImxRegisters, NestedHoldsWriteOnceAndUnpairedPopsDoNothing)
{
    regs_.push_reg_hold();
    regs_.push_reg_hold();
    EXPECT_FALSE(regs_.write_u16(0x3014, 1)); // nested inside: no hold writes of its own
    regs_.pop_reg_hold();
    EXPECT_EQ(regs_.hold_depth(), 1);
    regs_.pop_reg_hold();
    regs_.pop_reg_hold(); // one too many
    EXPECT_EQ(regs_.hold_depth(), 0);
    {
        auto h = regs_.hold();
        EXPECT_EQ(regs_.hold_depth(), 1);
    }
    EXPECT_EQ(wire(sensor_writes()),
              (strings{"[30 01 01]", "[30 14 01 00]", "[30 01 00]", "[30 01 01]", "[30 01 00]"}));
}

TEST_F(ImxRegisters, CopiesShareBusAndSleeperButCountTheirOwnHolds)
{
    imx_registers copy = regs_;
    regs_.push_reg_hold(); // the original holds; the copy does not know
    korsa_sim_trace_clear();
    EXPECT_FALSE(copy.write_u16(0x300A, 0x00F0));
    EXPECT_EQ(wire(sensor_writes()), (strings{"[30 01 01]", "[30 0A F0 00]", "[30 01 00]"}));
    EXPECT_EQ(regs_.hold_depth(), 1);
    regs_.pop_reg_hold();

    const entry pause_only[] = {imx_registers::wait_ms(3), imx_registers::script_end};
    EXPECT_FALSE(copy.write_script(pause_only, false));
    ASSERT_EQ(pauses_.pauses().size(), 1u);
    EXPECT_EQ(pauses_.pauses()[0].duration, milliseconds(3));
}

TEST_F(ImxRegisters, ReadsAreSingleByteAndSixteenBitsComposeInByteOrder)
{
    korsa_sim::set_regs(bus, sensor_address, 0x3500, {0x34, 0x12});
    auto le = regs_.read_u16(0x3500);
    ASSERT_TRUE(le);
    EXPECT_EQ(le.value(), 0x1234);
    imx_registers big(i2c_, 0, false);
    auto be = big.read_u16(0x3500);
    ASSERT_TRUE(be);
    EXPECT_EQ(be.value(), 0x3412);
    auto b = regs_.read_u8(0x3501);
    ASSERT_TRUE(b);
    EXPECT_EQ(b.value(), 0x12);

    const auto reads = sensor_reads();
    ASSERT_EQ(reads.size(), 5u);
    const uint16_t addresses[] = {0x3500, 0x3501, 0x3500, 0x3501, 0x3501};
    for (std::size_t i = 0; i < reads.size(); ++i)
    {
        EXPECT_EQ(reads[i].address, addresses[i]);
        EXPECT_EQ(reads[i].bytes.size(), 1u);
    }
}

TEST_F(ImxRegisters, SixteenBitReadMakesBothReadsAndReportsTheFirstError)
{
    korsa_sim_fail_reads(bus, sensor_address, 1, EIO);
    auto r = regs_.read_u16(0x3500);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EIO, std::generic_category()));
    EXPECT_EQ(sensor_reads().size(), 2u); // the second read was made all the same

    korsa_sim_trace_clear();
    korsa_sim_fail_nth(3, ENXIO); // the address write of the second read
    r = regs_.read_u16(0x3500);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(ENXIO, std::generic_category()));
}

TEST_F(ImxRegisters, FailedBurstIsLoggedAndTheScriptGoesOn)
{
    test_support::log_capture log;
    const entry script[] = {
        {0x3010, 0x01},
        {0x3011, 0x02},
        imx_registers::wait_ms(5),
        {0x3020, 0xA5},
        {0x3021, 0x5A},
        imx_registers::wait_ms(5),
        {0x3030, 0x03},
        imx_registers::script_end,
    };
    korsa_sim_fail_nth(2, EREMOTEIO);
    EXPECT_FALSE(regs_.write_script(script, false));

    const auto errors = log.at_level(spdlog::level::err);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "write_script -- write failed for address [3020], value a5");
    EXPECT_EQ(errors[0].file, "src/rawcam_lib/common/imx_registers");
    // Every burst was tried; the ones around the failure reached the chip.
    const auto w = sensor_writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[1].error, EREMOTEIO);
    EXPECT_EQ(chip_reg(0x3011), 0x02);
    EXPECT_EQ(chip_reg(0x3020), 0x00);
    EXPECT_EQ(chip_reg(0x3030), 0x03);
    EXPECT_EQ(pauses_.pauses().size(), 2u);
}

TEST_F(ImxRegisters, VerificationReadsEveryRegisterBackAndLogsMismatchesAndFailures)
{
    test_support::log_capture log;
    // 0x3003 is the sensor's reset: it clears itself, so it never reads back as written.
    const entry script[] = {
        {0x3040, 0x0C}, {0x3041, 0x00}, {0x3003, 0x01}, {0x3050, 0x77}, imx_registers::script_end,
    };
    // Transactions: burst 0x3040 (1), read-backs 0x3040 (2, 3) and 0x3041 (4, 5), 0x3003 (6),
    // its read-back (7, 8), 0x3050 (9), its read-back (10, 11): the last read fails.
    korsa_sim_fail_nth(11, EIO);
    EXPECT_FALSE(regs_.write_script(script, true));

    const auto reads = sensor_reads();
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0].address, 0x3040);
    EXPECT_EQ(reads[1].address, 0x3041);
    EXPECT_EQ(reads[2].address, 0x3003);
    EXPECT_EQ(reads[3].address, 0x3050);
    EXPECT_EQ(log.lines_starting_with("write_script"),
              (strings{"write_script - verification failed for address [3003], expected 1, "
                       "readback 0",
                       "write_script - readback failed for address [3050]: Input/output error"}));
    EXPECT_EQ(chip_reg(0x3050), 0x77); // the script went on after the reset
}

TEST_F(ImxRegisters, DelaysGoThroughTheSleeperInOrder)
{
    const entry script[] = {
        imx_registers::wait_ms(10),  {0x3000, 0x01},
        imx_registers::wait_ms(255), {0x3002, 0x00},
        imx_registers::wait_ms(1),   imx_registers::script_end,
    };
    EXPECT_FALSE(regs_.write_script(script, false));
    const auto p = pauses_.pauses();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].duration, milliseconds(10));
    EXPECT_EQ(p[0].trace_position, 0u);
    EXPECT_EQ(p[1].duration, milliseconds(255));
    EXPECT_EQ(p[1].trace_position, 1u);
    EXPECT_EQ(p[2].duration, milliseconds(1));
    EXPECT_EQ(p[2].trace_position, 2u);
}

} // namespace
