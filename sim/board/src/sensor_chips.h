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
class ar0234_sensor : public register_chip
{
public:
    explicit ar0234_sensor(register_presets presets);
    bool streaming() const override;

protected:
    void apply_defaults() override;
    void store(unsigned pointer, uint8_t value) override;
};

} // namespace korsa_sim
