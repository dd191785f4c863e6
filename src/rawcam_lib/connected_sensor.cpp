#include "connected_sensor.h"

#include "log.h"
#include "property_ranges.h"
#include "rawcam_error.h"
#include "sensor_board_gpio.h"
#include "standard_properties.h"

#include <algorithm>
#include <stdexcept>

namespace korsa_cam {
namespace {

namespace sp = standard_properties;

sensor::sensor_impl_itf& require(const std::unique_ptr<sensor::sensor_impl_itf>& driver)
{
    if (!driver)
    {
        throw std::invalid_argument("connection wrapper needs a driver");
    }
    return *driver;
}

bool has_trigger_mode(sensor::sensor_impl_itf& driver)
{
    const auto list = driver.get_property_list();
    return std::any_of(list.begin(), list.end(),
                       [](const property_desc& d) { return d.name == sp::trigger_mode().name; });
}

} // namespace

sensor_config forwarding_sensor::get_connection_config()
{
    return driver_.get_connection_config();
}

std::vector<stream_type_desc> forwarding_sensor::get_available_format_list()
{
    return driver_.get_available_format_list();
}

framerate_data forwarding_sensor::get_available_fps_list(img::img_type type)
{
    return driver_.get_available_fps_list(type);
}

result<mmal::pi::csi_settings> forwarding_sensor::setup_format(img::img_type type, double fps)
{
    return driver_.setup_format(type, fps);
}

std::error_code forwarding_sensor::start_stream()
{
    return driver_.start_stream();
}

std::error_code forwarding_sensor::stop_stream()
{
    return driver_.stop_stream();
}

std::error_code forwarding_sensor::sensor_register_write(uint32_t address,
                                                         std::span<const uint8_t> data)
{
    return driver_.sensor_register_write(address, data);
}

std::error_code forwarding_sensor::sensor_register_read(uint32_t address, std::span<uint8_t>& data)
{
    return driver_.sensor_register_read(address, data);
}

bool forwarding_sensor::test_reachable()
{
    return driver_.test_reachable();
}

direct_connected_sensor::direct_connected_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                                                 std::shared_ptr<sensor_board_gpio> gpio)
    : forwarding_sensor(require(driver)), chained_property_handler(*driver),
      driver_(std::move(driver)), gpio_(std::move(gpio))
{
    if (!has_trigger_mode(*driver_))
    {
        return;
    }
    if (gpio_)
    {
        gpio_->set_trigger_source(true);
    }
    add_menu(
        sp::trigger_source_direct(), make_menu_range(sp::trigger_source_direct(), 0),
        [](int32_t value) -> std::error_code {
            if (value != 0)
            {
                KLOG_WARN("Invalid value={} specified while writing to the 'TriggerSource' "
                          "property",
                          value);
                return make_error_code(status::invalid_property_value);
            }
            return {};
        },
        []() -> result<int32_t> { return 0; });
}

fpd_connected_sensor::fpd_connected_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                                           std::shared_ptr<sensor_board_gpio> gpio)
    : forwarding_sensor(require(driver)), chained_property_handler(*driver),
      driver_(std::move(driver)), gpio_(std::move(gpio))
{
    if (!has_trigger_mode(*driver_) || !gpio_)
    {
        return;
    }
    // The expander throws on a bus failure; a property call answers with the error instead.
    sensor_board_gpio* gpio_chip = gpio_.get();
    add_menu(
        sp::trigger_source_fpd_link(), make_menu_range(sp::trigger_source_fpd_link(), 0),
        [gpio_chip](int32_t value) -> std::error_code {
            try
            {
                gpio_chip->set_trigger_source(value == 1);
            }
            catch (const std::system_error& e)
            {
                return e.code();
            }
            return {};
        },
        [gpio_chip]() -> result<int32_t> {
            try
            {
                return gpio_chip->get_trigger_source();
            }
            catch (const std::system_error& e)
            {
                return e.code();
            }
        });
}

result<mmal::pi::csi_settings> fpd_connected_sensor::setup_format(img::img_type type, double fps)
{
    auto settings = forwarding_sensor::setup_format(type, fps);
    if (settings)
    {
        settings.value().data_lanes = 2;
        settings.value().term_override = false;
    }
    return settings;
}

} // namespace korsa_cam
