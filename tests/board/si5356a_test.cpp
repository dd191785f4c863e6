// The clock generator's three scripts and the configuration sequence on the simulated chip.

#include "Si5356A.h"
#include "bringup_test_support.h"
#include "rawcam_error.h"

#include <cerrno>
#include <set>

namespace {

namespace clk = korsa_cam::Si5356A;
using board_test::log_capture;
using board_test::shipped_board;
using board_test::text_board;
using bringup_test::register_writes;

constexpr int bus10 = 10;
constexpr int si = 0x70;

class Si5356A : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-direct.board").c_str()), 0)
            << "the simulated board library must be preloaded";
    }
};

bool frequency_register(std::size_t position, uint8_t reg)
{
    static const std::set<uint8_t> regs = {0x35, 0x36, 0x37, 0x3B};
    return position < 252 && regs.count(reg) != 0;
}

TEST_F(Si5356A, TablesDifferOnlyInTheFourFrequencyRegisters)
{
    const auto& t24 = clk::clock_table_24MHz();
    const auto& t27 = clk::clock_table_27MHz();
    const auto& t37 = clk::clock_table_37_125MHz();
    std::size_t skipped = 0;
    std::size_t written = 0;
    std::size_t merged = 0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < clk::clock_table_size; ++i)
    {
        SCOPED_TRACE(i);
        ASSERT_EQ(t24[i].reg, t27[i].reg);
        ASSERT_EQ(t37[i].reg, t27[i].reg);
        ASSERT_EQ(t24[i].mask, t27[i].mask);
        ASSERT_EQ(t37[i].mask, t27[i].mask);
        const bool same = t24[i].value == t27[i].value && t37[i].value == t27[i].value;
        if (frequency_register(i, t27[i].reg))
        {
            EXPECT_EQ(t27[i].mask, 0xFF);
            ++differing;
        }
        else if (t27[i].mask != 0)
        {
            EXPECT_TRUE(same);
        }
        skipped += t27[i].mask == 0x00 ? 1 : 0;
        written += t27[i].mask == 0xFF ? 1 : 0;
        merged += t27[i].mask != 0x00 && t27[i].mask != 0xFF ? 1 : 0;
    }
    EXPECT_EQ(differing, 4u);
    EXPECT_EQ(skipped, 201u);
    EXPECT_EQ(written, 109u);
    EXPECT_EQ(merged, 39u);
    // Page 1 between the two page selects, page 0 registers 0x00..0xFB before.
    EXPECT_EQ(t27[252].reg, 0xFF);
    EXPECT_EQ(t27[252].value, 0x01);
    EXPECT_EQ(t27[348].reg, 0xFF);
    EXPECT_EQ(t27[348].value, 0x00);
    EXPECT_EQ(t27[251].reg, 0xFB);
    EXPECT_EQ(t27[253].reg, 0x00);
    EXPECT_EQ(t27[347].reg, 0x5E);
    // The frequency registers, 24 / 27 / 37.125 MHz.
    const std::pair<std::size_t, std::array<uint8_t, 3>> expected[] = {
        {0x35, {0xD5, 0xBD, 0xA1}},
        {0x36, {0x2B, 0x26, 0x1B}},
        {0x37, {0x04, 0x44, 0x14}},
        {0x3B, {0x03, 0x1B, 0x1B}},
    };
    for (const auto& [pos, v] : expected)
    {
        EXPECT_EQ(t24[pos].value, v[0]);
        EXPECT_EQ(t27[pos].value, v[1]);
        EXPECT_EQ(t37[pos].value, v[2]);
    }
    // First and last entries a reader can find in the register map.
    EXPECT_EQ(t27[0x06].value, 0x04);
    EXPECT_EQ(t27[0x06].mask, 0x1D);
    EXPECT_EQ(t27[0xCB].mask, 0x0F);
    EXPECT_EQ(t27[253 + 0x5B].mask, 0x0F);
}

