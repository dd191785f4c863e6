#pragma once

// The FPD-Link connection: a deserializer on the Pi side (0x30 on the camera bus) and the
// serializer on the camera side, reached through it at 0x31 once the deserializer's script
// has set that alias. Both chips get fixed register scripts; the serializer also generates
// the sensor's clock and is told how many CSI-2 lanes the sensor drives.
//
// What throws: detect_fpd_link() and connect_fpd_link() throw std::system_error when the bus
// cannot be opened (the i2c_com constructor does). write_register() throws std::system_error
// with the I2C error after logging a warning. configure_sensor_environment() lets that
// exception through from the clock programming, and write_ser_csi_channel_count() throws it
// when reading the lane register fails; script failures during connect_fpd_link() are
// returned as error codes.

#include "i2c_com.h"
#include "result.h"
#include "sensor_connection.h"
#include "sleeper.h"

#include <cstdint>
#include <memory>
#include <span>
#include <system_error>

namespace korsa_cam {

// One script entry. The third byte is 0 everywhere and not written.
struct fpdlink_reg
{
    uint8_t reg;
    uint8_t value;
    uint8_t unused;
};

namespace fpd_link {
inline constexpr int deserializer_address = 0x30;
inline constexpr int serializer_address = 0x31;

std::span<const fpdlink_reg> deserializer_script() noexcept;
std::span<const fpdlink_reg> serializer_script() noexcept;

// Serializer clock set-up for one sensor clock selection: output = 25 MHz * 160 / divider *
// m / n.
struct clock_setting
{
    int hs_divider;
    int m;
    int n;
};
// Selections 0 (24 MHz), 1 (27 MHz) and 2 (37.125 MHz); false for any other.
bool clock_setting_for(int sensor_clock, clock_setting& out) noexcept;
// The frequency the serializer will produce, in MHz, computed as the chip does in single
// precision and truncated to whole hertz.
float calculated_clkout_mhz(const clock_setting& setting) noexcept;
} // namespace fpd_link

class fpd_link_itf final : public sensor_connection
{
public:
    // Takes over both connections; nothing is written to the chips here or at destruction.
    fpd_link_itf(int bus, linux_helper::i2c_com deserializer, linux_helper::i2c_com serializer,
                 linux_helper::sleeper pause = {});

    int max_lanes() const override { return 4; }
    // 1.6 Gbit/s per lane for one or two lanes, 800 Mbit/s for more.
    int max_lane_bandwidth(int lanes) const override;

    // Lane count, then the serializer clock for the sensor, then 100 ms to settle. An
    // unknown clock selection programs nothing and is no error.
    std::error_code configure_sensor_environment(const sensor_config& config) override;
    std::unique_ptr<sensor::sensor_impl_itf>
    wrap_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                std::shared_ptr<sensor_board_gpio> gpio) override;

    // Bits 5..4 of serializer register 0x02: 1 lane 0, 2 lanes 1, 4 lanes 3; other counts
    // clear them. EINVAL when the serializer does not answer.
    std::error_code write_ser_csi_channel_count(int lanes);

private:
    void set_clock_rate(const fpd_link::clock_setting& setting);

    linux_helper::i2c_com deserializer_;
    linux_helper::i2c_com serializer_;
};

// Writes one entry with a single register write; logs and throws on failure.
void write_register(linux_helper::i2c_com& chip, fpdlink_reg entry);

// A presence probe at the deserializer's address.
bool detect_fpd_link(int bus);

// Brings both chips up: deserializer revision read and script, 200 ms for the link, the
// serializer's reset (100 ms) and script. Statuses fpd_deserializer_open_failed and
// fpd_serializer_open_failed, or the I2C error of a failed script write.
result<std::shared_ptr<sensor_connection>> connect_fpd_link(int bus,
                                                            linux_helper::sleeper pause = {});

} // namespace korsa_cam
