#pragma once

// =============================================================================================
//  AR0234 SEQUENCER PROGRAM for the initialisation script
//
//  THE SENSOR MAKER'S SEQUENCER WORDS ARE NOT IN THIS TABLE YET.
// =============================================================================================
//
// The initialisation script loads the sensor's readout sequencer: after 0x3088 = 0x8000 it
// writes 235 words, one after the other, to the sequencer data port 0x3086. The program is the
// sensor maker's, for this mode. What this tree knows for certain, and what the tests hold the
// table to, is the count (235), the first four words (C1AE, 327F, 5780, 272F) and the last two
// (2C2C, 2C2C). The 229 words between them are PLACEHOLDERS, written as `not_supplied`.
// A board with an AR0234 therefore comes up and streams, but its image is not correct on real
// hardware until the maker's program is dropped in. The driver says so at initialisation.
//
// Dropping the maker's program in:
//   1. Replace the definition of `sequencer_words` at the end of this file with the maker's
//      words in order:
//          inline constexpr std::array<uint16_t, word_count> sequencer_words{
//              0xC1AE, 0x327F, 0x5780, 0x272F, ...
//          };
//   2. Set `maker_sequencer_supplied` to true.
//   3. Run the sensor tests: they check the count and the known words, so a program for
//      another mode or a truncated paste fails there.

#include <array>
#include <cstddef>
#include <cstdint>

namespace korsa_cam::sensor::ar0234_sequencer {

// False while the table below holds placeholders; see above.
inline constexpr bool maker_sequencer_supplied = false;
// The word written where the maker's word is missing.
inline constexpr uint16_t not_supplied = 0x0000;

inline constexpr std::size_t word_count = 235;

inline constexpr std::array<uint16_t, 4> given_first{0xC1AE, 0x327F, 0x5780, 0x272F};
inline constexpr std::array<uint16_t, 2> given_last{0x2C2C, 0x2C2C};

constexpr std::array<uint16_t, word_count> build_placeholder() noexcept
{
    std::array<uint16_t, word_count> out{};
    for (auto& w : out)
    {
        w = not_supplied;
    }
    for (std::size_t i = 0; i < given_first.size(); ++i)
    {
        out[i] = given_first[i];
    }
    for (std::size_t i = 0; i < given_last.size(); ++i)
    {
        out[word_count - given_last.size() + i] = given_last[i];
    }
    return out;
}

// The words in the order they are fed to the sequencer.
inline constexpr std::array<uint16_t, word_count> sequencer_words = build_placeholder();

} // namespace korsa_cam::sensor::ar0234_sequencer
