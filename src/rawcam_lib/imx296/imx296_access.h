#pragma once

// The driver of the Sony IMX296 (1440x1080) and IMX297 (720x540): global-shutter sensors with
// one CSI-2 lane, 10-bit output and a 37.125 MHz input clock, colour (RGGB) or monochrome.
// The two differ only in their record, formats, initialisation script and line length; the
// driver tells them apart by the record's model_number. Beside "Gain" and "BlackLevel" they
// offer "TriggerMode" (the sensor's external trigger input). No flips.
//
//     auto sensor = create_imx297(10, true);       // empty when the bus cannot be opened
//     auto csi = sensor->setup_format(img::make_img_type(img::fcc::RGAP, {640, 480}), 60.0);
//     sensor->set_property("TriggerMode", korsa_cam::prop_values::from_int(1));
//     sensor->start_stream();
//
// Nothing here throws past the creation functions. The register work reports success even
// when a write fails (the script player and the log tell); register access and the property
// setters ("TriggerMode", "Gain", "BlackLevel") return bus errors.

#include "common/sensor_base.h"
#include "sleeper.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace korsa_cam::sensor {

class imx296_sensor final : public sensor_base
{
public:
    enum class model
    {
        imx296 = 296,
        imx297 = 297,
    };

    // Throws std::system_error when the bus cannot be opened.
    imx296_sensor(int bus, model m, bool colour, linux_helper::sleeper pause = {});

    // 1 fps and the fastest rate the height allows.
    framerate_data get_available_fps_list(img::img_type type) override;
    std::error_code start_stream() override;
    std::error_code stop_stream() override;
    std::error_code sensor_register_write(uint32_t address, std::span<const uint8_t> data) override;
    std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override;

    static const std::vector<stream_type_desc>& colour_formats(model m);
    static const std::vector<stream_type_desc>& mono_formats(model m);

    // Frame timing: lines of line_length pixel clocks; a frame is at least height + 30 lines,
    // at most 0xFFFFF. The exposure starts exposure_offset_s after the shutter line.
    static constexpr double pixel_clock_hz = 74250000.0;
    static constexpr double exposure_offset_s = 0.00001426;
    static constexpr uint32_t frame_overhead_lines = 30;
    static constexpr uint32_t max_frame_lines = 0xFFFFF;
    // Line length in pixel clocks of the model.
    static constexpr double line_length(model m) noexcept
    {
        return m == model::imx297 ? 1070.0 : 1100.0;
    }

protected:
    std::error_code configure_init() override;
    std::error_code configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                  bool flip_x, bool flip_y) override;
    std::error_code configure_exposure_fps(const img::img_type& type, double fps,
                                           double exposure_s) override;
    std::error_code configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                           bool flip_y) override;

private:
    std::error_code set_trigger_mode(int32_t value);
    model model_of_config() const noexcept;

    bool trigger_mode_ = false;
};

// Empty when construction fails (bus missing, address refused); never throws.
std::unique_ptr<sensor_impl_itf> create_imx296(int bus, bool colour,
                                               linux_helper::sleeper pause = {});
std::unique_ptr<sensor_impl_itf> create_imx297(int bus, bool colour,
                                               linux_helper::sleeper pause = {});

} // namespace korsa_cam::sensor
