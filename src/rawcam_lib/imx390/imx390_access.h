#pragma once

// The Sony IMX390 driver: automotive HDR colour sensor, 1920x1080, four CSI-2 lanes, 27 MHz
// input clock, 12-bit linear ("RGDP") or piecewise-linear compressed HDR ("PWL1") output.
//
//     auto sensor = create_imx390(10);          // empty when the bus cannot be opened
//     sensor->set_property("SensorOutputSelect", prop_values::from_int(0));   // HDR
//     auto csi = sensor->setup_format(img::make_img_type(img::fcc::PWL1, {1920, 1080}), 30.0);
//     sensor->start_stream();
//
// Its own properties, after the common ones (category "Exposure", group "IMX390"):
//   "SensorOutputSelect"  menu "HDR", "SP1_HCG", "SP1_LCG", "SP2": combined output or one
//                         sub-pixel channel;
//   "ExposureRatio"       0.1 .. 1.0: the second exposure (SP2) relative to the first;
//   "Gain"                0 .. 27 dB: analog gain of the high-conversion-gain channel;
//   "GainOffset"          -27 .. 0 dB: the low-conversion-gain channel relative to "Gain".
// There is no "BlackLevel" on this sensor.
//
// Exposures longer than a frame are made by frame multiplication: the frame length follows
// the frame rate alone and the sensor integrates over as many extra frames as needed.
//
// The initialisation script still carries placeholder tuning data (imx390_mode_settings.h):
// the driver streams, but the image is not right on real hardware until the sensor maker's
// register settings are in; initialisation logs a warning while they are missing.
//
// Nothing here throws past create_imx390. The register work reports success even when a
// write fails (the script player and the log tell); raw register access and the property
// setters that write a register themselves return bus errors.

#include "common/sensor_base.h"
#include "sleeper.h"

#include <memory>

namespace korsa_cam::sensor {

class imx390_sensor final : public sensor_base
{
public:
    // Throws std::system_error when the bus cannot be opened.
    explicit imx390_sensor(int bus, linux_helper::sleeper pause = {});

    // 5 to 60 fps for every format.
    framerate_data get_available_fps_list(img::img_type type) override;
    std::error_code start_stream() override;
    std::error_code stop_stream() override;
    std::error_code sensor_register_write(uint32_t address, std::span<const uint8_t> data) override;
    std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override;

    // One line lasts 1/67500 s with a line length of 2200 clocks; a frame is 1125 to
    // 0xFFFFF lines.
    static constexpr double lines_per_second = 67500.0;
    static constexpr uint16_t line_length = 2200;
    static constexpr uint32_t min_frame_lines = 1125;
    static constexpr uint32_t max_frame_lines = 0xFFFFF;

    // The register values of one exposure set-up.
    struct timing
    {
        uint32_t vmax; // frame length in lines
        uint32_t fmax; // whole extra frames the first exposure spans
        uint32_t shs1; // shutter of the first exposure
        uint32_t shs2; // shutter of the second exposure
    };
    static timing exposure_timing(double fps, double exposure_s, double ratio) noexcept;

    // The analog gain codes of both channels.
    struct gain_codes
    {
        uint16_t sp1h;
        uint16_t sp1l;
    };
    static gain_codes gain_registers(double gain_db, double offset_db) noexcept;

protected:
    std::error_code configure_init() override;
    std::error_code configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                  bool flip_x, bool flip_y) override;
    std::error_code configure_exposure_fps(const img::img_type& type, double fps,
                                           double exposure_s) override;
    std::error_code configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                           bool flip_y) override;

private:
    void register_own_properties();
    std::error_code set_output_select(int32_t index);
    std::error_code apply_gains();

    int32_t output_select_ = 0;
    double exposure_ratio_ = 1.0;
    double gain_db_ = 27.0;
    double gain_offset_db_ = -27.0;
};

// Empty when construction fails (bus missing, address refused); never throws.
std::unique_ptr<sensor_impl_itf> create_imx390(int bus, linux_helper::sleeper pause = {});

} // namespace korsa_cam::sensor
