// pi_setup and raspi_gpio against the simulated Pi: kernel release, revision code, GPIO page.

#include "board_test_support.h"
#include "i2c_com.h"
#include "pi_setup.h"
#include "raspi-gpio.h"

#include <string>

namespace {

using board_test::log_capture;
using board_test::text_board;
using raspi_gpio::DRIVE;
using raspi_gpio::FUNC;
using raspi_gpio::PULL;

class PiSetup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board_test::require_simulator();
        korsa_sim_set_euid(-1);
    }
    void TearDown() override { korsa_sim_set_euid(-1); }
};

using RaspiGpio = PiSetup;

std::string pi_board(const std::string& pi_keys)
{
    return "[pi]\n" + pi_keys + "\n";
}

TEST_F(PiSetup, KernelReleaseChoosesBusAndRouting)
{
    struct expect
    {
        const char* release;
        pi_setup::kernel_version version;
        int bus;
        bool routing;
    };
    const expect cases[] = {
        {"4.19.97-v7l+", {4, 19, 97, 0}, 0, true},
        {"5.10.63-v7l+", {5, 10, 63, 0}, 10, false},
        {"6.1.21", {6, 1, 21, 0}, 10, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.release);
        text_board board(pi_board(std::string("kernel_release=") + c.release));
        ASSERT_TRUE(board.ok());
        const auto v = pi_setup::get_kernel_version();
        EXPECT_EQ(v.major, c.version.major);
        EXPECT_EQ(v.minor, c.version.minor);
        EXPECT_EQ(v.patch, c.version.patch);
        EXPECT_EQ(v.fourth, c.version.fourth);
        EXPECT_EQ(pi_setup::get_default_cam0_i2c_bus(), c.bus);
        EXPECT_EQ(pi_setup::need_init_i2c0_bus(), c.routing);
    }
}

TEST(KernelRelease, ParsingTakesDottedNumbersFromTheFirstDigit)
{
    const auto v = pi_setup::parse_kernel_release("Linux 1.2.3.4.5");
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 2);
    EXPECT_EQ(v.patch, 3);
    EXPECT_EQ(v.fourth, 4);
    const auto suffix = pi_setup::parse_kernel_release("5.15.84-v8+ 2023");
    EXPECT_EQ(suffix.major, 5);
    EXPECT_EQ(suffix.minor, 15);
    EXPECT_EQ(suffix.patch, 84);
    EXPECT_EQ(suffix.fourth, 0);
    const auto empty = pi_setup::parse_kernel_release("");
    EXPECT_EQ(empty.major, 0);
    EXPECT_EQ(empty.fourth, 0);
    // An overlong number saturates instead of overflowing.
    EXPECT_EQ(pi_setup::parse_kernel_release("99999999999999999999.1").major, INT_MAX);
}

TEST_F(RaspiGpio, RevisionCodeSelectsChipAndRegisterBase)
{
    struct expect
    {
        const char* revision;
        const char* name;
        uint32_t base;
    };
    const expect cases[] = {
        {"00c03111", "bcm2711", 0xFE200000},
        {"00a02082", "bcm2835", 0x3F200000},
        {"0000000e", "bcm2835", 0x20200000},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.revision);
        text_board board(pi_board(std::string("revision=") + c.revision));
        ASSERT_TRUE(board.ok());
        log_capture log;
        const auto chip = raspi_gpio::get_gpio_chip();
        ASSERT_TRUE(chip);
        EXPECT_EQ(chip->name, c.name);
        EXPECT_EQ(chip->reg_base, c.base);
        EXPECT_EQ(chip->map_len, 4096u);
        EXPECT_EQ(chip->pin_count, 54u);
        EXPECT_FALSE(chip->is_mapped());
        EXPECT_TRUE(log.records().empty());
    }
}

TEST_F(RaspiGpio, UnknownMissingOrShortRevisionData)
{
    {
        text_board board(pi_board("revision=00d04170"));
        log_capture log;
        EXPECT_FALSE(raspi_gpio::get_gpio_chip());
        ASSERT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records()[0].text,
                  "Unrecognized revision code, failed to find pi-gpio chip info\n");
        EXPECT_EQ(log.records()[0].file, "src/rawcam_lib/raspi-gpio");
    }
    {
        text_board board(pi_board("revision=00c0"));
        log_capture log;
        const auto chip = raspi_gpio::get_gpio_chip();
        ASSERT_TRUE(chip);
        EXPECT_EQ(chip->reg_base, 0x20200000u);
        ASSERT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records()[0].text,
                  "Revision data too short, failed to find pi-gpio chip info\n");
    }
    {
        text_board board(pi_board("gpiomem=true"));
        log_capture log;
        const auto chip = raspi_gpio::get_gpio_chip();
        ASSERT_TRUE(chip);
        EXPECT_EQ(chip->name, "bcm2835");
        EXPECT_EQ(chip->reg_base, 0x20200000u);
        ASSERT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records()[0].level, spdlog::level::warn);
        EXPECT_EQ(log.records()[0].text,
                  "Can't open '/proc/device-tree/system/linux,revision', failed to find pi-gpio "
                  "chip info\n");
    }
}

