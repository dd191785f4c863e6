#pragma once

// From a setup_parameter to a ready sensor: detect the board's connection, read the
// product-id EEPROM for model and colour filter, create the matching driver, let the
// connection start its clock and board I/O and wrap it, and read the identification EEPROM
// for serial and display name.
//
//   auto init = korsa_cam::sensor::create_sensor_itf({});          // default camera bus
//   if (init)
//       use(std::move(init.value().sensor), init.value().serial, init.value().name);
//
// Nothing throws out of create_sensor_itf: an exception from a chip, a reader or a driver
// (for example a failed EEPROM marker read or FPD-Link clock programming) is logged and
// returned as its error code. A missing or invalid product-id EEPROM only costs the model
// (it must then come from the parameter) and leaves the driver monochrome; a missing or
// invalid identification EEPROM only costs the serial ("DEADBEEF") and the display name (the
// model name instead).

#include "camera_types.h"
#include "result.h"
#include "sensor_impl_itf.h"
#include "sleeper.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace korsa_cam {
class connection_constraints;
}

namespace korsa_cam::sensor {

struct sensor_init_data
{
    std::unique_ptr<sensor_impl_itf> sensor; // the driver as wrapped by its connection
    std::string serial = "DEADBEEF";
    std::string name;
    std::string identifier; // always empty
};

// What a driver creation function gets.
struct driver_request
{
    int bus;
    bool colour;
    const connection_constraints& constraints; // valid during the call only
    const linux_helper::sleeper& pause;
};

using driver_factory = std::function<std::unique_ptr<sensor_impl_itf>(const driver_request&)>;

// One model name (compared exactly, case-sensitive) and how to create its driver; an empty
// result means construction failed.
struct driver_entry
{
    std::string_view model;
    driver_factory create;
};

// Every model the library knows, in the order they are compared.
std::span<const driver_entry> driver_table();

result<sensor_init_data> create_sensor_itf(const setup_parameter& parameter,
                                           linux_helper::sleeper pause = {});

// The same with another table, for tests that bring a board up around a driver double.
result<sensor_init_data> create_sensor_itf(const setup_parameter& parameter,
                                           std::span<const driver_entry> drivers,
                                           linux_helper::sleeper pause = {});

} // namespace korsa_cam::sensor
