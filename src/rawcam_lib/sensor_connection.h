#pragma once

// How the camera board reaches the Pi: straight over the ribbon cable, or through an
// FPD-Link serializer/deserializer pair. Detection finds out which, on which bus, and what
// the link carries; once a driver exists, the connection starts the sensor's clock and board
// I/O and wraps the driver in a sensor that adds "TriggerSource" and adapts the receiver
// settings to the link.
//
//   auto conn = sensor_connection::detect_and_connect(bus, pause);
//   auto driver = create_ar0234(bus, colour, *conn.value(), pause);   // reads the limits
//   auto sensor = conn.value()->enable_and_wrap_sensor(std::move(driver));
//
// What throws: detect_and_connect() throws std::system_error when the bus cannot be opened
// (the i2c_com constructor does). enable_and_wrap_sensor() lets through the std::system_error
// of a bus failure while the FPD-Link connection programs the serializer's clock or reads its
// lane register, of the expander while the direct wrapper selects the PicoBlade trigger, and
// of opening the bus for the expander. Sensor detection turns all of them into error codes.

#include "result.h"
#include "sensor_impl_itf.h"
#include "sleeper.h"

#include <memory>
#include <system_error>

namespace korsa_cam {

class sensor_board_gpio;

// What a sensor driver may ask of the link it sits behind.
class connection_constraints
{
public:
    virtual ~connection_constraints() = default;
    // The most CSI-2 data lanes the link carries.
    virtual int max_lanes() const = 0;
    // Bits per second per lane when that many lanes are used.
    virtual int max_lane_bandwidth(int lanes) const = 0;
};

class sensor_connection : public connection_constraints
{
public:
    sensor_connection(const sensor_connection&) = delete;
    sensor_connection& operator=(const sensor_connection&) = delete;

    // Starts the clock the sensor asks for (and, behind FPD-Link, sets the lane count).
    virtual std::error_code configure_sensor_environment(const sensor_config& config) = 0;
    // The connection's own wrapper around driver, sharing the board's expander.
    virtual std::unique_ptr<sensor::sensor_impl_itf>
    wrap_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                std::shared_ptr<sensor_board_gpio> gpio) = 0;

    // Clock, 100 ms to settle, expander detection and board I/O, then the wrapper. On any
    // failure the driver is destroyed and the error returned; a null driver is EINVAL.
    result<std::unique_ptr<sensor::sensor_impl_itf>>
    enable_and_wrap_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver);

    // The deserializer (0x30) makes it FPD-Link, else the clock generator (0x70) makes it
    // direct, else no_device_on_i2c_bus. On bus 0 of a Pi whose kernel leaves the camera bus
    // unrouted, finding nothing routes it and looks once more; a failed routing gives
    // i2c_access_failed. pause is kept by the connection for all its waits.
    static result<std::shared_ptr<sensor_connection>>
    detect_and_connect(int bus, linux_helper::sleeper pause = {});

    int bus() const noexcept { return bus_; }

protected:
    sensor_connection(int bus, linux_helper::sleeper pause) : bus_(bus), pause_(std::move(pause)) {}

    const linux_helper::sleeper& pause() const noexcept { return pause_; }

private:
    int bus_;
    linux_helper::sleeper pause_;
};

} // namespace korsa_cam
