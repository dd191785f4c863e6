#pragma once

// Register scripts of the AR0234 (16-bit big-endian registers; see ar0234_registers.h).

#include "ar0234/ar0234_registers.h"
#include "ar0234/ar0234_sequencer.h"

#include <array>
#include <cstddef>

namespace korsa_cam::sensor::ar0234_scripts {

namespace detail {

// clang-format off

// Reset, settle, then the analog set-up that must precede the sequencer program.
inline constexpr ar_reg before_sequencer[] = {
    {0x301A, 0x00D9, ar_reg::never_verify}, // reset: reads back as the power-on value
    ar_wait_ms(200),
    {0x3F4C, 0x121F, 0}, {0x3F4E, 0x121F, 0}, {0x3F50, 0x0B81, 0},
    {0x31E0, 0x0003, 0}, {0x31E0, 0x0003, 0}, {0x30B0, 0x0028, 0},
    {0x3088, 0x8000, 0}, // sequencer program from its first word
};

// PLL, MIPI timing, the full 1920x1200 window, frame timing and the analog tuning. 0x31AE and
// 0x3030 are rewritten afterwards for the lanes and the PLL the connection allows.
inline constexpr ar_reg after_sequencer[] = {
    {0x302A, 0x0005, 0}, {0x302C, 0x0001, 0}, {0x302E, 0x0003, 0}, {0x3030, 0x002C, 0},
    {0x3036, 0x000A, 0}, {0x3038, 0x0001, 0}, {0x31AE, 0x0204, 0}, {0x30B0, 0x0028, 0},
    {0x31B0, 0x0082, 0}, {0x31B2, 0x005C, 0}, {0x31B4, 0x5248, 0}, {0x31B6, 0x3257, 0},
    {0x31B8, 0x904B, 0}, {0x31BA, 0x030B, 0}, {0x31BC, 0x8E09, 0}, {0x3354, 0x002B, 0},
    {0x31D0, 0x0000, 0}, {0x3002, 0x0008, 0}, {0x3004, 0x0008, 0}, {0x3006, 0x04B7, 0},
    {0x3008, 0x0787, 0}, {0x3064, 0x1802, 0}, {0x300A, 0x04C4, 0}, {0x300C, 0x0264, 0},
    {0x30A2, 0x0001, 0}, {0x30A6, 0x0001, 0}, {0x3012, 0x02DC, 0}, {0x3786, 0x0006, 0},
    {0x3044, 0x0410, 0}, {0x3094, 0x03D4, 0}, {0x3096, 0x0480, 0}, {0x30BA, 0x7606, 0},
    {0x30B0, 0x0028, 0}, {0x30BA, 0x7600, 0}, {0x30FE, 0x002A, 0}, {0x31DE, 0x0410, 0},
    {0x3ED6, 0x1435, 0}, {0x3ED8, 0x9865, 0}, {0x3EDA, 0x7698, 0}, {0x3EDC, 0x99FF, 0},
    {0x3EE2, 0xBB88, 0}, {0x3EE4, 0x8836, 0}, {0x3EF0, 0x1CF0, 0}, {0x3EF2, 0x0000, 0},
    {0x3EF8, 0x6166, 0}, {0x3EFA, 0x3333, 0}, {0x3EFC, 0x6634, 0},
    {0x3088, 0x81BA, 0}, {0x3086, 0x3D02, ar_reg::never_verify}, // one sequencer patch word
    {0x3276, 0x05DC, 0}, {0x3F00, 0x9D05, 0}, {0x3ED2, 0xFA86, 0}, {0x3EEE, 0xA4FE, 0},
    {0x3ECC, 0x6E42, 0}, {0x3ECC, 0x0E42, 0}, {0x3EEC, 0x0C0C, 0}, {0x3EE8, 0xAAE4, 0},
    {0x3EE6, 0x3363, 0}, {0x3EE6, 0x3363, 0}, {0x3EE8, 0xAAE4, 0}, {0x3EE8, 0xAAE4, 0},
    {0x3180, 0xC24F, 0}, {0x3102, 0x5000, 0}, {0x3060, 0x000D, 0}, {0x3ED0, 0xFF44, 0},
    {0x3ED2, 0xAA86, 0}, {0x3ED4, 0x031F, 0}, {0x3EEE, 0xA4AA, 0},
};

// clang-format on

constexpr std::size_t init_length =
    std::size(before_sequencer) + ar0234_sequencer::word_count + std::size(after_sequencer) + 1;

constexpr std::array<ar_reg, init_length> make_init() noexcept
{
    std::array<ar_reg, init_length> out{};
    std::size_t n = 0;
    for (const auto& e : before_sequencer)
    {
        out[n++] = e;
    }
    for (const auto word : ar0234_sequencer::sequencer_words)
    {
        out[n++] = {ar_sequencer_port, word, ar_reg::never_verify};
    }
    for (const auto& e : after_sequencer)
    {
        out[n++] = e;
    }
    out[n++] = ar_script_end;
    return out;
}

inline constexpr std::array<ar_reg, init_length> init_table = make_init();

} // namespace detail

// Power-up to standby (streaming off) in 1920x1200, 10 bit: 311 register writes and one wait.
inline constexpr const ar_reg* ar0234_init = detail::init_table.data();
inline constexpr std::size_t ar0234_init_entries = detail::init_table.size();

} // namespace korsa_cam::sensor::ar0234_scripts