TEST_F(Si5356A, ScriptsOnTheBusDifferOnlyInTheFourFrequencyRegisters)
{
    using writes = std::vector<std::pair<uint8_t, uint8_t>>;
    auto run = [](std::error_code (*configure)(int)) {
        korsa_sim_reset();
        EXPECT_FALSE(configure(bus10));
        return register_writes(si);
    };
    const writes w27 = run(clk::configure_clock_27MHz);
    const writes w24 = run(clk::configure_clock_24MHz);
    const writes w37 = run(clk::configure_clock_37_125MHz);
    // 2 framing writes, 148 script writes (109 plain, 39 merged), 4 closing writes.
    ASSERT_EQ(w27.size(), 154u);
    ASSERT_EQ(w24.size(), w27.size());
    ASSERT_EQ(w37.size(), w27.size());
    std::set<uint8_t> differing;
    bool page1 = false;
    for (std::size_t i = 0; i < w27.size(); ++i)
    {
        ASSERT_EQ(w24[i].first, w27[i].first);
        ASSERT_EQ(w37[i].first, w27[i].first);
        if (w27[i].first == 0xFF)
        {
            page1 = w27[i].second == 0x01;
        }
        if (w24[i].second != w27[i].second || w37[i].second != w27[i].second)
        {
            EXPECT_FALSE(page1);
            differing.insert(w27[i].first);
        }
    }
    EXPECT_EQ(differing, (std::set<uint8_t>{0x35, 0x36, 0x37, 0x3B}));
    EXPECT_EQ(w37.front(), std::make_pair(uint8_t{230}, uint8_t{0x10}));
    EXPECT_EQ(w37[1], std::make_pair(uint8_t{241}, uint8_t{0x65}));
    const writes closing(w37.end() - 4, w37.end());
    EXPECT_EQ(closing, (writes{{246, 0x02}, {226, 0x04}, {226, 0x00}, {230, 0x00}}));
    // The chip holds the 37.125 MHz set-up in both pages and is back on page 0.
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0x35), 0xA1);
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0x3B), 0x1B);
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0x100 + 0x24), 0x90);
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0x100 + 0x25), 0x31);
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0xFF), 0x00);
}

TEST_F(Si5356A, MergedEntryReadsTheRegisterAndKeepsTheUnmaskedBits)
{
    korsa_sim::set_regs(bus10, si, 0x06, {0xFF});
    korsa_sim::set_regs(bus10, si, 0x1B, {0x85});
    korsa_sim_trace_clear();
    ASSERT_FALSE(clk::configure_clock_27MHz(bus10));
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0x06), 0xE6);
    EXPECT_EQ(korsa_sim::reg(bus10, si, 0x1B), 0x05); // 1B=70/80: only bit 7, cleared
    // The value written comes right after reading the register.
    const auto t = korsa_sim::trace();
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ(t[2].data, std::vector<uint8_t>{0x06});
    EXPECT_TRUE(t[3].read);
    EXPECT_EQ(t[3].data, std::vector<uint8_t>{0xFF});
    EXPECT_EQ(t[4].data, (std::vector<uint8_t>{0x06, 0xE6}));
}

TEST_F(Si5356A, FailingScriptAccessStopsBeforeTheClosingWrites)
{
    // Find the write of register 0x1C in a good run, then fail exactly that transaction.
    ASSERT_FALSE(clk::configure_clock_27MHz(bus10));
    unsigned long number = 0;
    for (const auto& x : korsa_sim::trace())
    {
        if (!x.read && x.data.size() == 2 && x.data[0] == 0x1C)
        {
            number = x.transaction;
        }
    }
    ASSERT_NE(number, 0u);
    korsa_sim_reset();
    korsa_sim_fail_nth(number, EIO);
    log_capture logs;
    EXPECT_EQ(clk::configure_clock_27MHz(bus10), std::error_code(EIO, std::generic_category()));
    EXPECT_TRUE(logs.has(spdlog::level::err, "Si5356A write failed at 28 with value 0x37"));
    const auto w = register_writes(si);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back().first, 0x1B);
    EXPECT_TRUE(bringup_test::values_written(si, 246).empty());
    EXPECT_TRUE(bringup_test::values_written(si, 226).empty());
    EXPECT_EQ(korsa_sim::reg(bus10, si, 230), 0x10);
    for (const auto& r : logs.starting_with("Si5356A"))
    {
        EXPECT_EQ(r.file, "src/rawcam_lib/Si5356A");
    }

    // A failing read of a merged entry ends the call with the read's error.
    korsa_sim_reset();
    korsa_sim_fail_reads(bus10, si, 1, EREMOTEIO);
    logs.clear();
    EXPECT_EQ(clk::configure_clock_24MHz(bus10),
              std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(logs.lines_starting_with("Si5356A"),
              std::vector<std::string>{"Si5356A read failed at 6"});
    EXPECT_EQ(korsa_sim::reg(bus10, si, 230), 0x10);
}

TEST_F(Si5356A, ProbeAndMissingChip)
{
    EXPECT_TRUE(clk::probe(bus10));
    text_board empty(bringup_test::board_text(""));
    ASSERT_TRUE(empty.ok());
    log_capture logs;
    EXPECT_FALSE(clk::probe(bus10));
    EXPECT_TRUE(logs.records().empty());
    // A missing chip fails the first script access, after the unchecked framing writes.
    EXPECT_EQ(clk::configure_clock_27MHz(bus10),
              std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(logs.lines_starting_with("Si5356A"),
              std::vector<std::string>{"Si5356A read failed at 6"});
    // A bus that cannot be opened: probe throws, the configuration reports it.
    EXPECT_THROW(clk::probe(3), std::system_error);
    EXPECT_EQ(clk::configure_clock_27MHz(3),
              korsa_cam::make_error_code(korsa_cam::status::i2c_bus_open_failed));
}

} // namespace
