#include "fpd_link.h"

#include "connected_sensor.h"
#include "log.h"
#include "rawcam_error.h"

#include <array>
#include <cerrno>
#include <chrono>

namespace korsa_cam {
namespace {

using namespace std::chrono_literals;

// 0x5C = 0x62 is the serializer's alias: 0x31 shifted left by one. The chips behind the
// serializer (sensor, EEPROMs, expander) are passed through at their own addresses.
constexpr std::array<fpdlink_reg, 21> deserializer_regs = {{
    {0x0D, 0x09, 0}, {0x0C, 0x6D, 0}, {0x7D, 0x05, 0}, {0x0F, 0x7F, 0}, {0x10, 0x00, 0},
    {0x11, 0x00, 0}, {0x12, 0x13, 0}, {0x14, 0x40, 0}, {0x15, 0x01, 0}, {0x16, 0x13, 0},
    {0x4C, 0x01, 0}, {0x59, 0x82, 0}, {0x6E, 0x10, 0}, {0x58, 0xDE, 0}, {0x5C, 0x62, 0},
    {0x1F, 0x00, 0}, {0x33, 0x21, 0}, {0x21, 0x01, 0}, {0x20, 0x00, 0}, {0x6D, 0x44, 0},
    {0x6F, 0x84, 0},
}};

constexpr std::array<fpdlink_reg, 6> serializer_regs = {{
    {0x0B, 0x19, 0},
    {0x0C, 0x19, 0},
    {0x0D, 0x70, 0},
    {0x0E, 0xC3, 0},
    {0x33, 0x01, 0},
    {0x02, 0x13, 0},
}};

constexpr uint8_t deser_revision = 0x50;
constexpr uint8_t ser_reset = 0x01;
constexpr uint8_t ser_reset_value = 0x07; // digital reset of the serializer and its registers
constexpr uint8_t ser_general_config = 0x02;
constexpr uint8_t ser_lane_bits = 0x30;
constexpr uint8_t ser_clkout_m_div = 0x06;
constexpr uint8_t ser_clkout_n = 0x07;

constexpr float reference_hz = 25000000.0F;

constexpr auto link_lock_pause = 200ms;
constexpr auto serializer_reset_pause = 100ms;
constexpr auto clock_settle_pause = 100ms;

int divider_code(int hs_divider) noexcept
{
    switch (hs_divider)
    {
    case 2:
        return 1;
    case 4:
        return 2;
    case 8:
        return 3;
    case 16:
        return 4;
    default:
        return 0;
    }
}

// Writes the script in order; the first failure ends it with its error.
std::error_code write_script(linux_helper::i2c_com& chip, std::span<const fpdlink_reg> script,
                             const char* which)
{
    try
    {
        for (const auto& e : script)
        {
            write_register(chip, e);
        }
    }
    catch (const std::system_error& e)
    {
        KLOG_WARN("Failed to initialize FPD {} registers: {}", which, e.what());
        return e.code();
    }
    return {};
}

} // namespace

namespace fpd_link {

std::span<const fpdlink_reg> deserializer_script() noexcept
{
    return deserializer_regs;
}

std::span<const fpdlink_reg> serializer_script() noexcept
{
    return serializer_regs;
}

bool clock_setting_for(int sensor_clock, clock_setting& out) noexcept
{
    switch (sensor_clock)
    {
    case 0: // 24 MHz
        out = {4, 3, 125};
        return true;
    case 1: // 27 MHz
        out = {16, 27, 250};
        return true;
    case 2: // 37.125 MHz, as near as the serializer gets: 37.1287 MHz
        out = {8, 15, 202};
        return true;
    default:
        return false;
    }
}

float calculated_clkout_mhz(const clock_setting& s) noexcept
{
    if (s.hs_divider <= 0 || s.n <= 0)
    {
        return 0.0F;
    }
    const float hz = reference_hz * 160.0F / static_cast<float>(s.hs_divider) *
                     (static_cast<float>(s.m) / static_cast<float>(s.n));
    const auto whole_hz = static_cast<float>(static_cast<long long>(hz));
    return whole_hz * 0.000001F;
}

} // namespace fpd_link

void write_register(linux_helper::i2c_com& chip, fpdlink_reg entry)
{
    if (auto ec = chip.write8_reg(entry.reg, entry.value))
    {
        KLOG_WARN("Failed to write device={:#x} address={} value={}, err={}", chip.device_address(),
                  static_cast<unsigned>(entry.reg), static_cast<unsigned>(entry.value),
                  ec.message());
        throw std::system_error(ec);
    }
}

fpd_link_itf::fpd_link_itf(int bus, linux_helper::i2c_com deserializer,
                           linux_helper::i2c_com serializer, linux_helper::sleeper pause)
    : sensor_connection(bus, std::move(pause)), deserializer_(std::move(deserializer)),
      serializer_(std::move(serializer))
{}

int fpd_link_itf::max_lane_bandwidth(int lanes) const
{
    return lanes == 1 || lanes == 2 ? 1600000000 : 800000000;
}

std::error_code fpd_link_itf::write_ser_csi_channel_count(int lanes)
{
    if (!serializer_.present())
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    auto current = serializer_.read8_reg(ser_general_config);
    if (!current)
    {
        throw std::system_error(current.error());
    }
    uint8_t value = static_cast<uint8_t>(current.value() & ~ser_lane_bits);
    if (lanes == 2)
    {
        value |= 0x10;
    }
    else if (lanes == 4)
    {
        value |= 0x30;
    }
    KLOG_DEBUG("Configuring FPD-Link input to {} lanes", lanes);
    return serializer_.write8_reg(ser_general_config, value);
}

void fpd_link_itf::set_clock_rate(const fpd_link::clock_setting& s)
{
    KLOG_DEBUG("f={}, hsdiv={}, m={}, n={}", reference_hz, s.hs_divider, s.m, s.n);
    KLOG_DEBUG("Refclock;{} Freq (calculated): {} MHZ", 25, fpd_link::calculated_clkout_mhz(s));
    write_register(serializer_, {ser_clkout_m_div,
                                 static_cast<uint8_t>(s.m | (divider_code(s.hs_divider) << 5)), 0});
    write_register(serializer_, {ser_clkout_n, static_cast<uint8_t>(s.n), 0});
}

std::error_code fpd_link_itf::configure_sensor_environment(const sensor_config& config)
{
    if (auto ec = write_ser_csi_channel_count(config.num_output_lanes))
    {
        return ec;
    }
    fpd_link::clock_setting s{};
    if (fpd_link::clock_setting_for(config.sensor_clock, s))
    {
        set_clock_rate(s);
    }
    pause()(clock_settle_pause);
    return {};
}

std::unique_ptr<sensor::sensor_impl_itf>
fpd_link_itf::wrap_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                          std::shared_ptr<sensor_board_gpio> gpio)
{
    return std::make_unique<fpd_connected_sensor>(std::move(driver), std::move(gpio));
}

