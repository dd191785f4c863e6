#include "sensor_connection.h"

#include "Si5356A.h"
#include "connected_sensor.h"
#include "fpd_link.h"
#include "log.h"
#include "pi_setup.h"
#include "rawcam_error.h"
#include "sensor_board_gpio.h"

#include <cerrno>
#include <chrono>

namespace korsa_cam {
namespace {

using namespace std::chrono_literals;

constexpr auto clock_settle_pause = 100ms;

// The ribbon-cable board: the clock generator feeds the sensor, two lanes at most.
class direct_connection final : public sensor_connection
{
public:
    direct_connection(int bus, linux_helper::sleeper pause)
        : sensor_connection(bus, std::move(pause))
    {}

    int max_lanes() const override { return 2; }
    int max_lane_bandwidth(int) const override { return 1600000000; }

    std::error_code configure_sensor_environment(const sensor_config& config) override
    {
        std::error_code ec;
        switch (config.sensor_clock)
        {
        case 0:
            KLOG_DEBUG("Configuring Si5356A for 24 MHz");
            ec = Si5356A::configure_clock_24MHz(bus());
            break;
        case 1:
            KLOG_DEBUG("Configuring Si5356A for 27 MHz");
            ec = Si5356A::configure_clock_27MHz(bus());
            break;
        case 2:
            KLOG_DEBUG("Configuring Si5356A for 37.125 MHz");
            ec = Si5356A::configure_clock_37_125MHz(bus());
            break;
        default:
            KLOG_WARN("sensor_clock value not supported: {}", config.sensor_clock);
            return std::make_error_code(std::errc::operation_not_supported);
        }
        if (!ec)
        {
            pause()(clock_settle_pause);
        }
        return ec;
    }

    std::unique_ptr<sensor::sensor_impl_itf>
    wrap_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                std::shared_ptr<sensor_board_gpio> gpio) override
    {
        return std::make_unique<direct_connected_sensor>(std::move(driver), std::move(gpio));
    }
};

// One bus, no routing.
result<std::shared_ptr<sensor_connection>> detect_on_bus(int bus,
                                                         const linux_helper::sleeper& pause)
{
    if (detect_fpd_link(bus))
    {
        KLOG_INFO("Detected FPD-Link connection");
        return connect_fpd_link(bus, pause);
    }
    if (Si5356A::probe(bus))
    {
        KLOG_INFO("Detected direct connection");
        return std::shared_ptr<sensor_connection>(std::make_shared<direct_connection>(bus, pause));
    }
    return make_error_code(status::no_device_on_i2c_bus);
}

} // namespace

result<std::shared_ptr<sensor_connection>>
sensor_connection::detect_and_connect(int bus, linux_helper::sleeper pause)
{
    if (bus != 0 || !pi_setup::need_init_i2c0_bus())
    {
        return detect_on_bus(bus, pause);
    }
    auto first = detect_on_bus(0, pause);
    if (first || first.error() != make_error_code(status::no_device_on_i2c_bus))
    {
        return first;
    }
    // Older kernels leave the camera I2C controller off its pins: route it and look again.
    if (!pi_setup::init_i2c0_bus())
    {
        return make_error_code(status::i2c_access_failed);
    }
    return detect_on_bus(0, pause);
}

result<std::unique_ptr<sensor::sensor_impl_itf>>
sensor_connection::enable_and_wrap_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver)
{
    if (!driver)
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    const sensor_config config = driver->get_connection_config();
    if (auto ec = configure_sensor_environment(config))
    {
        KLOG_ERROR("configure_sensor_environment failed with error {}", ec.message());
        return ec;
    }
    // The expander sits behind the clock: give the board time to come up on it.
    pause_(clock_settle_pause);
    auto gpio = sensor_board_gpio::detect(bus_, pause_);
    if (!gpio)
    {
        return gpio.error();
    }
    if (auto ec = gpio.value()->setup_sensor_board_io())
    {
        return ec;
    }
    return wrap_sensor(std::move(driver), std::move(gpio).value());
}

} // namespace korsa_cam
