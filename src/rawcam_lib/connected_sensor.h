#pragma once

// The sensors the connections hand out: a driver wrapped by its connection. Private to the
// connection layer (the connections build them; tests build them around doubles). Every
// sensor operation goes to the wrapped driver; property calls see the wrapper's own
// "TriggerSource" first and fall through to the driver for every other name.
//
// Both own the driver and share the board's expander. The trigger-source property reaches the
// expander over I2C; a bus failure there comes back from the property call as its error code,
// never as an exception. Construction throws std::invalid_argument for a null driver; the
// direct wrapper around a driver with "TriggerMode" selects the PicoBlade input at
// construction and throws std::system_error when that bus access fails.

#include "chained_property_handler.h"
#include "sensor_impl_itf.h"

#include <memory>

namespace korsa_cam {

class sensor_board_gpio;

// Everything but the properties goes straight to the wrapped driver.
class forwarding_sensor : public virtual sensor::sensor_impl_itf
{
public:
    sensor_config get_connection_config() override;
    std::vector<stream_type_desc> get_available_format_list() override;
    framerate_data get_available_fps_list(img::img_type type) override;
    result<mmal::pi::csi_settings> setup_format(img::img_type type, double fps) override;
    std::error_code start_stream() override;
    std::error_code stop_stream() override;
    std::error_code sensor_register_write(uint32_t address, std::span<const uint8_t> data) override;
    std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override;
    bool test_reachable() override;

protected:
    explicit forwarding_sensor(sensor::sensor_impl_itf& driver) noexcept : driver_(driver) {}

private:
    sensor::sensor_impl_itf& driver_;
};

// A driver on the ribbon cable. With "TriggerMode" the trigger comes from the PicoBlade
// connector, the only source there is, and "TriggerSource" offers just that entry.
class direct_connected_sensor final : public forwarding_sensor, private chained_property_handler
{
public:
    direct_connected_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                            std::shared_ptr<sensor_board_gpio> gpio);

private:
    // Declared in this order so that destruction lets go of the expander first, then the
    // driver, then (in the base) the own properties.
    std::unique_ptr<sensor::sensor_impl_itf> driver_;
    std::shared_ptr<sensor_board_gpio> gpio_;
};

// A driver behind FPD-Link: the receiver always gets two lanes without the termination
// override, and with "TriggerMode" "TriggerSource" switches between the back channel
// (0, "FPD-Link") and the PicoBlade connector (1).
class fpd_connected_sensor final : public forwarding_sensor, private chained_property_handler
{
public:
    fpd_connected_sensor(std::unique_ptr<sensor::sensor_impl_itf> driver,
                         std::shared_ptr<sensor_board_gpio> gpio);

    result<mmal::pi::csi_settings> setup_format(img::img_type type, double fps) override;

private:
    std::unique_ptr<sensor::sensor_impl_itf> driver_;
    std::shared_ptr<sensor_board_gpio> gpio_;
};

} // namespace korsa_cam
