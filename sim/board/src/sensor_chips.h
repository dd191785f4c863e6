#pragma once

// Image sensor models: register memories that know from their standby and start registers
// whether the sensor streams.

#include "register_chip.h"

#include <string>

namespace korsa_sim {

// The Sony sensors: 16-bit register addresses with auto-increment, 8-bit registers.
class sony_sensor : public register_chip
{
public:
    enum class model
    {
        imx290,
        imx296,
        imx297,
        imx335,
        imx390,
    };

    sony_sensor(model m, register_presets presets);
    bool streaming() const override;

protected:
    void apply_defaults() override;
    void store(unsigned pointer, uint8_t value) override;

private:
    model model_;
};

// The AR0234: 16-bit register addresses, 16-bit big-endian registers (register R occupies the
// bytes R and R + 1), a read-only chip version 0x0A56 at 0x3000 and a reset bit in 0x301A.
//
// The sequencer program is loaded through a data port, as on the chip: 0x3088 sets the word
// position (its low bits), and every word written to 0x3086 goes into the sequencer memory at
// that position, which then advances. Reading the port gives the word at the current
// position, not the one just written, so a driver that verified its sequencer writes would
// see mismatches here as on the real sensor. The sequencer memory is not on the bus beyond
// the port; tests see it through the chip's register memory from sequencer_memory on, two
// bytes a word, most significant first.
class ar0234_sensor : public register_chip
{
public:
    static constexpr unsigned sequencer_memory = 0x10000;
    static constexpr unsigned sequencer_words = 1024;

    explicit ar0234_sensor(register_presets presets);
    bool streaming() const override;

protected:
    void apply_defaults() override;
    uint8_t load(unsigned pointer) override;
    void store(unsigned pointer, uint8_t value) override;

private:
    unsigned word_position() const;
};

} // namespace korsa_sim
