#pragma once

// The Sony IMX335 driver: 2592x1944, two CSI-2 lanes, 10-bit output, 24 MHz input clock,
// window cropping mode, colour (RGGB) or monochrome.
//
//     auto sensor = create_imx335(10, true);       // empty when the bus cannot be opened
//     auto csi = sensor->setup_format(img::make_img_type(img::fcc::RGAP, {1920, 1080}), 30.0);
//     sensor->start_stream();
//
// The board mounts the sensor upside down, so an upright picture has both hardware flip bits
// set (the record's flip_inverted): "ReverseX" / "ReverseY" false reach this driver as flips
// on. The vertical window is programmed in the sensor's own line addressing, which runs the
// other way when the readout is flipped, and the blank-line and black-offset registers
// follow where the window starts.
//
// Nothing here throws past create_imx335. The register work reports success even when a
// write fails (the script player and the log tell); register access and the property
// setters return bus errors.

#include "common/sensor_base.h"
#include "sleeper.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace korsa_cam::sensor {

class imx335_sensor final : public sensor_base
{
public:
    // Throws std::system_error when the bus cannot be opened.
    imx335_sensor(int bus, bool colour, linux_helper::sleeper pause = {});

    // 1 fps and the fastest rate the height allows.
    framerate_data get_available_fps_list(img::img_type type) override;
    std::error_code start_stream() override;
    std::error_code stop_stream() override;
    std::error_code sensor_register_write(uint32_t address, std::span<const uint8_t> data) override;
    std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override;

    static const std::vector<stream_type_desc>& colour_formats();
    static const std::vector<stream_type_desc>& mono_formats();

    // Frame timing: 135000 lines a second at a line length (HMAX) of 550; a frame is at least
    // 2 x (height + 48) lines, at most 0xFFFFF. The exposure starts exposure_offset_s after
    // the shutter line.
    static constexpr double lines_per_second = 135000.0;
    static constexpr uint16_t line_length = 550;
    static constexpr double exposure_offset_s = 0.000001468;
    static constexpr uint32_t frame_overhead_lines = 48;
    static constexpr uint32_t max_frame_lines = 0xFFFFF;

protected:
    std::error_code configure_init() override;
    std::error_code configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                  bool flip_x, bool flip_y) override;
    std::error_code configure_exposure_fps(const img::img_type& type, double fps,
                                           double exposure_s) override;
    std::error_code configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                           bool flip_y) override;

private:
    // The window of a width x height image at the offsets, with the flips as the sensor gets
    // them.
    void write_window(int width, int height, int offset_x, int offset_y, bool flip_x, bool flip_y);

    int largest_height_ = 0; // of all formats: the vertical window counts from it
};

// Empty when construction fails (bus missing, address refused); never throws.
std::unique_ptr<sensor_impl_itf> create_imx335(int bus, bool colour,
                                               linux_helper::sleeper pause = {});

} // namespace korsa_cam::sensor
