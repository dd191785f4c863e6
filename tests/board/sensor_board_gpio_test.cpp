// The board's GPIO expanders: detection with its retries, board I/O set-up and the trigger
// selector, on the simulated chips.

#include "bringup_test_support.h"
#include "rawcam_error.h"
#include "sensor_board_gpio.h"

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
using korsa_cam::sensor_board_gpio;

constexpr int bus10 = 10;

class BoardGpio : public ::testing::Test
{
protected:
    void SetUp() override { board_test::require_simulator(); }
};

std::shared_ptr<sensor_board_gpio> detect_ok(const test_support::recording_sleeper& s)
{
    auto g = sensor_board_gpio::detect(bus10, s.get());
    EXPECT_TRUE(g) << g.error().message();
    return g ? g.value() : nullptr;
}

TEST_F(BoardGpio, Tca7408IsFoundOnTheFirstProbeWithoutTouchingTheOtherAddress)
{
    korsa_sim_trace_clear();
    log_capture logs;
    auto rec = bringup_test::trace_sleeper();
    auto gpio = detect_ok(rec);
    ASSERT_TRUE(gpio);
    EXPECT_NE(dynamic_cast<korsa_cam::tca7408*>(gpio.get()), nullptr);
    EXPECT_TRUE(messages_to(0x20).empty());
    EXPECT_EQ(messages_to(0x43).size(), 1u);
    EXPECT_TRUE(logs.has(spdlog::level::info, "Found gpio-chip tca7408"));
    EXPECT_TRUE(rec.pauses().empty());
}

TEST_F(BoardGpio, Tca6408AnsweringOnTheThirdReadCostsTwoRetries)
{
    text_board board(board_text(chip("gpio", "type=tca6408\nfail_reads=2")));
    ASSERT_TRUE(board.ok());
    log_capture logs;
    auto rec = bringup_test::trace_sleeper();
    auto gpio = detect_ok(rec);
    ASSERT_TRUE(gpio);
    EXPECT_NE(dynamic_cast<korsa_cam::tca6408*>(gpio.get()), nullptr);
    EXPECT_EQ(
        logs.lines_starting_with("Failed to read from gpio-chip tca6408"),
        (std::vector<std::string>{"Failed to read from gpio-chip tca6408, retry-counter=#0",
                                  "Failed to read from gpio-chip tca6408, retry-counter=#1"}));
    EXPECT_EQ(pause_ms(rec), (std::vector<long>{200, 200}));
    // The chip is named before it is first accessed; three reads of the input register.
    const auto recs = logs.records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.front().text, "Found gpio-chip tca6408");
    std::size_t reads = 0;
    for (const auto& m : messages_to(0x20))
    {
        reads += m.read ? 1 : 0;
    }
    EXPECT_EQ(reads, 3u);
}

TEST_F(BoardGpio, NoExpanderMeansSevenAttemptsAndTheStatus)
{
    text_board board(board_text(""));
    ASSERT_TRUE(board.ok());
    log_capture logs;
    auto rec = bringup_test::trace_sleeper();
    auto gpio = sensor_board_gpio::detect(bus10, rec.get());
    ASSERT_FALSE(gpio);
    EXPECT_EQ(gpio.error(), korsa_cam::make_error_code(korsa_cam::status::gpio_chip_unidentified));
    EXPECT_EQ(gpio.error().message(), "Failed to identify gpio chip on sensor board");
    // Each attempt is the register address write, which the absent chip does not acknowledge.
    EXPECT_EQ(messages_to(0x20).size(), 7u);
    EXPECT_EQ(logs.lines_starting_with("Failed to read from gpio-chip tca6408").size(), 6u);
    EXPECT_TRUE(logs.has(spdlog::level::warn, "sensor board gpio-chip not found"));
    EXPECT_EQ(rec.total(), std::chrono::milliseconds(1200));
    EXPECT_EQ(rec.pauses().size(), 6u);
    for (const auto& r : logs.records())
    {
        EXPECT_EQ(r.file, "src/rawcam_lib/sensor_board_gpio");
    }
}

using writes = std::vector<std::pair<uint8_t, uint8_t>>;

TEST_F(BoardGpio, Tca6408SetMakesThePinAnOutputOnlyOnce)
{
    text_board board(board_text(chip("gpio", "type=tca6408\ninputs=0x00\nregisters=1=0x00")));
    ASSERT_TRUE(board.ok());
    test_support::recording_sleeper rec;
    auto gpio = detect_ok(rec);
    ASSERT_TRUE(gpio);
    korsa_sim_trace_clear();
    gpio->set(6, true);
    EXPECT_EQ(register_writes(0x20), (writes{{0x03, 0xBF}, {0x01, 0x40}}));
    korsa_sim_trace_clear();
    gpio->set(6, true);
    EXPECT_EQ(register_writes(0x20), (writes{{0x01, 0x40}}));
    // get reads the output register: the value written, not the level at the pin.
    gpio->set(6, false);
    korsa_sim::set_regs(bus10, 0x20, 0x03, {0xFF}); // pin back to input; outside level 0
    korsa_sim::set_regs(bus10, 0x20, 0x01, {0x40});
    EXPECT_EQ(gpio->get(6), 1);
    EXPECT_EQ(gpio->get_trigger_source(), 1);
    gpio->disable_all_outputs();
    EXPECT_EQ(korsa_sim::reg(bus10, 0x20, 0x01), 0x00);
}

