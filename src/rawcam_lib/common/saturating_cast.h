#pragma once

// Turning a computed double into a register value.
//
// Camera properties arrive unchecked: an exposure, gain or black level may be negative, far
// beyond its range, infinite or NaN, and a frame rate may be 0 (so 67500 / fps is infinite).
// Converting such a double straight to an unsigned integer is undefined behaviour, so every
// driver goes through saturating_cast instead: the result is the truncated value wherever it
// fits, and the nearest end of the target range otherwise.
//
//   saturating_cast<uint32_t>(0.01 * 67500);          // 675
//   saturating_cast<uint32_t>(67500 / 0.0);           // UINT32_MAX (infinite)
//   saturating_cast<uint16_t>(-3.5);                  // 0
//   saturating_cast<uint16_t>(std::nan(""));          // 0
//   saturating_cast<uint16_t>(-88);                   // 0 (integer sources clamp too)

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace korsa_cam::sensor {

// Truncation toward zero, clamped to [0, max of T]; NaN gives 0.
template <typename T>
constexpr T saturating_cast(double value) noexcept
{
    static_assert(std::is_integral_v<T> && std::is_unsigned_v<T>);
    // Written so that NaN fails the first comparison.
    if (!(value > 0.0))
    {
        return 0;
    }
    // max + 1 is a power of two and exact as a double; everything below it truncates into T.
    constexpr double limit = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
    if (value >= limit)
    {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(value);
}

// An integer of any width or sign, clamped to [0, max of T].
template <typename T, typename I, std::enable_if_t<std::is_integral_v<I>, int> = 0>
constexpr T saturating_cast(I value) noexcept
{
    static_assert(std::is_integral_v<T> && std::is_unsigned_v<T>);
    if constexpr (std::is_signed_v<I>)
    {
        if (value <= 0)
        {
            return 0;
        }
    }
    using wide = std::common_type_t<std::make_unsigned_t<I>, T>;
    if (static_cast<wide>(value) >= static_cast<wide>(std::numeric_limits<T>::max()))
    {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(value);
}

} // namespace korsa_cam::sensor
