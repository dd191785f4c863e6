// linux_helper::i2c_com against the simulated board, checked on the bus trace.

#include "board_test_support.h"
#include "i2c_com.h"
#include "rawcam_error.h"

#include <cerrno>
#include <thread>
#include <vector>

namespace {

using board_test::log_capture;
using linux_helper::i2c_com;

constexpr int bus10 = 10;

class I2cCom : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board_test::require_simulator();
        korsa_sim_trace_clear();
    }
};

TEST_F(I2cCom, ConstructionFailuresCarryTheirTextsAndLeakNothing)
{
    const int open_before = korsa_sim_open_i2c_count();
    try
    {
        i2c_com c(3, 0x50);
        FAIL() << "bus 3 does not exist";
    }
    catch (const std::system_error& e)
    {
        EXPECT_EQ(e.code(), korsa_cam::make_error_code(korsa_cam::status::i2c_bus_open_failed));
        EXPECT_STREQ(e.what(), "Failed to open i2c bus device handle");
    }
    for (int address : {0x80, -1})
    {
        try
        {
            i2c_com c(bus10, address);
            FAIL() << "address " << address << " must not bind";
        }
        catch (const std::system_error& e)
        {
            EXPECT_EQ(e.code(), std::error_code(EINVAL, std::generic_category()));
            EXPECT_EQ(std::string(e.what()).rfind("failed ioctl on i2c bus handle", 0), 0u)
                << e.what();
        }
    }
    EXPECT_EQ(korsa_sim_open_i2c_count(), open_before);
    EXPECT_TRUE(korsa_sim::trace().empty());
}

TEST_F(I2cCom, PresentProbesWithOneSmbusReceiveByte)
{
    i2c_com eeprom(bus10, 0x57);
    i2c_com nobody(bus10, 0x12);
    EXPECT_TRUE(eeprom.present());
    EXPECT_FALSE(nobody.present());
    const auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    for (const auto& x : t)
    {
        EXPECT_TRUE(x.smbus);
        EXPECT_TRUE(x.read);
        EXPECT_EQ(x.requested, 1u);
    }
    EXPECT_EQ(t[0].error, 0);
    EXPECT_EQ(t[1].error, EREMOTEIO);
}

TEST_F(I2cCom, RegisterReadsWriteTheAddressThenReadSeparately)
{
    i2c_com product(bus10, 0x57);
    i2c_com ident(bus10, 0x50);

    auto marker = product.read8_reg(0x14);
    ASSERT_TRUE(marker);
    EXPECT_EQ(marker.value(), 0xCC);
    auto text = product.read8_vec(0x15, 6);
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(text.value().begin(), text.value().end()), "QEL-F-");
    auto version = ident.read16_reg(0x0000);
    ASSERT_TRUE(version);
    EXPECT_EQ(version.value(), 1);
    auto serial = ident.read16_vec(0x0008, 8);
    ASSERT_TRUE(serial);
    EXPECT_EQ(std::string(serial.value().begin(), serial.value().end()), "40110000");

    const auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[0].data, std::vector<uint8_t>{0x14});
    EXPECT_EQ(t[4].data, (std::vector<uint8_t>{0x00, 0x00}));
    EXPECT_EQ(t[6].data, (std::vector<uint8_t>{0x00, 0x08}));
    for (std::size_t i = 0; i < t.size(); ++i)
    {
        EXPECT_EQ(t[i].read, i % 2 == 1);
        EXPECT_FALSE(t[i].repeated_start);
        EXPECT_FALSE(t[i].smbus);
    }
    EXPECT_EQ(t[7].requested, 8u);
}

TEST_F(I2cCom, BlockWriteLimitIsOneThousandTwentyTwoBytes)
{
    log_capture log;
    i2c_com sensor(bus10, 0x1A);
    std::vector<uint8_t> data(1022);
    for (std::size_t i = 0; i < data.size(); ++i)
    {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    EXPECT_FALSE(sensor.write16_block(0x3100, data));
    auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1u);
    ASSERT_EQ(t[0].data.size(), 1024u);
    EXPECT_EQ(t[0].data[0], 0x31);
    EXPECT_EQ(t[0].data[1], 0x00);
    EXPECT_EQ(korsa_sim::regs(bus10, 0x1A, 0x3100, 1022), data);

    korsa_sim_trace_clear();
    data.push_back(0);
    EXPECT_EQ(sensor.write16_block(0x3100, data),
              std::error_code(EOVERFLOW, std::generic_category()));
    EXPECT_TRUE(korsa_sim::trace().empty());
    EXPECT_TRUE(log.records().empty());

    EXPECT_FALSE(sensor.write16_block(0x3014, {}));
    t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].data, (std::vector<uint8_t>{0x30, 0x14}));
}

