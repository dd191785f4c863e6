#pragma once

// "Gain" of the IMX sensors: a real property in dB, written as whole register steps.
//
//     imx_gain_register(*this, regs, 0x3014, 72.0, 0.3);   // IMX290: 0 .. 72 dB, 0.3 dB/step
//     set_property("Gain", 6.0) -> write_u16(0x3014, 20) inside the register hold
//
// The setter stores the value as given (the getter answers it; it never reads the sensor) and
// writes the whole number of steps it holds, saturated to the 16-bit register: negative values
// write 0, huge or infinite ones 0xFFFF. NaN is refused with EDOM and changes nothing. The
// range is reported, not enforced. A bus error is returned; the stored value is kept.
// The setter writes through its own copy of regs, so the hold always brackets its write.

#include "common/imx_registers.h"
#include "property_handler.h"

#include <cstdint>

namespace korsa_cam::sensor {

void imx_gain_register(property_handler& handler, imx_registers& regs, uint16_t gain_register,
                       double max_gain_db, double db_per_step);

} // namespace korsa_cam::sensor
