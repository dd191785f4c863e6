#pragma once

// A chip on a simulated I2C bus. The bus decides whether the chip answers (address, plug
// state, link state, faults); the chip only sees the data of acknowledged messages.

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace korsa_sim {

class chip
{
public:
    virtual ~chip() = default;

    // Back to the state after power-up, including the board file's register presets.
    virtual void power_on() = 0;
    // The data bytes of one acknowledged write message.
    virtual void write(std::span<const uint8_t> bytes) = 0;
    // Fills out with the bytes the chip sends for one read message.
    virtual void read(std::span<uint8_t> out) = 0;
    // Only image sensors ever stream.
    virtual bool streaming() const { return false; }

    // Register memory access for tests: false when outside the chip's memory.
    virtual bool peek(unsigned index, std::span<uint8_t> out) const = 0;
    virtual bool poke(unsigned index, std::span<const uint8_t> in) = 0;
};

using register_presets = std::vector<std::pair<unsigned, uint8_t>>;

} // namespace korsa_sim
