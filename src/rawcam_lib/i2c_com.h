#pragma once

// One (bus, 7-bit address) connection to a chip on a Linux i2c-dev bus. Every transfer is a
// plain write or read on the bound descriptor: one bus transaction each, never a combined
// (repeated-start) transfer, because some of the chips on the camera boards cannot take one
// through the FPD-Link back channel.

#include "result.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <vector>

namespace linux_helper {

class i2c_com
{
public:
    // Opens /dev/i2c-<bus> and binds the device address. Throws std::system_error: with the
    // library status i2c_bus_open_failed when the bus cannot be opened, with errno and
    // "failed ioctl on i2c bus handle" when the address cannot be bound.
    i2c_com(int bus, int device_address);
    ~i2c_com();

    // A move hands over descriptor and mutex; the source keeps neither and closes nothing.
    i2c_com(i2c_com&& other) noexcept;
    i2c_com& operator=(i2c_com&& other) noexcept;
    i2c_com(const i2c_com&) = delete;
    i2c_com& operator=(const i2c_com&) = delete;

    // One SMBus receive-byte probe; true when a chip acknowledged its address.
    bool present() const;

    // Writes all of out, then, unless the write failed, reads in.size() bytes into in; two
    // separate bus transactions under this object's mutex. A short count is no error.
    std::error_code read_func(std::span<const uint8_t> out, std::span<uint8_t> in);

    korsa_cam::result<uint8_t> read8_reg(uint8_t reg);
    korsa_cam::result<std::vector<uint8_t>> read8_vec(uint8_t reg, unsigned count);
    // Reads one byte although the register address is 16 bits wide.
    korsa_cam::result<uint8_t> read16_reg(uint16_t reg);
    std::error_code read16_block(uint16_t reg, std::span<uint8_t> destination);
    korsa_cam::result<std::vector<uint8_t>> read16_vec(uint16_t reg, unsigned count);

    std::error_code write8_reg(uint8_t reg, uint8_t value);
    // At most max_block_write_size data bytes, so that one write stays within 1024 bytes;
    // more gives EOVERFLOW without touching bus or log.
    std::error_code write16_block(uint16_t reg, std::span<const uint8_t> data);

    static constexpr std::size_t max_block_write_size = 1022;

    int bus() const noexcept { return bus_; }
    int device_address() const noexcept { return device_address_; }

private:
    void release() noexcept;

    int fd_ = -1;
    int device_address_ = 0;
    int bus_ = 0;
    std::unique_ptr<std::mutex> mutex_;
};

} // namespace linux_helper