TEST_F(BoardGpio, Tca7408SetReleasesHighImpedanceAndSetsDirectionOnce)
{
    test_support::recording_sleeper rec;
    auto gpio = detect_ok(rec);
    ASSERT_TRUE(gpio);
    korsa_sim_trace_clear();
    gpio->set(6, true);
    EXPECT_EQ(register_writes(0x43), (writes{{0x07, 0xBF}, {0x03, 0x40}, {0x05, 0x40}}));
    korsa_sim_trace_clear();
    gpio->set(6, false);
    EXPECT_EQ(register_writes(0x43), (writes{{0x05, 0x00}}));
    EXPECT_EQ(gpio->get(6), 0);
    gpio->set_trigger_source(true);
    EXPECT_EQ(gpio->get_trigger_source(), 1);
    gpio->disable_all_outputs();
    EXPECT_EQ(korsa_sim::reg(bus10, 0x43, 0x07), 0xFF);
    // The selector still reads as written: the output state register is not the pin level.
    EXPECT_EQ(gpio->get(6), 1);
}

TEST_F(BoardGpio, BoardIoSetupOnBothChips)
{
    struct expect
    {
        std::string board;
        int address;
        std::vector<std::pair<unsigned, int>> regs;
    };
    const expect cases[] = {
        {board_text(chip("gpio", "type=tca7408")),
         0x43,
         {{0x07, 0xBC}, {0x03, 0x43}, {0x05, 0x03}}},
        {board_text(chip("gpio", "type=tca6408")), 0x20, {{0x03, 0xBC}, {0x01, 0x03}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.address);
        text_board board(c.board);
        ASSERT_TRUE(board.ok());
        auto rec = bringup_test::trace_sleeper();
        auto gpio = detect_ok(rec);
        ASSERT_TRUE(gpio);
        korsa_sim_trace_clear();
        EXPECT_FALSE(gpio->setup_sensor_board_io());
        for (const auto& [r, v] : c.regs)
        {
            EXPECT_EQ(korsa_sim::reg(bus10, c.address, r), v) << r;
        }
        EXPECT_EQ(gpio->get_trigger_source(), 0);
        // All outputs off first, then 10 ms before pin 0 and 10 ms before pin 1.
        const auto w = register_writes(c.address);
        ASSERT_FALSE(w.empty());
        EXPECT_EQ(w.front(), c.address == 0x43 ? std::make_pair(uint8_t{0x07}, uint8_t{0xFF})
                                               : std::make_pair(uint8_t{0x01}, uint8_t{0x00}));
        const auto p = rec.pauses();
        ASSERT_EQ(pause_ms(rec), (std::vector<long>{10, 10}));
        EXPECT_EQ(p[0].trace_position, 1u);
        EXPECT_LT(p[0].trace_position, p[1].trace_position);
    }
}

TEST_F(BoardGpio, BusFailuresAreLoggedThrownAndReturnedBySetup)
{
    test_support::recording_sleeper rec;
    auto gpio = detect_ok(rec);
    ASSERT_TRUE(gpio);
    korsa_sim_fail_address(bus10, 0x43, EREMOTEIO);
    log_capture logs;
    const std::error_code remote(EREMOTEIO, std::generic_category());
    EXPECT_EQ(gpio->setup_sensor_board_io(), remote);
    EXPECT_TRUE(
        logs.has(spdlog::level::warn,
                 "Failed to write device=0x43 address=7 value=255, err=" + remote.message()));
    EXPECT_TRUE(rec.pauses().empty());
    logs.clear();
    try
    {
        (void)gpio->get_trigger_source();
        ADD_FAILURE() << "a failed read must throw";
    }
    catch (const std::system_error& e)
    {
        EXPECT_EQ(e.code(), remote);
    }
    EXPECT_TRUE(logs.has(spdlog::level::warn,
                         "Failed to write device=0x43 address=5 err=" + remote.message()));
    korsa_sim_fail_address(bus10, 0x43, 0);
    // A pin outside the chip is refused before any bus access.
    korsa_sim_trace_clear();
    for (int pin : {-1, 8, 31, 1000})
    {
        try
        {
            gpio->set(pin, true);
            ADD_FAILURE() << pin;
        }
        catch (const std::system_error& e)
        {
            EXPECT_EQ(e.code(), std::make_error_code(std::errc::invalid_argument));
        }
    }
    EXPECT_TRUE(korsa_sim::trace().empty());
}

} // namespace
