#include "sensor_board_gpio.h"

#include "log.h"
#include "rawcam_error.h"

#include <cerrno>
#include <chrono>

namespace korsa_cam {
namespace {

using namespace std::chrono_literals;

// The TCA6408 may still be held in reset by the board's power sequencing: 7 reads, 200 ms
// apart, give it 1.2 s.
constexpr int tca6408_attempts = 7;
constexpr auto tca6408_retry_pause = 200ms;
constexpr auto setup_step_pause = 10ms;

constexpr uint8_t tca6408_input = 0x00;
constexpr uint8_t tca6408_output = 0x01;
constexpr uint8_t tca6408_config = 0x03;

} // namespace

uint8_t sensor_board_gpio::read_register(linux_helper::i2c_com& chip, uint8_t reg)
{
    auto v = chip.read8_reg(reg);
    if (!v)
    {
        KLOG_WARN("Failed to write device={:#x} address={} err={}", chip.device_address(),
                  static_cast<unsigned>(reg), v.error().message());
        throw std::system_error(v.error());
    }
    return v.value();
}

void sensor_board_gpio::write_register(linux_helper::i2c_com& chip, uint8_t reg, uint8_t value)
{
    if (auto ec = chip.write8_reg(reg, value))
    {
        KLOG_WARN("Failed to write device={:#x} address={} value={}, err={}", chip.device_address(),
                  static_cast<unsigned>(reg), static_cast<unsigned>(value), ec.message());
        throw std::system_error(ec);
    }
}

uint8_t sensor_board_gpio::pin_bit(int pin)
{
    if (pin < 0 || pin > 7)
    {
        throw std::system_error(EINVAL, std::generic_category(), "gpio pin out of range");
    }
    return static_cast<uint8_t>(1U << pin);
}

result<std::shared_ptr<sensor_board_gpio>> sensor_board_gpio::detect(int bus,
                                                                     linux_helper::sleeper pause)
{
    {
        linux_helper::i2c_com chip(bus, tca7408::i2c_address);
        if (chip.present())
        {
            KLOG_INFO("Found gpio-chip tca7408");
            return std::shared_ptr<sensor_board_gpio>(
                std::make_shared<tca7408>(std::move(chip), std::move(pause)));
        }
    }
    linux_helper::i2c_com chip(bus, tca6408::i2c_address);
    KLOG_INFO("Found gpio-chip tca6408");
    for (int attempt = 0; attempt < tca6408_attempts; ++attempt)
    {
        if (chip.read8_reg(tca6408_input))
        {
            return std::shared_ptr<sensor_board_gpio>(
                std::make_shared<tca6408>(std::move(chip), std::move(pause)));
        }
        if (attempt + 1 < tca6408_attempts)
        {
            KLOG_WARN("Failed to read from gpio-chip tca6408, retry-counter=#{}", attempt);
            pause(tca6408_retry_pause);
        }
    }
    KLOG_WARN("sensor board gpio-chip not found");
    return make_error_code(status::gpio_chip_unidentified);
}

std::error_code sensor_board_gpio::setup_sensor_board_io()
{
    try
    {
        disable_all_outputs();
        pause_(setup_step_pause);
        set(0, true);
        pause_(setup_step_pause);
        set(1, true);
        set(trigger_source_pin, false);
    }
    catch (const std::system_error& e)
    {
        return e.code();
    }
    return {};
}

tca6408::tca6408(linux_helper::i2c_com chip, linux_helper::sleeper pause)
    : sensor_board_gpio(std::move(pause)), chip_(std::move(chip))
{}

void tca6408::set(int pin, bool value)
{
    const uint8_t bit = pin_bit(pin);
    const uint8_t config = read_register(chip_, tca6408_config);
    if ((config & bit) != 0)
    {
        write_register(chip_, tca6408_config, static_cast<uint8_t>(config & ~bit));
    }
    const uint8_t out = read_register(chip_, tca6408_output);
    write_register(chip_, tca6408_output, static_cast<uint8_t>(value ? (out | bit) : (out & ~bit)));
}

int tca6408::get(int pin)
{
    const uint8_t bit = pin_bit(pin);
    return (read_register(chip_, tca6408_output) & bit) != 0 ? 1 : 0;
}

void tca6408::disable_all_outputs()
{
    write_register(chip_, tca6408_output, 0x00);
}

tca7408::tca7408(linux_helper::i2c_com chip, linux_helper::sleeper pause)
    : sensor_board_gpio(std::move(pause)), chip_(std::move(chip))
{}

void tca7408::set(int pin, bool value)
{
    const uint8_t bit = pin_bit(pin);
    const uint8_t released = read_register(chip_, reg_high_impedance_);
    if ((released & bit) != 0)
    {
        write_register(chip_, reg_high_impedance_, static_cast<uint8_t>(released & ~bit));
    }
    const uint8_t direction = read_register(chip_, reg_direction_);
    if ((direction & bit) == 0)
    {
        write_register(chip_, reg_direction_, static_cast<uint8_t>(direction | bit));
    }
    const uint8_t out = read_register(chip_, reg_output_state_);
    write_register(chip_, reg_output_state_,
                   static_cast<uint8_t>(value ? (out | bit) : (out & ~bit)));
}

int tca7408::get(int pin)
{
    const uint8_t bit = pin_bit(pin);
    return (read_register(chip_, reg_output_state_) & bit) != 0 ? 1 : 0;
}

void tca7408::disable_all_outputs()
{
    write_register(chip_, reg_high_impedance_, 0xFF);
}

} // namespace korsa_cam
