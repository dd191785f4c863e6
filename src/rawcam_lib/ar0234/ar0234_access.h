#pragma once

// The onsemi AR0234 driver: global-shutter colour sensor, 1920x1200, 10-bit GRBG output, 27 MHz
// input clock. Its lane count and PLL follow the link it sits on: up to four lanes, and a
// pixel clock of 1.8 MHz per PLL step, as many steps as the lane bit rate allows (at most
// 900 Mbit/s per lane is used).
//
//     auto sensor = create_ar0234(10, true, *connection);  // empty when the bus cannot be opened
//     sensor->set_property("TriggerMode", prop_values::from_int(1)); // applied at start_stream
//     auto csi = sensor->setup_format(img::make_img_type(img::fcc::GRAP, {1920, 1200}), 30.0);
//     sensor->start_stream();
//
// Its own properties, after the common ones: "TriggerMode" (menu "Off", "On": frames on the
// trigger input instead of free-running; takes effect at once while streaming, else at the
// next start), "Gain" (0 to 19.2 dB in the sensor's analog steps) and "StrobeMode" (menu
// "Off", "On": the flash output). No flips.
//
// Exposures longer than the frame-length register allows stretch the line instead.
//
// The initialisation script still carries a placeholder sequencer program
// (ar0234_sequencer.h): the driver streams, but the image is not right on real hardware until
// the sensor maker's sequencer words are in; initialisation logs a warning while they are
// missing.
//
// Nothing here throws past create_ar0234. Initialisation fails on a failed chip-version read,
// a failed script write, an unsupported lane count and a failed lane or PLL write; window and
// timing return their script's error; the property setters return bus errors.

#include "common/sensor_base.h"
#include "sleeper.h"

#include <memory>

namespace korsa_cam {
class connection_constraints;
}

namespace korsa_cam::sensor {

class ar0234_sensor final : public sensor_base
{
public:
    // lanes: CSI-2 data lanes to drive (1, 2 or 4 work); lane_bandwidth: bits per second per
    // lane the link carries. Throws std::system_error when the bus cannot be opened.
    ar0234_sensor(int bus, int lanes, int lane_bandwidth, linux_helper::sleeper pause = {});

    // From 1 fps (more when the link is fast) to the fastest rate the height allows.
    framerate_data get_available_fps_list(img::img_type type) override;
    std::error_code start_stream() override;
    std::error_code stop_stream() override;
    std::error_code sensor_register_write(uint32_t address, std::span<const uint8_t> data) override;
    std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override;

    static constexpr uint16_t expected_chip_version = 0x0A56;

    // The PLL for a lane bit rate: multiplier M and the pixel clock 1.8 MHz x M.
    struct pll
    {
        int multiplier;
        int pixel_clock; // Hz
    };
    static pll choose_pll(int lane_bandwidth) noexcept;
    int pll_multiplier() const noexcept { return pll_.multiplier; }
    int pixel_clock() const noexcept { return pll_.pixel_clock; }

    // Frame length and line length (pixel clocks) and integration time in lines.
    struct timing
    {
        uint16_t frame_length_lines;
        uint16_t line_length_pck;
        uint16_t integration_lines;
    };
    static timing exposure_timing(int pixel_clock, int height, double fps,
                                  double exposure_s) noexcept;

    // The analog gain code for a gain in dB (13 to 64), and back.
    static uint16_t gain_code(double db) noexcept;
    static double gain_db(int code) noexcept;

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
    std::error_code write_window(int offset_x, int offset_y, int width, int height);
    uint16_t stream_control() const noexcept;

    pll pll_;
    bool streaming_ = false;
    bool trigger_mode_ = false;
    uint16_t gain_code_ = 13;
    int strobe_ = 0;
};

// Drives as many lanes as the link carries, at most four, at the link's bit rate for that
// many lanes. colour is accepted for the common creation signature: every AR0234 board is a
// colour board. The constraints are only read during the call. Empty when construction fails
// (bus missing, address refused); never throws.
std::unique_ptr<sensor_impl_itf> create_ar0234(int bus, bool colour,
                                               const connection_constraints& constraints,
                                               linux_helper::sleeper pause = {});

} // namespace korsa_cam::sensor
