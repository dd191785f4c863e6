#include "pi_setup.h"

#include "raspi-gpio.h"

#include <climits>
#include <cstring>
#include <sys/utsname.h>

namespace pi_setup {
namespace {

bool is_digit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

} // namespace

kernel_version parse_kernel_release(std::string_view release) noexcept
{
    int slots[4] = {0, 0, 0, 0};
    std::size_t filled = 0;
    std::size_t i = 0;
    // Text before the first number is skipped. After it, only a '.' leads to the next number:
    // the digits of a suffix such as "-v7l+" name a build flavour, not a version.
    while (i < release.size() && !is_digit(release[i]))
    {
        ++i;
    }
    while (filled < 4 && i < release.size() && is_digit(release[i]))
    {
        // An absurdly long digit run saturates instead of overflowing.
        long long value = 0;
        while (i < release.size() && is_digit(release[i]))
        {
            value = value * 10 + (release[i] - '0');
            if (value > INT_MAX)
            {
                value = INT_MAX;
            }
            ++i;
        }
        slots[filled++] = static_cast<int>(value);
        if (i + 1 < release.size() && release[i] == '.')
        {
            ++i;
        }
        else
        {
            break;
        }
    }
    return {slots[0], slots[1], slots[2], slots[3]};
}

kernel_version get_kernel_version() noexcept
{
    utsname info{};
    if (::uname(&info) != 0)
    {
        return {4, 19, 0, 0};
    }
    return parse_kernel_release(
        std::string_view(info.release, ::strnlen(info.release, sizeof(info.release))));
}

int get_default_cam0_i2c_bus()
{
    return get_kernel_version().major < 5 ? 0 : 10;
}

bool need_init_i2c0_bus()
{
    return get_kernel_version().major < 5;
}

bool init_i2c0_bus()
{
    using raspi_gpio::FUNC;
    const auto chip = raspi_gpio::get_gpio_chip();
    if (!chip)
    {
        return false;
    }
    if (raspi_gpio::open_chip_gpio_mem(*chip) != 0)
    {
        return false;
    }
    // Release the pins the controller may be routed to now, then route it to 44/45.
    raspi_gpio::gpio_set(*chip, 0, FUNC::input);
    raspi_gpio::gpio_set(*chip, 1, FUNC::input);
    raspi_gpio::gpio_set(*chip, 44, FUNC::input);
    raspi_gpio::gpio_set(*chip, 44, FUNC::alt1);
    raspi_gpio::gpio_set(*chip, 45, FUNC::input);
    raspi_gpio::gpio_set(*chip, 45, FUNC::alt1);
    return true;
}

} // namespace pi_setup
