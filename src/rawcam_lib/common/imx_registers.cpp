#include "common/imx_registers.h"

#include "log.h"

#include <array>
#include <chrono>
#include <vector>

namespace korsa_cam::sensor {

imx_registers::imx_registers(linux_helper::i2c_com& bus, uint16_t hold_address, bool little_endian,
                             linux_helper::sleeper pause) noexcept
    : bus_(&bus), hold_address_(hold_address), little_endian_(little_endian),
      pause_(std::move(pause))
{}

std::error_code imx_registers::write(uint16_t address, std::span<const uint8_t> bytes)
{
    return bus_->write16_block(address, bytes);
}

std::error_code imx_registers::write_value(uint16_t address, uint32_t value, unsigned count)
{
    std::array<uint8_t, 4> bytes{};
    for (unsigned i = 0; i < count; ++i)
    {
        // Byte i of the value, counted from the least significant one.
        const auto b = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
        bytes[little_endian_ ? i : count - 1 - i] = b;
    }
    return bus_->write16_block(address, std::span<const uint8_t>(bytes.data(), count));
}

std::error_code imx_registers::write_ux(uint16_t address, uint32_t value, unsigned count)
{
    if (count < 1 || count > 4)
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    return write_value(address, value, count);
}

std::error_code imx_registers::write_u8(uint16_t address, uint8_t value)
{
    return write_value(address, value, 1);
}

std::error_code imx_registers::write_u16(uint16_t address, uint16_t value)
{
    auto h = hold();
    return write_value(address, value, 2);
}

std::error_code imx_registers::write_u24(uint16_t address, uint32_t value)
{
    auto h = hold();
    return write_value(address, value & 0xFFFFFF, 3);
}

result<uint8_t> imx_registers::read_u8(uint16_t address)
{
    return bus_->read16_reg(address);
}

result<uint16_t> imx_registers::read_u16(uint16_t address)
{
    // Both reads happen even when the first fails, so the bus sees the same traffic whatever
    // the outcome.
    const auto first = bus_->read16_reg(address);
    const auto second = bus_->read16_reg(static_cast<uint16_t>(address + 1));
    if (!first)
    {
        return first.error();
    }
    if (!second)
    {
        return second.error();
    }
    const unsigned at_address = first.value();
    const unsigned at_next = second.value();
    return static_cast<uint16_t>(little_endian_ ? (at_next << 8) | at_address
                                                : (at_address << 8) | at_next);
}

void imx_registers::push_reg_hold()
{
    if (hold_address_ == 0)
    {
        return;
    }
    if (hold_depth_++ == 0)
    {
        const uint8_t on = 1;
        (void)bus_->write16_block(hold_address_, std::span<const uint8_t>(&on, 1));
    }
}

void imx_registers::pop_reg_hold()
{
    if (hold_address_ == 0 || hold_depth_ == 0)
    {
        return;
    }
    if (--hold_depth_ == 0)
    {
        const uint8_t off = 0;
        (void)bus_->write16_block(hold_address_, std::span<const uint8_t>(&off, 1));
    }
}

void imx_registers::verify_burst(uint16_t address, std::span<const uint8_t> expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        const auto reg = static_cast<uint16_t>(address + i);
        const auto readback = bus_->read16_reg(reg);
        if (!readback)
        {
            KLOG_ERROR("write_script - readback failed for address [{:x}]: {}", reg,
                       readback.error().message());
        }
        else if (readback.value() != expected[i])
        {
            KLOG_ERROR("write_script - verification failed for address [{:x}], expected {:x}, "
                       "readback {:x}",
                       reg, static_cast<unsigned>(expected[i]),
                       static_cast<unsigned>(readback.value()));
        }
    }
}

std::error_code imx_registers::write_script(const script_entry* script, bool verify)
{
    std::vector<uint8_t> burst;
    burst.reserve(max_burst);
    const script_entry* e = script;
    while (e->address != end_marker)
    {
        if (e->address == delay_marker)
        {
            pause_(std::chrono::milliseconds(e->value));
            ++e;
            continue;
        }
        // A burst: the entry, then every following one at the next address, up to max_burst.
        // Markers sit at the top of the address space, so a run can never reach into them.
        const uint16_t start = e->address;
        burst.clear();
        burst.push_back(e->value);
        ++e;
        while (burst.size() < max_burst && e->address != end_marker && e->address != delay_marker &&
               static_cast<std::size_t>(e->address) == start + burst.size())
        {
            burst.push_back(e->value);
            ++e;
        }
        if (bus_->write16_block(start, burst))
        {
            KLOG_ERROR("write_script -- write failed for address [{:x}], value {:x}", start,
                       static_cast<unsigned>(burst.front()));
        }
        if (verify)
        {
            verify_burst(start, burst);
        }
    }
    return {};
}

} // namespace korsa_cam::sensor