TEST_F(I2cCom, FailedAddressWriteSkipsTheReadAndFailedReadReportsItsErrno)
{
    i2c_com product(bus10, 0x57);
    korsa_sim_fail_nth(1, EIO);
    auto r = product.read8_reg(0x14);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EIO, std::generic_category()));
    auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_FALSE(t[0].read);

    korsa_sim_trace_clear();
    korsa_sim_fail_reads(bus10, 0x57, 1, ETIMEDOUT);
    auto v = product.read8_vec(0x14, 4);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error(), std::error_code(ETIMEDOUT, std::generic_category()));
    t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].error, 0);
    EXPECT_EQ(t[1].error, ETIMEDOUT);

    // The object stays usable.
    EXPECT_TRUE(product.read8_reg(0x14));
}

TEST_F(I2cCom, ShortAndEmptyReadsSucceed)
{
    i2c_com ident(bus10, 0x50);
    korsa_sim_short_read(bus10, 0x50, 3);
    auto v = ident.read16_vec(0x0008, 8);
    ASSERT_TRUE(v);
    EXPECT_EQ(v.value(), (std::vector<uint8_t>{'4', '0', '1', 0, 0, 0, 0, 0}));

    korsa_sim_trace_clear();
    auto empty = ident.read16_vec(0x0008, 0);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty.value().empty());
    auto e8 = ident.read8_vec(0x08, 0);
    ASSERT_TRUE(e8);
    const auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_TRUE(t[1].read);
    EXPECT_EQ(t[1].requested, 0u);
}

TEST_F(I2cCom, FailedWritesLogOneWarningWithAddressValueAndError)
{
    i2c_com sensor(bus10, 0x1A);
    korsa_sim_fail_address(bus10, 0x1A, EREMOTEIO);
    log_capture log;
    EXPECT_EQ(sensor.write8_reg(0x2A, 171), std::error_code(EREMOTEIO, std::generic_category()));
    const std::vector<uint8_t> data = {0x01, 0x02, 0xAB};
    EXPECT_EQ(sensor.write16_block(0x3014, data),
              std::error_code(EREMOTEIO, std::generic_category()));
    korsa_sim_clear_faults();

    const auto recs = log.records();
    ASSERT_EQ(recs.size(), 2u);
    const std::string err = std::generic_category().message(EREMOTEIO);
    EXPECT_EQ(recs[0].level, spdlog::level::warn);
    EXPECT_EQ(recs[0].text, "Failed to write sensor register address=0x2a, value=171, err=" + err);
    EXPECT_EQ(recs[0].file, "src/rawcam_lib/i2c_com");
    EXPECT_EQ(recs[0].function, "write8_reg");
    EXPECT_EQ(recs[1].text,
              "Failed to write sensor register address=0x3014, value=\n0000: 01 02 ab, err=" + err);
    EXPECT_EQ(recs[1].function, "write16_block");
}

TEST_F(I2cCom, MovesHandOverDescriptorAndMutex)
{
    const int before = korsa_sim_open_i2c_count();
    {
        i2c_com a(bus10, 0x57);
        i2c_com b(std::move(a));
        EXPECT_EQ(korsa_sim_open_i2c_count(), before + 1);
        ASSERT_TRUE(b.read8_reg(0x14));
        // The moved-from object refuses cleanly.
        auto r = a.read8_reg(0x14);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), std::error_code(EBADF, std::generic_category()));
        EXPECT_EQ(a.write8_reg(0x40, 1), std::error_code(EBADF, std::generic_category()));
        EXPECT_FALSE(a.present());

        i2c_com c(bus10, 0x50);
        EXPECT_EQ(korsa_sim_open_i2c_count(), before + 2);
        c = std::move(b); // closes c's own handle
        EXPECT_EQ(korsa_sim_open_i2c_count(), before + 1);
        EXPECT_EQ(c.device_address(), 0x57);
        auto m = c.read8_reg(0x14);
        ASSERT_TRUE(m);
        EXPECT_EQ(m.value(), 0xCC);
    }
    EXPECT_EQ(korsa_sim_open_i2c_count(), before);
}

TEST_F(I2cCom, ConcurrentReadsOfOneObjectNeverInterleave)
{
    // Distinct values in every register so a mixed-up read would show.
    std::vector<uint8_t> pattern(256);
    for (std::size_t i = 0; i < pattern.size(); ++i)
    {
        pattern[i] = static_cast<uint8_t>(255 - i);
    }
    korsa_sim::set_regs(bus10, 0x1A, 0x4000, pattern);
    i2c_com sensor(bus10, 0x1A);
    std::atomic<int> wrong{0};
    auto reader = [&](int first) {
        for (int i = 0; i < 300; ++i)
        {
            const int reg = (first + i) % 256;
            auto v = sensor.read16_reg(static_cast<uint16_t>(0x4000 + reg));
            if (!v || v.value() != pattern[reg])
            {
                ++wrong;
            }
        }
    };
    std::thread t1(reader, 0);
    std::thread t2(reader, 128);
    t1.join();
    t2.join();
    EXPECT_EQ(wrong.load(), 0);
    const auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1200u);
    for (std::size_t i = 0; i + 1 < t.size(); i += 2)
    {
        ASSERT_FALSE(t[i].read) << i;
        ASSERT_TRUE(t[i + 1].read) << i;
    }
}

} // namespace
