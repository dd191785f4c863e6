#pragma once

// Which I2C bus the camera board hangs on, and routing that bus to its pins on Pis whose
// kernel does not do it.

#include <string_view>

namespace pi_setup {

struct kernel_version
{
    int major = 0;
    int minor = 0;
    int patch = 0;
    int fourth = 0;
};

// Up to four dot-separated numbers from the first digit of a kernel release text on
// ("4.19.97-v7l+" gives 4.19.97.0); missing numbers are 0.
kernel_version parse_kernel_release(std::string_view release) noexcept;

// The running kernel's version; 4.19.0.0 when uname fails.
kernel_version get_kernel_version() noexcept;

// Bus 10 from kernel 5 on, bus 0 before.
int get_default_cam0_i2c_bus();

// Kernels before 5 do not route the camera I2C controller to its pins.
bool need_init_i2c0_bus();

// Routes I2C controller 0 to GPIO 44/45 (alternate function 1) and releases GPIO 0/1.
// True when the pins were routed.
bool init_i2c0_bus();

} // namespace pi_setup
