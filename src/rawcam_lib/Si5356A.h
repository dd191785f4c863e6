#pragma once

// The clock generator of a directly connected camera board (7-bit address 0x70). Its presence
// tells a direct board from an FPD-Link one, and it produces the sensor's input clock.
//
// Each operation opens its own connection to the chip for the call and closes it at the end.
// probe() throws std::system_error when the bus itself cannot be opened (the i2c_com
// constructor does); the configure functions never throw and return that error instead.
//
//   if (Si5356A::probe(bus))
//       ec = Si5356A::configure_clock_37_125MHz(bus);   // then wait 100 ms for it to settle

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>

namespace korsa_cam::Si5356A {

inline constexpr int i2c_address = 0x70;

// One entry of a clock script. mask 0x00: skipped; 0xFF: value written as it is; anything
// else: read-modify-write, new = (current & ~mask) | (value & mask).
struct clock_entry
{
    uint8_t reg;
    uint8_t value;
    uint8_t mask;
};

inline constexpr std::size_t clock_table_size = 349;
using clock_table = std::array<clock_entry, clock_table_size>;

// The three scripts, in the order the chip must see them. They are the same table except for
// the values of page-0 registers 0x35, 0x36, 0x37 and 0x3B.
const clock_table& clock_table_24MHz() noexcept;
const clock_table& clock_table_27MHz() noexcept;
const clock_table& clock_table_37_125MHz() noexcept;

// True when reading register 0x00 succeeds; the value is not looked at. Logs nothing.
bool probe(int bus);

// The configuration sequence: output-disable and set-up writes, the script, then soft reset
// and output enable. Only the script's own accesses are checked; the first failing one ends
// the call with its error (logged), without the closing writes. No wait inside.
std::error_code configure_clock_24MHz(int bus);
std::error_code configure_clock_27MHz(int bus);
std::error_code configure_clock_37_125MHz(int bus);

// Runs one script on a chip reached at (bus, 0x70); what the three functions above share.
std::error_code configure_clock(int bus, std::span<const clock_entry> script);

} // namespace korsa_cam::Si5356A
