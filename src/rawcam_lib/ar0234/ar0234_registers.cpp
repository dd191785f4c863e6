#include "ar0234/ar0234_registers.h"

#include "log.h"

#include <array>
#include <chrono>
#include <span>

namespace korsa_cam::sensor {

result<uint16_t> ar_read16(linux_helper::i2c_com& bus, uint16_t address)
{
    auto bytes = bus.read16_vec(address, 2);
    if (!bytes)
    {
        return bytes.error();
    }
    const auto& b = bytes.value();
    return static_cast<uint16_t>((unsigned{b[0]} << 8) | b[1]);
}

std::error_code ar_write16(linux_helper::i2c_com& bus, uint16_t address, uint16_t value)
{
    const std::array<uint8_t, 2> bytes{static_cast<uint8_t>(value >> 8),
                                       static_cast<uint8_t>(value & 0xFF)};
    return bus.write16_block(address, bytes);
}

namespace {

void verify_entry(linux_helper::i2c_com& bus, const ar_reg& e)
{
    const bool byte_wide = (e.flags & ar_reg::byte_wide) != 0;
    std::error_code failed;
    unsigned readback = 0;
    if (byte_wide)
    {
        auto r = bus.read16_reg(e.address);
        failed = r ? std::error_code{} : r.error();
        readback = r ? r.value() : 0;
    }
    else
    {
        auto r = ar_read16(bus, e.address);
        failed = r ? std::error_code{} : r.error();
        readback = r ? r.value() : 0;
    }
    const unsigned expected = byte_wide ? (e.value & 0xFFU) : e.value;
    if (failed)
    {
        KLOG_ERROR("write_script - readback failed for address [{:x}]: {}", e.address,
                   failed.message());
    }
    else if (readback != expected)
    {
        KLOG_ERROR("write_script - verification failed for address [{:x}], expected {:x}, "
                   "readback {:x}",
                   e.address, expected, readback);
    }
}

} // namespace

std::error_code ar_write_script(linux_helper::i2c_com& bus, const ar_reg* script, bool verify,
                                const linux_helper::sleeper& pause)
{
    for (const ar_reg* e = script; e->address != ar_reg::end_marker; ++e)
    {
        if (e->address == ar_reg::delay_marker)
        {
            pause(std::chrono::milliseconds(e->value));
            continue;
        }
        const bool byte_wide = (e->flags & ar_reg::byte_wide) != 0;
        const std::array<uint8_t, 2> word{static_cast<uint8_t>(e->value >> 8),
                                          static_cast<uint8_t>(e->value & 0xFF)};
        const auto data =
            byte_wide ? std::span<const uint8_t>(word).subspan(1) : std::span<const uint8_t>(word);
        if (auto ec = bus.write16_block(e->address, data))
        {
            KLOG_ERROR("write_script -- write failed for address [{:x}], value {:x}", e->address,
                       e->value);
            return ec;
        }
        if (verify && (e->flags & ar_reg::never_verify) == 0 && e->address != ar_sequencer_port)
        {
            verify_entry(bus, *e);
        }
    }
    return {};
}

} // namespace korsa_cam::sensor
