#pragma once

// Register scripts of the IMX390: address = value in the order the sensor needs them, with the
// pauses it needs. The player sends each run of consecutive addresses as one block write.

#include "common/imx_registers.h"
#include "imx390/imx390_mode_settings.h"

#include <array>
#include <cstddef>

namespace korsa_cam::sensor::imx390_scripts {

using entry = imx_registers::script_entry;
inline constexpr entry script_end = imx_registers::script_end;
constexpr entry wait_ms(uint8_t milliseconds) noexcept
{
    return imx_registers::wait_ms(milliseconds);
}

// Leave standby, then give the sensor time to put out its first frame.
inline constexpr entry qel_imx390_start[] = {
    {0x0000, 0x00},
    wait_ms(210),
    script_end,
};

// Back to standby.
inline constexpr entry qel_imx390_stop[] = {
    {0x0000, 0x01},
    script_end,
};

namespace detail {

// A settle pause, the mode registers (see imx390_mode_settings.h, which also says what of them
// is still a placeholder), another settle pause, the end.
constexpr std::size_t init_length = imx390_settings::register_count + 3;

constexpr std::array<entry, init_length> make_init() noexcept
{
    std::array<entry, init_length> out{};
    std::size_t n = 0;
    out[n++] = wait_ms(30);
    for (const auto& e : imx390_settings::mode_1920x1080_27mhz_30fps)
    {
        out[n++] = e;
    }
    out[n++] = wait_ms(30);
    out[n++] = script_end;
    return out;
}

inline constexpr std::array<entry, init_length> init_table = make_init();

} // namespace detail

// Power-up to standby in 1920x1080 at 30 fps with a 27 MHz clock on 4 lanes: 3870 entries.
inline constexpr const entry* qel_imx390_mode_1920x1080_27mhz_30fps = detail::init_table.data();
inline constexpr std::size_t qel_imx390_mode_1920x1080_27mhz_30fps_entries =
    detail::init_table.size();

} // namespace korsa_cam::sensor::imx390_scripts
