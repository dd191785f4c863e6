#pragma once

// The common chip shape: a register pointer set by the first one or two bytes of a write,
// then data bytes stored or sent from the pointer on, optionally auto-incrementing.

#include "chip.h"

#include <cstddef>

namespace korsa_sim {

struct register_layout
{
    unsigned address_bytes = 1; // 1 or 2, most significant byte first
    std::size_t memory_size = 256;
    bool auto_increment = true;
    uint8_t fill = 0x00; // memory content after power-up, before defaults and presets
};

class register_chip : public chip
{
public:
    register_chip(register_layout layout, register_presets presets);

    void power_on() override;
    void write(std::span<const uint8_t> bytes) override;
    void read(std::span<uint8_t> out) override;
    bool peek(unsigned index, std::span<uint8_t> out) const override;
    bool poke(unsigned index, std::span<const uint8_t> in) override;

protected:
    // Memory back to its power-on contents; the register pointer stays where it is, so a
    // reset written in the middle of a burst lets the rest of the burst land where it was
    // addressed.
    void restore_power_on_contents();
    // Power-on values of the model, applied after the fill and before the presets.
    virtual void apply_defaults() {}
    // One data byte at the register pointer; the defaults are plain memory access.
    virtual uint8_t load(unsigned pointer);
    virtual void store(unsigned pointer, uint8_t value);

    uint8_t& at(unsigned index) { return memory_[index % memory_.size()]; }
    uint8_t at(unsigned index) const { return memory_[index % memory_.size()]; }
    unsigned pointer_space() const { return layout_.address_bytes == 2 ? 0x10000U : 0x100U; }

private:
    void advance();

    register_layout layout_;
    register_presets presets_;
    std::vector<uint8_t> memory_;
    unsigned pointer_ = 0;
};

} // namespace korsa_sim
