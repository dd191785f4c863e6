#pragma once

// =============================================================================================
//  IMX390 MODE REGISTER SETTINGS: 1920x1080, 30 fps, 27 MHz input clock, 4 CSI-2 lanes
//
//  THE SENSOR MAKER'S TUNING DATA IS NOT IN THIS TABLE YET.
// =============================================================================================
//
// The initialisation script writes 3867 registers between 0x000C and 0x723F, which the script
// player sends as 246 block writes (one per run of consecutive addresses). Most of these
// registers hold analog and pixel-timing tuning that only the sensor maker's register settings
// for this mode can supply. What this tree knows for certain, and what the tests hold the
// table to, is:
//   - the count (3867 writes) and the number of runs (246);
//   - the first runs: 000C..000E, 0010..0012, 0018..001B, 0038, and 003C..0060 without the
//     addresses ending in 3, 7, B or F, with their values;
//   - the last runs: ... 723C..723F, then 0232..0233, with their values;
//   - the values listed in `given` below (cropping, frame multiplier, output select, format,
//     readout direction and the low bytes of VMAX, HMAX and the output size).
// Everything else is a placeholder:
//   - the addresses and lengths of the runs between those fixed points (`layout`: regular
//     16-register runs on a 32-register stride, plainly not a real register map), and
//   - every value not in `given`, written as `not_supplied`.
// A board with an IMX390 therefore comes up and streams, but its image is not correct on real
// hardware until the maker's settings are dropped in. The driver says so at initialisation.
//
// Dropping the maker's settings in:
//   1. Replace the definition of `mode_1920x1080_27mhz_30fps` at the end of this file with the
//      maker's list, in the maker's order, as {address, value} pairs:
//          inline constexpr std::array<entry, register_count> mode_1920x1080_27mhz_30fps{{
//              {0x000C, 0x7F}, {0x000D, 0x01}, ...
//          }};
//      (without the two 30 ms waits: the script adds them around the list).
//   2. Set `maker_settings_supplied` to true.
//   3. Run the sensor tests: they check the count, the 246 runs and every value listed above,
//      so a list for a different mode or a truncated paste fails there.

#include "common/imx_registers.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace korsa_cam::sensor::imx390_settings {

using entry = imx_registers::script_entry;

// False while the table below holds placeholders; see above.
inline constexpr bool maker_settings_supplied = false;
// The value written where the maker's value is missing.
inline constexpr uint8_t not_supplied = 0x00;

inline constexpr std::size_t register_count = 3867;
inline constexpr std::size_t run_count = 246;

// Values that are known, by register. Every other register of the layout gets not_supplied.
struct given_value
{
    uint16_t address;
    uint8_t value;
};

// clang-format off
inline constexpr given_value given[] = {
    // The first runs: both shutters, both analog gains, then the block from 0x0038.
    {0x000C, 0x7F}, {0x000D, 0x01}, {0x000E, 0x00},
    {0x0010, 0x7F}, {0x0011, 0x01}, {0x0012, 0x00},
    {0x0018, 0x64}, {0x0019, 0x00}, {0x001A, 0x0C}, {0x001B, 0x00},
    {0x0038, 0x00},
    {0x003C, 0x00}, {0x003D, 0x00}, {0x003E, 0x00},
    {0x0040, 0x00}, {0x0041, 0x00}, {0x0042, 0x00},
    {0x0044, 0x00}, {0x0045, 0x00}, {0x0046, 0x00},
    {0x0048, 0x00}, {0x0049, 0x00}, {0x004A, 0x00},
    {0x004C, 0x00}, {0x004D, 0x00}, {0x004E, 0x00},
    {0x0050, 0x00}, {0x0051, 0x00}, {0x0052, 0x00},
    {0x0054, 0x00}, {0x0055, 0x00}, {0x0056, 0x00},
    {0x0058, 0x00}, {0x0059, 0x00}, {0x005A, 0x00},
    {0x005C, 0x00}, {0x005D, 0x00}, {0x005E, 0x00},
    {0x0060, 0x00},
    // Registers the driver rewrites later, at their initial values.
    {0x0078, 0x00},                 // cropping off
    {0x007C, 0x00},                 // cropping offsets (low bytes)
    {0x0080, 0x00},
    {0x0090, 0x00},                 // frame multiplier
    {0x00F9, 0x01}, {0x00FA, 0x00}, // combined HDR output
    {0x013B, 0x00},                 // piecewise-linear output
    {0x03C0, 0x00},                 // readout direction
    {0x2008, 0x65},                 // VMAX, low byte
    {0x200C, 0x98},                 // HMAX, low byte
    {0x3410, 0x90},                 // output width, low byte
    {0x3418, 0x48},                 // output height, low byte
    // The last runs.
    {0x723C, 0x01}, {0x723D, 0xF6}, {0x723E, 0x45}, {0x723F, 0x12},
    {0x0232, 0x13}, {0x0233, 0x01},
};

// Where the writes go, in script order: `runs` runs of `length` consecutive registers, the
// first at `first`, each further one `stride` registers after the previous. The first five
// and the last group are the known runs; the groups in between are PLACEHOLDERS standing in
// for the maker's register map (see the top of the file).
struct run_group
{
    uint16_t first;
    uint16_t runs;
    uint16_t length;
    uint16_t stride;
};

inline constexpr run_group layout[] = {
    {0x000C, 1, 3, 0},
    {0x0010, 1, 3, 0},
    {0x0018, 1, 4, 0},
    {0x0038, 1, 1, 0},
    {0x003C, 9, 3, 4},
    // placeholder runs
    {0x0060, 1, 131, 0},
    {0x00F0, 1, 16, 0},
    {0x0130, 8, 16, 32},
    {0x02C0, 10, 16, 32},
    {0x2000, 32, 16, 32},
    {0x3010, 120, 16, 32},
    {0x6AD0, 60, 16, 32},   // the last one ends at 0x723F
    // known again
    {0x0232, 1, 2, 0},
};
// clang-format on

constexpr uint8_t value_for(uint16_t address) noexcept
{
    for (const auto& g : given)
    {
        if (g.address == address)
        {
            return g.value;
        }
    }
    return not_supplied;
}

// Writes the layout describes; it must be exactly register_count.
constexpr std::size_t layout_size() noexcept
{
    std::size_t n = 0;
    for (const auto& group : layout)
    {
        n += std::size_t{group.runs} * group.length;
    }
    return n;
}
static_assert(layout_size() == register_count);

constexpr std::array<entry, register_count> build_from_layout() noexcept
{
    std::array<entry, register_count> out{};
    std::size_t n = 0;
    for (const auto& group : layout)
    {
        for (unsigned r = 0; r < group.runs; ++r)
        {
            for (unsigned i = 0; i < group.length; ++i)
            {
                const auto address = static_cast<uint16_t>(group.first + r * group.stride + i);
                out[n++] = {address, value_for(address)};
            }
        }
    }
    return out;
}

// The mode registers in the order the sensor needs them.
inline constexpr std::array<entry, register_count> mode_1920x1080_27mhz_30fps = build_from_layout();

} // namespace korsa_cam::sensor::imx390_settings
