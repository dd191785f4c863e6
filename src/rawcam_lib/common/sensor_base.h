#pragma once

// The common part of every sensor driver: it owns the sensor's I2C connection and register
// accessor, keeps the current format, frame rate, exposure, region-of-interest offsets and
// flips, offers the common camera properties, and turns a requested format into the CSI-2
// receiver settings. A driver describes its model with one sensor_base_config and does the
// register work in five operations:
//
//     class my_sensor final : public sensor_base
//     {
//     public:
//         my_sensor(int bus, linux_helper::sleeper pause)
//             : sensor_base(bus, with_formats(my_config, my_formats), std::move(pause))
//         {
//             imx_gain_register(*this, registers(), 0x3014, 72.0, 0.3); // after the common ones
//         }
//         framerate_data get_available_fps_list(img::img_type type) override;
//         std::error_code start_stream() override;       // and stop_stream, register access
//     protected:
//         std::error_code configure_init() override;     // power-up to standby, once
//         std::error_code configure_roi(const img::img_type&, int x, int y, bool fx,
//                                       bool fy) override;
//         std::error_code configure_exposure_fps(const img::img_type&, double fps,
//                                                double exposure_s) override;
//         std::error_code configure_roi_position(int x, int y, bool fx, bool fy) override;
//     };
//
// Throws: only the constructor, with std::system_error from i2c_com when the bus cannot be
// opened or the address not bound (the creation functions turn that into an empty pointer).
// Everything else reports through error codes. Construction does no register access; the
// sensor is first touched by the first setup_format, which runs configure_init (retried by
// the next setup_format when it fails, never repeated once it succeeded).
//
// Properties registered here, in this order: "ExposureTime"; "OffsetX", "OffsetY",
// "OffsetAutoCenter" when some format has a size range; "ReverseX" / "ReverseY" when the
// model flips; the debug properties "SensorRegisterAddress", "SensorRegisterValue",
// "SensorRegisterRead", "SensorRegisterWrite". Offsets are stored as set (reduced to their
// step) and clamped from above only when handed to the driver; while "OffsetAutoCenter" is on
// the offsets follow the centre and setting them is refused with EPERM. Stored values (offsets,
// flips, exposure) keep the new value when the driver call fails, and the failure is returned.
//
// No lock: the camera object serialises every call for one sensor.

#include "common/imx_registers.h"
#include "common/sensor_base_config.h"
#include "i2c_com.h"
#include "property_handler.h"
#include "sensor_impl_itf.h"
#include "sleeper.h"

#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

namespace korsa_cam::sensor {

class sensor_base : public virtual sensor_impl_itf, protected property_handler
{
public:
    // Throws std::system_error when the bus cannot be opened (see above).
    sensor_base(int bus, sensor_base_config config, linux_helper::sleeper pause = {});
    ~sensor_base() override = default;

    sensor_config get_connection_config() override { return config_.connection; }
    std::vector<stream_type_desc> get_available_format_list() override { return config_.formats; }
    result<mmal::pi::csi_settings> setup_format(img::img_type type, double fps) override;
    // A single-byte read of register 0x0000 succeeds, whatever the value.
    bool test_reachable() override;

    // The property operations of the registry, public like the rest of the interface (the
    // registry itself is a protected base: only drivers register).
    using property_handler::get_property;
    using property_handler::get_property_list;
    using property_handler::get_property_range;
    using property_handler::set_property;

protected:
    virtual std::error_code configure_init() = 0;
    virtual std::error_code configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                          bool flip_x, bool flip_y) = 0;
    virtual std::error_code configure_exposure_fps(const img::img_type& type, double fps,
                                                   double exposure_s) = 0;
    virtual std::error_code configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                                   bool flip_y) = 0;
    // configure_exposure_fps with the current type, frame rate and exposure; for driver
    // properties that change the exposure timing.
    std::error_code apply_exposure();

    linux_helper::i2c_com& i2c() noexcept { return i2c_; }
    imx_registers& registers() noexcept { return regs_; }
    const sensor_base_config& config() const noexcept { return config_; }
    const img::img_type& current_type() const noexcept { return type_; }
    double current_fps() const noexcept { return fps_; }
    double current_exposure() const noexcept { return *exposure_; }

    // The receiver settings of a format code; unknown codes log and fall back to RGGB RAW12.
    static mmal::bayer_order bayer_encoding(img::fourcc fcc);
    static uint32_t image_id(img::fourcc fcc);
    static uint32_t bit_depth(img::fourcc fcc);

private:
    void register_common_properties();
    std::error_code set_offset(int value, bool is_x);
    std::error_code set_auto_center(bool on);
    std::error_code set_flip(bool on, bool is_x);
    // Stored offsets limited from above so the window stays on the sensor; no lower limit.
    int clamped_offset_x() const noexcept;
    int clamped_offset_y() const noexcept;
    int centred_offset_x() const noexcept;
    int centred_offset_y() const noexcept;

    linux_helper::i2c_com i2c_;
    imx_registers regs_; // refers to i2c_
    sensor_base_config config_;
    img::img_type type_{};
    int largest_width_ = 0;
    int largest_height_ = 0;
    bool initialised_ = false;
    double fps_ = 60.0;
    std::shared_ptr<double> exposure_; // seconds, shared with "ExposureTime"
    int offset_x_ = 0;
    int offset_y_ = 0;
    bool auto_center_ = true;
    bool flip_x_;
    bool flip_y_;
    int64_t debug_address_ = 0;
    int64_t debug_value_ = 0;
};

// A copy of a model's record with its format list put in.
sensor_base_config with_formats(const sensor_base_config& config,
                                std::vector<stream_type_desc> formats);

} // namespace korsa_cam::sensor