bool detect_fpd_link(int bus)
{
    return linux_helper::i2c_com(bus, fpd_link::deserializer_address).present();
}

result<std::shared_ptr<sensor_connection>> connect_fpd_link(int bus, linux_helper::sleeper pause)
{
    linux_helper::i2c_com deser(bus, fpd_link::deserializer_address);
    if (!deser.present())
    {
        KLOG_WARN("Failed to find fpd link deserializer on bus={} at i2c address={:#x}", bus,
                  fpd_link::deserializer_address);
        return make_error_code(status::fpd_deserializer_open_failed);
    }
    if (auto rev = deser.read8_reg(deser_revision); !rev)
    {
        KLOG_WARN("Failed to read FPD deserializer revision id due to {}", rev.error().message());
        return make_error_code(status::fpd_deserializer_open_failed);
    }
    if (auto ec = write_script(deser, deserializer_regs, "deserializer"))
    {
        return ec;
    }
    // The back channel needs this long to lock before the serializer answers.
    pause(link_lock_pause);

    linux_helper::i2c_com ser(bus, fpd_link::serializer_address);
    if (!ser.present())
    {
        KLOG_WARN("Failed to find fpd link serializer on bus={} at i2c address={:#x}", bus,
                  fpd_link::serializer_address);
        return make_error_code(status::fpd_serializer_open_failed);
    }
    try
    {
        write_register(ser, {ser_reset, ser_reset_value, 0});
    }
    catch (const std::system_error& e)
    {
        KLOG_WARN("Failed to initialize FPD serializer registers: {}", e.what());
        return e.code();
    }
    pause(serializer_reset_pause);
    if (auto ec = write_script(ser, serializer_regs, "serializer"))
    {
        return ec;
    }
    return std::shared_ptr<sensor_connection>(
        std::make_shared<fpd_link_itf>(bus, std::move(deser), std::move(ser), std::move(pause)));
}

} // namespace korsa_cam
