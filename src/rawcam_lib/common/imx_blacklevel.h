#pragma once

// "BlackLevel" of the IMX sensors: a real property in register counts.
//
//     imx_blacklevel_register(*this, regs, 0x300A, 511, 240);   // IMX290
//
// The setter clamps the value to 0 .. maximum, stores the clamped value and writes its whole
// part with write_u16 (inside the register hold, through the setter's own copy of regs). NaN
// is refused with EDOM and changes nothing. The getter answers the stored value, which starts
// at the default; registration writes nothing. A bus error is returned; the stored value is
// kept.

#include "common/imx_registers.h"
#include "property_handler.h"

#include <cstdint>

namespace korsa_cam::sensor {

void imx_blacklevel_register(property_handler& handler, imx_registers& regs,
                             uint16_t blacklevel_register, uint16_t maximum,
                             uint16_t default_value);

} // namespace korsa_cam::sensor