TEST_F(RaspiGpio, FunctionSelectChangesOnlyThePinsBits)
{
    auto chip = raspi_gpio::get_gpio_chip();
    ASSERT_TRUE(chip);
    ASSERT_EQ(raspi_gpio::open_chip_gpio_mem(*chip), 0);
    volatile unsigned int* page = korsa_sim_gpio_page(0);
    ASSERT_NE(page, nullptr);
    page[4] = 0x3FFF8FFF; // every other pin of the word on some function, pin 44 input
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 44, FUNC::alt1), 0);
    EXPECT_EQ(page[4], 0x3FFFDFFFu);
    EXPECT_EQ(chip->ops.get_fsel(*chip, 44), static_cast<int>(FUNC::alt1));
    // Every function round-trips through its field code.
    for (int f = 0; f < 8; ++f)
    {
        EXPECT_EQ(raspi_gpio::gpio_set(*chip, 17, static_cast<FUNC>(f)), 0);
        EXPECT_EQ(chip->ops.get_fsel(*chip, 17), f);
    }
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 54, FUNC::input), -1);
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, -1, FUNC::input), -1);
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 3, static_cast<FUNC>(8)), -1);
    korsa_sim_reset();
}

TEST_F(RaspiGpio, LevelsOnlyOnOutputsThroughSetAndClearRegisters)
{
    auto chip = raspi_gpio::get_gpio_chip();
    ASSERT_TRUE(chip);
    ASSERT_EQ(raspi_gpio::open_chip_gpio_mem(*chip), 0);
    volatile unsigned int* page = korsa_sim_gpio_page(0);
    log_capture log;
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 40, DRIVE::high), -1);
    ASSERT_EQ(log.records().size(), 1u);
    EXPECT_EQ(log.records()[0].level, spdlog::level::err);
    EXPECT_EQ(log.records()[0].text, "Can't set pin value, not an output\n");
    EXPECT_EQ(page[8], 0u);

    ASSERT_EQ(raspi_gpio::gpio_set(*chip, 40, FUNC::output), 0);
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 40, DRIVE::high), 0);
    EXPECT_EQ(page[8], 1u << 8);
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 40, DRIVE::low), 0);
    EXPECT_EQ(page[11], 1u << 8);
    page[14] = 1u << 8;
    EXPECT_EQ(chip->ops.get_level(*chip, 40), 1);
    korsa_sim_reset();
}

TEST_F(RaspiGpio, PullRegistersAndRegisterWalkPerChip)
{
    auto bcm2711 = raspi_gpio::get_gpio_chip();
    ASSERT_TRUE(bcm2711);
    ASSERT_EQ(bcm2711->name, "bcm2711");
    ASSERT_EQ(raspi_gpio::open_chip_gpio_mem(*bcm2711), 0);
    volatile unsigned int* page = korsa_sim_gpio_page(0);
    EXPECT_EQ(raspi_gpio::gpio_set(*bcm2711, 18, PULL::up), 0);
    EXPECT_EQ(page[58], 1u << 4);
    EXPECT_EQ(bcm2711->ops.get_pull(*bcm2711, 18), static_cast<int>(PULL::up));
    EXPECT_EQ(raspi_gpio::gpio_set(*bcm2711, 18, PULL::down), 0);
    EXPECT_EQ(page[58], 2u << 4);
    EXPECT_EQ(bcm2711->ops.get_pull(*bcm2711, 18), static_cast<int>(PULL::down));
    page[58] = 3u << 4;
    EXPECT_EQ(bcm2711->ops.get_pull(*bcm2711, 18), -1);

    std::vector<int> walk;
    for (int r = bcm2711->ops.next_reg(-1); r >= 0; r = bcm2711->ops.next_reg(r))
    {
        walk.push_back(r);
    }
    ASSERT_EQ(walk.size(), 44u);
    EXPECT_EQ(walk[39], 39);
    EXPECT_EQ(walk[40], 57);
    EXPECT_EQ(walk.back(), 60);
    korsa_sim_reset();

    text_board old_pi(pi_board("revision=00a02082"));
    auto bcm2835 = raspi_gpio::get_gpio_chip();
    ASSERT_TRUE(bcm2835);
    ASSERT_EQ(raspi_gpio::open_chip_gpio_mem(*bcm2835), 0);
    page = korsa_sim_gpio_page(0);
    EXPECT_EQ(raspi_gpio::gpio_set(*bcm2835, 18, PULL::up), 0);
    // The pull sequence ends with control and clock registers cleared again.
    EXPECT_EQ(page[37], 0u);
    EXPECT_EQ(page[38], 0u);
    EXPECT_EQ(bcm2835->ops.get_pull(*bcm2835, 18), -1);
    EXPECT_EQ(bcm2835->ops.next_reg(-5), 0);
    EXPECT_EQ(bcm2835->ops.next_reg(38), 39);
    EXPECT_EQ(bcm2835->ops.next_reg(39), -1);
}

