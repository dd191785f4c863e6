#include "imx290/imx290_access.h"

#include "common/imx_blacklevel.h"
#include "common/imx_gain.h"
#include "common/saturating_cast.h"
#include "imx290/imx290_config.h"
#include "imx290/imx290_scripts.h"
#include "log.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace korsa_cam::sensor {
namespace {

// Registers written outside the scripts; wider values little-endian from the address on.
namespace reg {
constexpr uint16_t window_mode = 0x3007; // 0x40 window cropping, +2 h-flip, +1 v-flip
constexpr uint16_t black_level = 0x300A; // 16 bit
constexpr uint16_t gain = 0x3014;        // 16 bit, 0.3 dB per step
constexpr uint16_t vmax = 0x3018;        // 24 bit, frame length in lines
constexpr uint16_t shs1 = 0x3020;        // 24 bit, shutter start line
constexpr uint16_t shs2 = 0x3024;        // 24 bit, written with the exposure in lines
constexpr uint16_t window_y = 0x303C;    // 16 bit
constexpr uint16_t window_height = 0x303E;
constexpr uint16_t window_x = 0x3040;
constexpr uint16_t window_width = 0x3042;
constexpr uint16_t output_height = 0x3418;
constexpr uint16_t output_width = 0x3472;
} // namespace reg

constexpr uint8_t window_cropping = 0x40;
// The effective pixel array starts this far into the sensor's addressing; a flipped readout
// starts one pixel (line) further in, so that the flipped image keeps its colour phase.
constexpr int window_margin_x = 12;
constexpr int window_margin_y = 8;

constexpr double max_gain_db = 72.0;
constexpr double gain_db_per_step = 0.3;
constexpr uint16_t black_level_max = 511;
constexpr uint16_t black_level_default = 240;

stream_type_desc format_of(img::fourcc fcc)
{
    return {.type = fcc, .dim_min = {368, 304}, .dim_max = {1920, 1080}, .dim_step = {16, 4}};
}

// A window register value: sizes and positions outside the register's range saturate.
uint16_t window_value(int64_t v) noexcept
{
    return saturating_cast<uint16_t>(v);
}

} // namespace

const std::vector<stream_type_desc>& imx290_sensor::colour_formats()
{
    static const std::vector<stream_type_desc> list{format_of(img::fcc::RGDP)};
    return list;
}

const std::vector<stream_type_desc>& imx290_sensor::mono_formats()
{
    static const std::vector<stream_type_desc> list{format_of(img::fcc::Y1DP)};
    return list;
}

imx290_sensor::imx290_sensor(int bus, bool colour, linux_helper::sleeper pause)
    : sensor_base(bus, with_formats(imx290_config, colour ? colour_formats() : mono_formats()),
                  std::move(pause))
{
    imx_gain_register(*this, registers(), reg::gain, max_gain_db, gain_db_per_step);
    imx_blacklevel_register(*this, registers(), reg::black_level, black_level_max,
                            black_level_default);
}

framerate_data imx290_sensor::get_available_fps_list(img::img_type type)
{
    // 148.5 MHz pixel clock over 2200 clocks per line. In doubles, with the height kept
    // non-negative, so no size can overflow or divide by zero.
    const double lines = std::max(0, type.dim.cy) + double{frame_overhead_lines};
    return {1.0, std::trunc(148500000.0 / (lines * 2200.0))};
}

std::error_code imx290_sensor::configure_init()
{
    KLOG_TRACE("imx290_sensor::configure_init");
    return registers().write_script(imx290_scripts::qel_imx290_mode_1920x1080_60fps, false);
}

std::error_code imx290_sensor::start_stream()
{
    KLOG_TRACE("imx290_sensor::start_stream");
    return registers().write_script(imx290_scripts::qel_imx290_start, false);
}

std::error_code imx290_sensor::stop_stream()
{
    KLOG_TRACE("imx290_sensor::stop_stream");
    return registers().write_script(imx290_scripts::qel_imx290_stop, false);
}

std::error_code imx290_sensor::configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                             bool flip_x, bool flip_y)
{
    KLOG_DEBUG("imx290_sensor::configure_roi {}x{}", type.dim.cx, type.dim.cy);
    auto& regs = registers();
    auto hold = regs.hold();
    const auto mode =
        static_cast<uint8_t>(window_cropping | (flip_x ? 0x02 : 0) | (flip_y ? 0x01 : 0));
    (void)regs.write_u8(reg::window_mode, mode);
    (void)regs.write_u16(reg::window_width, window_value(type.dim.cx));
    (void)regs.write_u16(reg::window_height, window_value(type.dim.cy));
    (void)regs.write_u16(reg::output_width, window_value(type.dim.cx));
    (void)regs.write_u16(reg::output_height, window_value(type.dim.cy));
    (void)configure_roi_position(offset_x, offset_y, flip_x, flip_y);
    return {};
}

std::error_code imx290_sensor::configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                                      bool flip_y)
{
    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u16(reg::window_x,
                         window_value(int64_t{offset_x} + window_margin_x + (flip_x ? 1 : 0)));
    (void)regs.write_u16(reg::window_y,
                         window_value(int64_t{offset_y} + window_margin_y + (flip_y ? 1 : 0)));
    return {};
}

std::error_code imx290_sensor::configure_exposure_fps(const img::img_type& type, double fps,
                                                      double exposure_s)
{
    // Everything in lines of 1/67500 s. saturating_cast keeps a zero, negative, infinite or
    // NaN frame rate or exposure inside the registers' range instead of undefined.
    const uint32_t lines_fps = saturating_cast<uint32_t>(lines_per_second / fps);
    const uint32_t min_vmax = std::min<uint32_t>(
        saturating_cast<uint32_t>(int64_t{type.dim.cy} + frame_overhead_lines), max_frame_lines);
    uint32_t vmax = min_vmax;
    if (lines_fps >= min_vmax)
    {
        vmax = std::min(lines_fps, max_frame_lines);
    }
    // The frame must hold the exposure plus two lines; a longer exposure than the largest
    // frame allows is cut to it.
    const uint32_t exposure_lines =
        std::min(saturating_cast<uint32_t>(exposure_s * lines_per_second), max_frame_lines - 2);
    const uint32_t e = exposure_lines == 0 ? 1 : exposure_lines;
    vmax = std::max(vmax, e + 2);

    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u24(reg::vmax, vmax);
    (void)regs.write_u24(reg::shs1, vmax - e);
    (void)regs.write_u24(reg::shs2, e);
    return {};
}

std::error_code imx290_sensor::sensor_register_write(uint32_t address,
                                                     std::span<const uint8_t> data)
{
    return registers().write(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::error_code imx290_sensor::sensor_register_read(uint32_t address, std::span<uint8_t>& data)
{
    return i2c().read16_block(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::unique_ptr<sensor_impl_itf> create_imx290(int bus, bool colour, linux_helper::sleeper pause)
{
    try
    {
        return std::make_unique<imx290_sensor>(bus, colour, std::move(pause));
    }
    catch (const std::exception& e)
    {
        KLOG_ERROR("create_imx290: {}", e.what());
        return {};
    }
}

} // namespace korsa_cam::sensor
