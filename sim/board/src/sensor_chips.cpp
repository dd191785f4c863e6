#include "sensor_chips.h"

namespace korsa_sim {
namespace {

constexpr register_layout sensor_layout{2, 0x10000, true, 0x00};

} // namespace

sony_sensor::sony_sensor(model m, register_presets presets)
    : register_chip(sensor_layout, std::move(presets)), model_(m)
{
    power_on();
}

void sony_sensor::apply_defaults()
{
    switch (model_)
    {
    case model::imx290:
    case model::imx335:
        at(0x3000) = 0x01; // standby
        at(0x3002) = 0x01; // master sequence stopped
        break;
    case model::imx296:
    case model::imx297:
        at(0x3000) = 0x01; // standby
        at(0x300A) = 0x01; // readout not started
        break;
    case model::imx390:
        at(0x0000) = 0x01; // standby
        break;
    }
}

void sony_sensor::store(unsigned pointer, uint8_t value)
{
    // The IMX290's software reset brings every register back to its power-on value and
    // clears itself.
    if (model_ == model::imx290 && pointer == 0x3003 && (value & 0x01) != 0)
    {
        restore_power_on_contents();
        return;
    }
    register_chip::store(pointer, value);
}

bool sony_sensor::streaming() const
{
    switch (model_)
    {
    case model::imx290:
    case model::imx335:
        return (at(0x3000) & 0x01) == 0 && (at(0x3002) & 0x01) == 0;
    case model::imx296:
    case model::imx297:
        // In external trigger mode (0x300B) the sensor exposes a frame only on a trigger
        // pulse; nothing pulses in the simulation, so no frames come.
        return (at(0x3000) & 0x01) == 0 && (at(0x300A) & 0x01) == 0 && (at(0x300B) & 0x01) == 0;
    case model::imx390:
        return (at(0x0000) & 0x01) == 0;
    }
    return false;
}

constexpr uint16_t ar_sequencer_port = 0x3086;
constexpr uint16_t ar_sequencer_position = 0x3088;

// The sensor's registers, then its sequencer memory.
constexpr register_layout ar0234_layout{
    2, ar0234_sensor::sequencer_memory + 2 * ar0234_sensor::sequencer_words, true, 0x00};

ar0234_sensor::ar0234_sensor(register_presets presets)
    : register_chip(ar0234_layout, std::move(presets))
{
    power_on();
}

unsigned ar0234_sensor::word_position() const
{
    return ((at(ar_sequencer_position) << 8) | at(ar_sequencer_position + 1)) % sequencer_words;
}

uint8_t ar0234_sensor::load(unsigned pointer)
{
    if (pointer == ar_sequencer_port || pointer == ar_sequencer_port + 1U)
    {
        return at(sequencer_memory + 2 * word_position() + (pointer - ar_sequencer_port));
    }
    return register_chip::load(pointer);
}

void ar0234_sensor::apply_defaults()
{
    at(0x3000) = 0x0A; // chip version 0x0A56
    at(0x3001) = 0x56;
    at(0x301A) = 0x20; // reset register: not streaming
    at(0x301B) = 0x58;
}

void ar0234_sensor::store(unsigned pointer, uint8_t value)
{
    if (pointer == 0x3000 || pointer == 0x3001)
    {
        return; // chip version is read-only
    }
    // Bit 0 of the reset register resets the sensor and clears itself.
    if (pointer == 0x301B && (value & 0x01) != 0)
    {
        restore_power_on_contents();
        return;
    }
    // The sequencer port: the high byte waits in the port until the low byte completes the
    // word, which goes into the sequencer memory; the position moves on to the next word.
    if (pointer == ar_sequencer_port + 1U)
    {
        const unsigned word = word_position();
        at(sequencer_memory + 2 * word) = at(ar_sequencer_port);
        at(sequencer_memory + 2 * word + 1) = value;
        const unsigned position = (at(ar_sequencer_position) << 8) | at(ar_sequencer_position + 1);
        const unsigned next = (position & ~(sequencer_words - 1)) | ((word + 1) % sequencer_words);
        at(ar_sequencer_position) = static_cast<uint8_t>(next >> 8);
        at(ar_sequencer_position + 1) = static_cast<uint8_t>(next & 0xFF);
        return;
    }
    register_chip::store(pointer, value);
}

bool ar0234_sensor::streaming() const
{
    // Bit 2 of the reset register: free-running streaming. Trigger mode without a trigger
    // source (there is none in the simulation) delivers no frames.
    return (at(0x301B) & 0x04) != 0;
}

} // namespace korsa_sim
