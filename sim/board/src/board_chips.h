#pragma once

// The other chips of a camera board: EEPROMs, clock generator, GPIO expanders, FPD-Link pair.

#include "register_chip.h"

#include <string>

namespace korsa_sim {

// Any memory-like chip: EEPROMs and the generic test chips. Erased EEPROMs read 0xFF.
class memory_chip : public register_chip
{
public:
    memory_chip(register_layout layout, register_presets presets);
};

// Clock generator: 8-bit registers in two pages, page selected by register 0xFF. Memory index
// page * 256 + register; index 0xFF holds the page register.
class si5356a_chip : public register_chip
{
public:
    explicit si5356a_chip(register_presets presets);

protected:
    uint8_t load(unsigned pointer) override;
    void store(unsigned pointer, uint8_t value) override;

private:
    unsigned index_of(unsigned pointer) const;
};

// 8-bit expander with input (0), output (1), polarity (2) and configuration (3) registers;
// the register pointer does not advance. The input register reflects the output register for
// output pins and the external level for input pins.
class tca6408_chip : public register_chip
{
public:
    tca6408_chip(uint8_t external_inputs, register_presets presets);

protected:
    void apply_defaults() override;
    uint8_t load(unsigned pointer) override;
    void store(unsigned pointer, uint8_t value) override;

private:
    uint8_t inputs_;
};

// 8-bit expander with direction (0x03, 1 = output), output state (0x05), output
// high-impedance (0x07, 1 = released) and input status (0x0F) registers.
class tca7408_chip : public register_chip
{
public:
    tca7408_chip(uint8_t external_inputs, register_presets presets);

protected:
    void apply_defaults() override;
    uint8_t load(unsigned pointer) override;
    void store(unsigned pointer, uint8_t value) override;

private:
    uint8_t inputs_;
};

// FPD-Link deserializer: 8-bit registers; 0x50 is its read-only revision, 0x5C holds the
// serializer's alias (7-bit address shifted left by one).
class fpd_deserializer_chip : public register_chip
{
public:
    explicit fpd_deserializer_chip(register_presets presets);
    // The 7-bit address the serializer answers at, 0 while none is set.
    int serializer_alias() const;

protected:
    void store(unsigned pointer, uint8_t value) override;
};

// FPD-Link serializer: 8-bit registers (lane count in 0x02, clock in 0x06/0x07). Writing bit 1
// of the reset register 0x01 resets the chip with its registers to the power-on state; the
// reset bits read back as 0, so whatever was written before the reset is gone.
class fpd_serializer_chip : public register_chip
{
public:
    explicit fpd_serializer_chip(register_presets presets);

protected:
    void store(unsigned pointer, uint8_t value) override;
};

} // namespace korsa_sim
