#pragma once

// The Sony IMX290 driver: 1920x1080, two CSI-2 lanes, 37.125 MHz input clock, 12-bit window
// cropping mode, colour (RGGB) or monochrome.
//
//     auto sensor = create_imx290(10, true);       // empty when the bus cannot be opened
//     auto csi = sensor->setup_format(img::make_img_type(img::fcc::RGDP, {1280, 720}), 30.0);
//     sensor->start_stream();
//
// Nothing here throws past create_imx290. The register work reports success even when a
// write fails (the script player and the log tell); register access and the property
// setters return bus errors.

#include "common/sensor_base.h"
#include "sleeper.h"

#include <memory>

namespace korsa_cam::sensor {

class imx290_sensor final : public sensor_base
{
public:
    // Throws std::system_error when the bus cannot be opened.
    imx290_sensor(int bus, bool colour, linux_helper::sleeper pause = {});

    // 1 fps and the fastest rate the height allows.
    framerate_data get_available_fps_list(img::img_type type) override;
    std::error_code start_stream() override;
    std::error_code stop_stream() override;
    std::error_code sensor_register_write(uint32_t address, std::span<const uint8_t> data) override;
    std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override;

    static const std::vector<stream_type_desc>& colour_formats();
    static const std::vector<stream_type_desc>& mono_formats();

    // One line lasts 1/67500 s; a frame is at least height + 19 lines, at most 0x3FFFF.
    static constexpr double lines_per_second = 67500.0;
    static constexpr uint32_t frame_overhead_lines = 19;
    static constexpr uint32_t max_frame_lines = 0x3FFFF;

protected:
    std::error_code configure_init() override;
    std::error_code configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                  bool flip_x, bool flip_y) override;
    std::error_code configure_exposure_fps(const img::img_type& type, double fps,
                                           double exposure_s) override;
    std::error_code configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                           bool flip_y) override;
};

// Empty when construction fails (bus missing, address refused); never throws.
std::unique_ptr<sensor_impl_itf> create_imx290(int bus, bool colour,
                                               linux_helper::sleeper pause = {});

} // namespace korsa_cam::sensor
