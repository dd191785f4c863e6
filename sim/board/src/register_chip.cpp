#include "register_chip.h"

#include <algorithm>

namespace korsa_sim {

register_chip::register_chip(register_layout layout, register_presets presets)
    : layout_(layout), presets_(std::move(presets)),
      memory_(std::max<std::size_t>(layout.memory_size, 1), layout.fill)
{}

void register_chip::power_on()
{
    pointer_ = 0;
    restore_power_on_contents();
}

void register_chip::restore_power_on_contents()
{
    std::fill(memory_.begin(), memory_.end(), layout_.fill);
    apply_defaults();
    for (const auto& [index, value] : presets_)
    {
        at(index) = value;
    }
}

void register_chip::write(std::span<const uint8_t> bytes)
{
    // A message shorter than the register address leaves the pointer where it was.
    if (bytes.size() < layout_.address_bytes)
    {
        return;
    }
    unsigned p = 0;
    for (unsigned i = 0; i < layout_.address_bytes; ++i)
    {
        p = (p << 8) | bytes[i];
    }
    pointer_ = p;
    for (std::size_t i = layout_.address_bytes; i < bytes.size(); ++i)
    {
        store(pointer_, bytes[i]);
        advance();
    }
}

void register_chip::read(std::span<uint8_t> out)
{
    for (auto& b : out)
    {
        b = load(pointer_);
        advance();
    }
}

bool register_chip::peek(unsigned index, std::span<uint8_t> out) const
{
    if (index > memory_.size() || out.size() > memory_.size() - index)
    {
        return false;
    }
    std::copy_n(memory_.begin() + index, out.size(), out.begin());
    return true;
}

bool register_chip::poke(unsigned index, std::span<const uint8_t> in)
{
    if (index > memory_.size() || in.size() > memory_.size() - index)
    {
        return false;
    }
    std::copy(in.begin(), in.end(), memory_.begin() + index);
    return true;
}

uint8_t register_chip::load(unsigned pointer)
{
    return at(pointer);
}

void register_chip::store(unsigned pointer, uint8_t value)
{
    at(pointer) = value;
}

void register_chip::advance()
{
    if (layout_.auto_increment)
    {
        pointer_ = (pointer_ + 1) % pointer_space();
    }
}

} // namespace korsa_sim
