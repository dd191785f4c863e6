#include "board_chips.h"

namespace korsa_sim {

memory_chip::memory_chip(register_layout layout, register_presets presets)
    : register_chip(layout, std::move(presets))
{
    power_on();
}

si5356a_chip::si5356a_chip(register_presets presets)
    : register_chip(register_layout{1, 512, true, 0x00}, std::move(presets))
{
    power_on();
}

unsigned si5356a_chip::index_of(unsigned pointer) const
{
    if (pointer == 0xFF)
    {
        return 0xFF;
    }
    return ((at(0xFF) & 0x01U) * 256U) + pointer;
}

uint8_t si5356a_chip::load(unsigned pointer)
{
    return at(index_of(pointer));
}

void si5356a_chip::store(unsigned pointer, uint8_t value)
{
    at(index_of(pointer)) = value;
}

tca6408_chip::tca6408_chip(uint8_t external_inputs, register_presets presets)
    : register_chip(register_layout{1, 4, false, 0x00}, std::move(presets)),
      inputs_(external_inputs)
{
    power_on();
}

void tca6408_chip::apply_defaults()
{
    at(1) = 0xFF; // output port
    at(2) = 0x00; // polarity
    at(3) = 0xFF; // every pin an input
}

uint8_t tca6408_chip::load(unsigned pointer)
{
    if (pointer == 0)
    {
        const uint8_t config = at(3);
        const uint8_t level = static_cast<uint8_t>((at(1) & ~config) | (inputs_ & config));
        return static_cast<uint8_t>(level ^ at(2));
    }
    return pointer < 4 ? at(pointer) : 0xFF;
}

void tca6408_chip::store(unsigned pointer, uint8_t value)
{
    if (pointer >= 1 && pointer < 4)
    {
        at(pointer) = value;
    }
}

tca7408_chip::tca7408_chip(uint8_t external_inputs, register_presets presets)
    : register_chip(register_layout{1, 256, true, 0x00}, std::move(presets)),
      inputs_(external_inputs)
{
    power_on();
}

void tca7408_chip::apply_defaults()
{
    at(0x03) = 0x00; // every pin an input
    at(0x05) = 0x00; // output state low
    at(0x07) = 0xFF; // every output released
}

uint8_t tca7408_chip::load(unsigned pointer)
{
    if (pointer == 0x0F)
    {
        const uint8_t driven = static_cast<uint8_t>(at(0x03) & ~at(0x07));
        return static_cast<uint8_t>((at(0x05) & driven) | (inputs_ & ~driven));
    }
    return at(pointer);
}

void tca7408_chip::store(unsigned pointer, uint8_t value)
{
    if (pointer != 0x0F)
    {
        at(pointer) = value;
    }
}

fpd_deserializer_chip::fpd_deserializer_chip(register_presets presets)
    : register_chip(register_layout{1, 256, true, 0x00}, std::move(presets))
{
    power_on();
}

int fpd_deserializer_chip::serializer_alias() const
{
    return at(0x5C) >> 1;
}

void fpd_deserializer_chip::store(unsigned pointer, uint8_t value)
{
    if (pointer != 0x50)
    {
        register_chip::store(pointer, value);
    }
}

fpd_serializer_chip::fpd_serializer_chip(register_presets presets)
    : register_chip(register_layout{1, 256, true, 0x00}, std::move(presets))
{
    power_on();
}

void fpd_serializer_chip::store(unsigned pointer, uint8_t value)
{
    constexpr unsigned reset_register = 0x01;
    constexpr uint8_t register_reset = 0x02;
    if (pointer != reset_register)
    {
        register_chip::store(pointer, value);
        return;
    }
    if ((value & register_reset) != 0)
    {
        power_on();
    }
    // The reset bits clear themselves; the others of the register are kept.
    at(reset_register) = static_cast<uint8_t>(value & ~0x07U);
}

} // namespace korsa_sim
