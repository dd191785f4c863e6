#pragma once

// The camera board's 8-bit GPIO expander: a TCA7408 (0x43) or a TCA6408 (0x20), whichever the
// board carries. It raises two board signals during bring-up and switches the sensor's
// trigger input between the board's PicoBlade connector and the FPD-Link back channel.
//
// Pins, the same on both chips: 0 and 1 are driven high by setup_sensor_board_io(); pin 6 is
// the trigger-source selector, 1 = PicoBlade input, 0 = FPD-Link.
//
// What throws: detect() throws std::system_error when the bus cannot be opened (the i2c_com
// constructor does). set(), get(), disable_all_outputs(), get_trigger_source() and
// set_trigger_source() throw std::system_error carrying the I2C error after logging a
// warning, and std::system_error with EINVAL for a pin outside 0 to 7.
// setup_sensor_board_io() never throws; it returns the first error.
//
//   auto gpio = sensor_board_gpio::detect(bus, pause);     // after the sensor clock runs
//   if (gpio && !(ec = gpio.value()->setup_sensor_board_io()))
//       gpio.value()->set_trigger_source(true);             // PicoBlade

#include "i2c_com.h"
#include "result.h"
#include "sleeper.h"

#include <cstdint>
#include <memory>
#include <system_error>

namespace korsa_cam {

class sensor_board_gpio
{
public:
    virtual ~sensor_board_gpio() = default;
    sensor_board_gpio(const sensor_board_gpio&) = delete;
    sensor_board_gpio& operator=(const sensor_board_gpio&) = delete;

    // Makes pin an output if it is not one and drives it.
    virtual void set(int pin, bool value) = 0;
    // The value last written to the pin's output bit (0 or 1), not the level at the pin.
    virtual int get(int pin) = 0;
    virtual void disable_all_outputs() = 0;

    // A TCA7408 answering its presence probe wins at once. Otherwise the TCA6408 address is
    // read up to 7 times, 200 ms apart, since that chip may still be coming out of reset;
    // none answering gives gpio_chip_unidentified.
    static result<std::shared_ptr<sensor_board_gpio>> detect(int bus,
                                                             linux_helper::sleeper pause = {});

    // All outputs off, then pin 0 and pin 1 high (10 ms apart, as the board's power sequencing
    // wants), then the trigger source on FPD-Link.
    std::error_code setup_sensor_board_io();

    int get_trigger_source() { return get(trigger_source_pin); }
    void set_trigger_source(bool picoblade) { set(trigger_source_pin, picoblade); }

    static constexpr int trigger_source_pin = 6;

protected:
    explicit sensor_board_gpio(linux_helper::sleeper pause) : pause_(std::move(pause)) {}

    // One register access of the chip at its connection; log a warning and throw on failure.
    static uint8_t read_register(linux_helper::i2c_com& chip, uint8_t reg);
    static void write_register(linux_helper::i2c_com& chip, uint8_t reg, uint8_t value);
    // The bit of a pin 0..7; throws std::system_error(EINVAL) otherwise.
    static uint8_t pin_bit(int pin);

private:
    linux_helper::sleeper pause_;
};

// Registers: output port 0x01, configuration 0x03 (1 = input), input port 0x00.
class tca6408 final : public sensor_board_gpio
{
public:
    static constexpr int i2c_address = 0x20;

    tca6408(linux_helper::i2c_com chip, linux_helper::sleeper pause = {});

    void set(int pin, bool value) override;
    int get(int pin) override;
    // Writes 0x00 to the output port.
    void disable_all_outputs() override;

private:
    linux_helper::i2c_com chip_;
};

// Registers: output high-impedance 0x07 (1 = released), output state 0x05, direction 0x03
// (1 = output).
class tca7408 final : public sensor_board_gpio
{
public:
    static constexpr int i2c_address = 0x43;

    tca7408(linux_helper::i2c_com chip, linux_helper::sleeper pause = {});

    void set(int pin, bool value) override;
    int get(int pin) override;
    // Releases every output (0xFF to the high-impedance register).
    void disable_all_outputs() override;

private:
    uint8_t reg_high_impedance_ = 0x07;
    uint8_t reg_output_state_ = 0x05;
    uint8_t reg_direction_ = 0x03;
    linux_helper::i2c_com chip_;
};

} // namespace korsa_cam
