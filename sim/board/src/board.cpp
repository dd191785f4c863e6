#include "board.h"

#include "board_chips.h"
#include "sensor_chips.h"

#include <cerrno>
#include <stdexcept>
#include <unistd.h>

namespace korsa_sim {
namespace {

// What the Pi's I2C controller reports when no chip acknowledges its address.
constexpr int nack_error = EREMOTEIO;

void put_text(register_presets& p, unsigned at, const std::string& text, std::size_t field)
{
    for (std::size_t i = 0; i < field; ++i)
    {
        p.emplace_back(at + i, i < text.size() ? static_cast<uint8_t>(text[i]) : uint8_t{0});
    }
}

// Presets of the file come after the generated content, so a file can still spoil it.
register_presets with_file_presets(register_presets generated, const chip_description& d)
{
    generated.insert(generated.end(), d.registers.begin(), d.registers.end());
    return generated;
}

} // namespace

std::unique_ptr<chip> make_chip(const chip_description& d)
{
    using sony = sony_sensor::model;
    const auto& t = d.type;
    if (t == "product-eeprom")
    {
        register_presets p;
        p.emplace_back(0x14, static_cast<uint8_t>(d.marker));
        // The product id field holds 29 bytes, zero-padded; a longer text runs on.
        put_text(p, 0x15, d.product_id, std::max<std::size_t>(29, d.product_id.size()));
        const unsigned size = d.size != 0 ? d.size : 256;
        return std::make_unique<memory_chip>(register_layout{1, size, true, 0xFF},
                                             with_file_presets(std::move(p), d));
    }
    if (t == "id-eeprom")
    {
        register_presets p;
        p.emplace_back(0, static_cast<uint8_t>(d.version));
        for (unsigned i = 1; i < 8; ++i)
        {
            p.emplace_back(i, 0);
        }
        put_text(p, 8, d.serial, 16);
        put_text(p, 24, d.display_name, 32);
        put_text(p, 56, d.extra, 32);
        const unsigned size = d.size != 0 ? d.size : 4096;
        return std::make_unique<memory_chip>(register_layout{2, size, true, 0xFF},
                                             with_file_presets(std::move(p), d));
    }
    if (t == "memory8" || t == "memory16")
    {
        const unsigned width = t == "memory8" ? 1 : 2;
        const unsigned size = d.size != 0 ? d.size : (width == 1 ? 256 : 0x10000);
        return std::make_unique<memory_chip>(register_layout{width, size, true, 0x00}, d.registers);
    }
    if (t == "imx290")
        return std::make_unique<sony_sensor>(sony::imx290, d.registers);
    if (t == "imx296")
        return std::make_unique<sony_sensor>(sony::imx296, d.registers);
    if (t == "imx297")
        return std::make_unique<sony_sensor>(sony::imx297, d.registers);
    if (t == "imx335")
        return std::make_unique<sony_sensor>(sony::imx335, d.registers);
    if (t == "imx390")
        return std::make_unique<sony_sensor>(sony::imx390, d.registers);
    if (t == "ar0234")
        return std::make_unique<ar0234_sensor>(d.registers);
    if (t == "si5356a")
        return std::make_unique<si5356a_chip>(d.registers);
    if (t == "tca6408")
        return std::make_unique<tca6408_chip>(static_cast<uint8_t>(d.inputs), d.registers);
    if (t == "tca7408")
        return std::make_unique<tca7408_chip>(static_cast<uint8_t>(d.inputs), d.registers);
    if (t == "fpd-deserializer")
        return std::make_unique<fpd_deserializer_chip>(d.registers);
    if (t == "fpd-serializer")
        return std::make_unique<fpd_serializer_chip>(d.registers);
    throw std::invalid_argument("unknown chip type '" + t + "'");
}

board::board(board_description description, std::string unplug_file)
    : desc_(std::move(description)), unplug_file_(std::move(unplug_file))
{
    for (const auto& c : desc_.chips)
    {
        slots_.push_back({c, make_chip(c)});
    }
    const auto& rev = desc_.revision;
    gpio_ = std::make_unique<gpio_block>(
        gpio_base_for_revision(rev ? rev->data() : nullptr, rev ? rev->size() : 0));
    arm_board_faults();
}

bool board::bus_exists(int bus) const
{
    return desc_.buses.count(bus) != 0;
}

bool board::address_busy(int bus, int address) const
{
    return desc_.busy.count({bus, address}) != 0;
}

void board::arm_board_faults()
{
    for (const auto& s : slots_)
    {
        if (s.desc.fail_reads != 0)
        {
            faults_.fail_reads(s.desc.bus, s.desc.address, s.desc.fail_reads, nack_error);
        }
        if (s.desc.fail_error != 0)
        {
            faults_.fail_address(s.desc.bus, s.desc.address, s.desc.fail_error);
        }
    }
}

void board::power_cycle()
{
    for (auto& s : slots_)
    {
        s.model->power_on();
    }
}

void board::reset()
{
    power_cycle();
    trace_.clear();
    faults_.clear();
    arm_board_faults();
    transactions_ = 0;
    api_unplugged_ = false;
    was_unplugged_ = false;
    if (gpio_->ok())
    {
        gpio_->power_on();
    }
}

void board::update_plug_state()
{
    const bool now =
        api_unplugged_ || (!unplug_file_.empty() && ::access(unplug_file_.c_str(), F_OK) == 0);
    // Plugging a board in again powers its chips up from scratch.
    if (was_unplugged_ && !now)
    {
        power_cycle();
    }
    was_unplugged_ = now;
}

void board::set_unplugged(bool unplugged)
{
    api_unplugged_ = unplugged;
    update_plug_state();
}

bool board::unplugged()
{
    update_plug_state();
    return was_unplugged_;
}

int board::serializer_alias(int bus) const
{
    for (const auto& s : slots_)
    {
        if (s.desc.bus == bus && s.desc.type == "fpd-deserializer")
        {
            return static_cast<const fpd_deserializer_chip&>(*s.model).serializer_alias();
        }
    }
    return 0;
}

board::slot* board::responder(int bus, int address)
{
    if (was_unplugged_)
    {
        return nullptr;
    }
    // On older Pis the camera bus controller reaches the board only once it is routed.
    if (bus == 0 && desc_.i2c0_needs_routing && !gpio_->i2c0_routed())
    {
        return nullptr;
    }
    const int alias = serializer_alias(bus);
    slot* serializer = nullptr;
    for (auto& s : slots_)
    {
        if (s.desc.bus == bus && s.desc.type == "fpd-serializer")
        {
            serializer = &s;
        }
    }
    // The serializer answers at the alias the deserializer was told, and the chips behind
    // it only while that link is up.
    const bool link_up = serializer != nullptr && alias != 0;
    for (auto& s : slots_)
    {
        if (s.desc.bus != bus)
        {
            continue;
        }
        if (&s == serializer)
        {
            if (link_up && alias == address)
            {
                return &s;
            }
            continue;
        }
        if (s.desc.address == address && (!s.desc.behind_serializer || link_up))
        {
            return &s;
        }
    }
    return nullptr;
}

chip* board::chip_at(int bus, int address)
{
    for (auto& s : slots_)
    {
        if (s.desc.bus == bus && s.desc.address == address)
        {
            return s.model.get();
        }
    }
    return nullptr;
}

int board::transfer(int bus, int address, std::span<bus_message> messages, bool smbus)
{
    const unsigned long number = ++transactions_;
    update_plug_state();
    const int transaction_error = faults_.on_transaction(number, bus, address);
    for (std::size_t i = 0; i < messages.size(); ++i)
    {
        auto& m = messages[i];
        const int target_address = m.address >= 0 ? m.address : address;
        slot* target = responder(bus, target_address);
        trace_entry e;
        e.transaction = number;
        e.bus = bus;
        e.address = target_address;
        e.read = m.read;
        e.repeated_start = i > 0;
        e.smbus = smbus;
        e.requested = m.read ? m.in.size() : m.out.size();
        int err = i == 0 ? transaction_error : 0;
        if (err == 0 && m.read)
        {
            err = faults_.on_read(bus, target_address);
        }
        if (err == 0 && target == nullptr)
        {
            err = nack_error;
        }
        if (!m.read)
        {
            e.data.assign(m.out.begin(), m.out.end());
        }
        if (err != 0)
        {
            e.error = err;
            trace_.add(std::move(e));
            return err;
        }
        if (m.read)
        {
            m.delivered = faults_.read_length(bus, target_address, m.in.size());
            target->model->read(m.in.first(m.delivered));
            e.data.assign(m.in.begin(), m.in.begin() + static_cast<std::ptrdiff_t>(m.delivered));
        }
        else
        {
            target->model->write(m.out);
        }
        trace_.add(std::move(e));
    }
    return 0;
}

bool board::sensor_streaming()
{
    update_plug_state();
    if (was_unplugged_)
    {
        return false;
    }
    for (const auto& s : slots_)
    {
        if (s.model->streaming())
        {
            return true;
        }
    }
    return false;
}

} // namespace korsa_sim
