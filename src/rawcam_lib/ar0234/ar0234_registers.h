#pragma once

// Register access for the onsemi AR0234: 16-bit register addresses and 16-bit registers, most
// significant byte first, plus a few byte-wide registers. It works straight on the sensor's
// i2c_com; the Sony accessor (little-endian byte registers with a hold register) does not fit.
//
//     ar_write16(bus, 0x3060, 13);                  // [30 60 00 0D]
//     auto version = ar_read16(bus, 0x3000);        // one 2-byte read: 0x0A56
//     constexpr ar_reg script[] = {
//         {0x3022, 0x01, ar_reg::byte_wide},        // [30 22 01]
//         {0x300A, 0x04C4, 0},                      // [30 0A 04 C4]
//         ar_wait_ms(200),
//         ar_script_end,
//     };
//     ar_write_script(bus, script, true, pause);    // written, then read back and compared
//
// Nothing here throws. Unlike the Sony script player, ar_write_script stops at the first
// failed write and returns its error, so the sensor is never left running a half-loaded
// configuration believed complete; a failed or differing read-back is logged at error level
// and the script goes on (the write itself was acknowledged).

#include "i2c_com.h"
#include "result.h"
#include "sleeper.h"

#include <cstdint>
#include <system_error>

namespace korsa_cam::sensor {

// One step of an AR0234 register script. Scripts are constant tables ending with
// ar_script_end.
struct ar_reg
{
    static constexpr uint16_t byte_wide = 0x0001;    // only the low byte of value is written
    static constexpr uint16_t never_verify = 0x0002; // not read back, even when verifying
    static constexpr uint16_t end_marker = 0xFFFF;   // end of script, value ignored
    static constexpr uint16_t delay_marker = 0xFFFE; // sleep value milliseconds (0: none)

    uint16_t address;
    uint16_t value;
    uint16_t flags;
};
static_assert(sizeof(ar_reg) == 6);

inline constexpr ar_reg ar_script_end{ar_reg::end_marker, 0, 0};
constexpr ar_reg ar_wait_ms(uint16_t milliseconds) noexcept
{
    return {ar_reg::delay_marker, milliseconds, 0};
}

// The sequencer data port: each write feeds the next word of the sensor's sequencer program,
// so reading it back says nothing about the write. Never verified.
inline constexpr uint16_t ar_sequencer_port = 0x3086;

// One 2-byte read, most significant byte first.
result<uint16_t> ar_read16(linux_helper::i2c_com& bus, uint16_t address);
// One 2-byte block write, most significant byte first.
std::error_code ar_write16(linux_helper::i2c_com& bus, uint16_t address, uint16_t value);

// Plays a script up to its end entry, one block write per register entry, pausing through
// pause. With verify, each written register is read back (single byte for byte-wide entries)
// except entries flagged never_verify and the sequencer port.
std::error_code ar_write_script(linux_helper::i2c_com& bus, const ar_reg* script, bool verify,
                                const linux_helper::sleeper& pause);

} // namespace korsa_cam::sensor