TEST_F(RaspiGpio, UnmappedChipRefusesEveryOperation)
{
    auto chip = raspi_gpio::get_gpio_chip();
    ASSERT_TRUE(chip);
    EXPECT_EQ(raspi_gpio::gpio_set(*chip, 4, FUNC::output), -1);
    EXPECT_EQ(chip->ops.get_fsel(*chip, 4), -1);
    EXPECT_EQ(chip->ops.get_level(*chip, 4), -1);
}

TEST_F(RaspiGpio, WithoutGpiomemOnlyRootMapsDevMem)
{
    text_board board(pi_board("revision=00c03111\ngpiomem=false\nroot=false"));
    ASSERT_TRUE(board.ok());
    auto chip = raspi_gpio::get_gpio_chip();
    ASSERT_TRUE(chip);
    {
        log_capture log;
        EXPECT_EQ(raspi_gpio::open_chip_gpio_mem(*chip), -2);
        const auto recs = log.records();
        ASSERT_EQ(recs.size(), 2u);
        EXPECT_EQ(recs[0].level, spdlog::level::info);
        EXPECT_EQ(recs[0].text, "Failed to open /dev/gpiomem, trying to open /dev/mem\n");
        EXPECT_EQ(recs[1].level, spdlog::level::warn);
        EXPECT_EQ(recs[1].text, "Must be root to open /dev/mem\n");
        EXPECT_FALSE(chip->is_mapped());
        EXPECT_EQ(chip->fd, -1);
    }

    korsa_sim_set_euid(0);
    ASSERT_EQ(raspi_gpio::open_chip_gpio_mem(*chip), 0);
    ASSERT_EQ(raspi_gpio::gpio_set(*chip, 44, FUNC::alt1), 0);
    EXPECT_EQ((korsa_sim_gpio_page(1)[4] >> 12) & 7u, 5u);
    EXPECT_EQ(korsa_sim_gpio_page(0)[4], 0u);
}

TEST_F(RaspiGpio, MissingDevMemAndFailingMapping)
{
    {
        text_board board(pi_board("gpiomem=false\ndevmem=false\nroot=true"));
        auto chip = raspi_gpio::get_gpio_chip();
        ASSERT_TRUE(chip);
        log_capture log;
        EXPECT_EQ(raspi_gpio::open_chip_gpio_mem(*chip), -2);
        ASSERT_EQ(log.records().size(), 2u);
        EXPECT_EQ(log.records()[1].text,
                  "Unable to open /dev/mem: " + std::generic_category().message(ENOENT) + "\n");
    }
    {
        text_board board(pi_board("gpio_mmap_fails=true"));
        auto chip = raspi_gpio::get_gpio_chip();
        ASSERT_TRUE(chip);
        log_capture log;
        EXPECT_EQ(raspi_gpio::open_chip_gpio_mem(*chip), -3);
        ASSERT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records()[0].text.rfind("mmap (GPIO) failed: ", 0), 0u);
        EXPECT_EQ(chip->fd, -1);
    }
}

TEST_F(PiSetup, LegacyPiFindsTheBoardOnlyAfterRouting)
{
    ASSERT_EQ(
        korsa_sim_load_board(board_test::shipped_board("imx290-direct-legacy-pi.board").c_str()),
        0);
    ASSERT_TRUE(pi_setup::need_init_i2c0_bus());
    ASSERT_EQ(pi_setup::get_default_cam0_i2c_bus(), 0);
    {
        linux_helper::i2c_com clock(0, 0x70);
        EXPECT_FALSE(clock.present());
    }
    EXPECT_TRUE(pi_setup::init_i2c0_bus());
    volatile unsigned int* page = korsa_sim_gpio_page(0);
    EXPECT_EQ(page[0] & 0x3Fu, 0u); // GPIO 0 and 1 released
    EXPECT_EQ(korsa_sim_i2c0_routed(), 1);
    for (int address : {0x70, 0x1A, 0x57, 0x50, 0x43})
    {
        linux_helper::i2c_com c(0, address);
        EXPECT_TRUE(c.present()) << address;
    }
}

TEST_F(PiSetup, RoutingFailsWithoutRegisterAccess)
{
    text_board board("[pi]\nkernel_release=4.19.97\nrevision=00a02082\ngpiomem=false\nroot=false\n"
                     "i2c0_needs_routing=true\n[chip:clock]\ntype=si5356a\nbus=0\n");
    ASSERT_TRUE(board.ok());
    EXPECT_FALSE(pi_setup::init_i2c0_bus());
    linux_helper::i2c_com clock(0, 0x70);
    EXPECT_FALSE(clock.present());

    text_board unknown("[pi]\nrevision=00d04170\n");
    EXPECT_FALSE(pi_setup::init_i2c0_bus());
}

} // namespace
