#pragma once

// Register-level GPIO access for the Raspberry Pi SoCs (the BCM2835 family and the BCM2711),
// through a mapping of the GPIO register page from /dev/gpiomem or, as root, /dev/mem. Used
// only to route the camera I2C controller to its pins on older kernels.

#include <cstdint>
#include <memory>
#include <string>

namespace raspi_gpio {

enum class FUNC : int
{
    input = 0,
    output = 1,
    alt0 = 2,
    alt1 = 3,
    alt2 = 4,
    alt3 = 5,
    alt4 = 6,
    alt5 = 7,
};

enum class DRIVE : int
{
    low = 0,
    high = 1,
};

enum class PULL : int
{
    none = 0,
    down = 1,
    up = 2,
};

struct gpio_chip;

// Register operations of one chip family. Pins at or above the pin count, out-of-range values
// and an unmapped chip give -1.
struct gpio_chip_ops
{
    int (*get_level)(gpio_chip& chip, int pin);
    int (*get_fsel)(gpio_chip& chip, int pin);
    int (*get_pull)(gpio_chip& chip, int pin);
    int (*set_level)(gpio_chip& chip, int pin, DRIVE drive);
    int (*set_fsel)(gpio_chip& chip, int pin, FUNC func);
    int (*set_pull)(gpio_chip& chip, int pin, PULL pull);
    // Walks the readable register words: the first from a negative start, -1 after the last.
    int (*next_reg)(int reg);
};

// One GPIO controller: its identity, register operations and, once opened, the mapping of
// its register page. Owns the mapping and the descriptor.
struct gpio_chip
{
    gpio_chip(std::string chip_name, uint32_t base, const gpio_chip_ops& chip_ops);
    ~gpio_chip();
    gpio_chip(const gpio_chip&) = delete;
    gpio_chip& operator=(const gpio_chip&) = delete;

    bool is_mapped() const noexcept;
    // Unmaps and closes whatever is held.
    void release() noexcept;

    std::string name;
    uint32_t reg_base;
    uint32_t map_len = 4096;
    uint32_t pin_count = 54;
    uint32_t alt_count = 6;
    std::string pin_table_heading = "GPIO, DEFAULT PULL, ALT0, ALT1, ALT2, ALT3, ALT4, ALT5";
    gpio_chip_ops ops;
    volatile uint32_t* regs;
    int fd = -1;
};

// The chip of this board, from the revision code in the device tree; empty when the
// processor is not one of ours.
std::shared_ptr<gpio_chip> get_gpio_chip();

// Maps the chip's register page: 0 on success, -2 when no register device could be opened,
// -3 when mapping failed.
int open_chip_gpio_mem(gpio_chip& chip);

// 0 on success, -1 on failure.
int gpio_set(gpio_chip& chip, int pin, FUNC func);
int gpio_set(gpio_chip& chip, int pin, DRIVE drive);
int gpio_set(gpio_chip& chip, int pin, PULL pull);

} // namespace raspi_gpio
