#include "imx335/imx335_access.h"

#include "common/imx_blacklevel.h"
#include "common/imx_gain.h"
#include "common/saturating_cast.h"
#include "imx335/imx335_config.h"
#include "imx335/imx335_scripts.h"
#include "log.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace korsa_cam::sensor {
namespace {

// Registers written outside the scripts; wider values little-endian from the address on.
namespace reg {
constexpr uint16_t window_mode = 0x3018;       // written 4: window cropping
constexpr uint16_t h_trim_start = 0x302C;      // 16 bit
constexpr uint16_t h_size = 0x302E;            // 16 bit
constexpr uint16_t vmax = 0x3030;              // 24 bit, frame length in lines
constexpr uint16_t hmax = 0x3034;              // 16 bit, line length
constexpr uint16_t h_flip = 0x304E;            // 0 or 1
constexpr uint16_t v_flip = 0x304F;            // 0 or 1
constexpr uint16_t output_height = 0x3056;     // 16 bit
constexpr uint16_t shr0 = 0x3058;              // 24 bit, shutter
constexpr uint16_t v_window_start = 0x3074;    // 16 bit, in the sensor's line addressing
constexpr uint16_t v_window_size = 0x3076;     // 16 bit, 2 x height
constexpr uint16_t black_offset = 0x30C6;      // 16 bit
constexpr uint16_t unread_line_limit = 0x30CE; // 16 bit
constexpr uint16_t unread_end = 0x30D8;        // 16 bit
constexpr uint16_t gain = 0x30E8;              // 16 bit, 0.3 dB per step
constexpr uint16_t black_level = 0x3302;       // 16 bit
} // namespace reg

constexpr uint8_t window_cropping = 4;

// Horizontally the window moves in steps of 12 pixels from the first effective column, 60,
// and is read in whole units of 24 pixels.
constexpr int64_t h_offset_step = 12;
constexpr int64_t h_first_column = 60;
constexpr int64_t h_size_unit = 24;

// Vertical addresses count two per line (the window size is 2 x height); the start moves in
// line pairs of 4 addresses. Unflipped, the readout begins 50 pairs into the array; flipped,
// it counts down from pair 1022, so there the start depends on the room below the window.
constexpr int64_t v_unit = 4;
constexpr int64_t v_first_unflipped = 50;
constexpr int64_t v_last_flipped = 1022;
// Reading ends this far past the window, at most at the array's last address.
constexpr int64_t v_read_margin = 208;
constexpr int64_t v_last_address = 4172;
// A window that starts away from the array's edge (unflipped: above address 275; flipped: at
// or below 4012) has the black offset and unread line limit set; one at the edge has both 0.
constexpr int64_t v_flipped_edge = 4012;
constexpr int64_t v_unflipped_edge = 275;
constexpr uint16_t inner_black_offset = 18;
constexpr uint16_t inner_unread_limit = 100;

// The frame must hold the exposure and this many lines beside it.
constexpr uint32_t exposure_margin_lines = 9;

constexpr double max_gain_db = 72.0;
constexpr double gain_db_per_step = 0.3;
constexpr uint16_t black_level_max = 1023;
constexpr uint16_t black_level_default = 50;

stream_type_desc format_of(img::fourcc fcc)
{
    return {.type = fcc, .dim_min = {320, 372}, .dim_max = {2592, 1944}, .dim_step = {16, 4}};
}

// A window register value: sizes and positions outside the register's range saturate.
uint16_t window_value(int64_t v) noexcept
{
    return saturating_cast<uint16_t>(v);
}

// The registers whose settings depend on the direction of the vertical readout, in the
// order they are written.
struct flip_setting
{
    uint16_t address;
    uint8_t flipped;
    uint8_t unflipped;
};
constexpr flip_setting flip_settings[] = {
    {reg::v_flip, 1, 0},  {0x3081, 0xFE, 0x02}, {0x3083, 0xFE, 0x02},
    {0x30B6, 0xFA, 0x00}, {0x30B7, 0x01, 0x00}, {0x3116, 0x02, 0x08},
};

} // namespace

const std::vector<stream_type_desc>& imx335_sensor::colour_formats()
{
    static const std::vector<stream_type_desc> list{format_of(img::fcc::RGAP)};
    return list;
}

const std::vector<stream_type_desc>& imx335_sensor::mono_formats()
{
    static const std::vector<stream_type_desc> list{format_of(img::fcc::Y10P)};
    return list;
}

imx335_sensor::imx335_sensor(int bus, bool colour, linux_helper::sleeper pause)
    : sensor_base(bus, with_formats(imx335_config, colour ? colour_formats() : mono_formats()),
                  std::move(pause))
{
    for (const auto& f : config().formats)
    {
        largest_height_ = std::max(largest_height_, f.dim_max.cy);
    }
    imx_gain_register(*this, registers(), reg::gain, max_gain_db, gain_db_per_step);
    imx_blacklevel_register(*this, registers(), reg::black_level, black_level_max,
                            black_level_default);
}

framerate_data imx335_sensor::get_available_fps_list(img::img_type type)
{
    // 74.25 MHz over 1100 clocks per line and height + 48 lines. In doubles, with the height
    // kept non-negative, so no size can overflow or divide by zero.
    const double lines = std::max(0, type.dim.cy) + double{frame_overhead_lines};
    return {1.0, std::trunc(74250000.0 / (lines * 1100.0))};
}

std::error_code imx335_sensor::configure_init()
{
    KLOG_TRACE("imx335_sensor::configure_init");
    auto& regs = registers();
    (void)regs.write_script(imx335_scripts::qel_imx335_mode_init, false);
    (void)regs.write_script(imx335_scripts::qel_imx335_inck_1188Mbps_24Mhz, false);
    (void)regs.write_script(imx335_scripts::qel_imx335_common_regs, false);
    return regs.write_script(imx335_scripts::qel_imx335_mode_2592x1944_10bit_30fps_2lane, false);
}

std::error_code imx335_sensor::start_stream()
{
    KLOG_TRACE("imx335_sensor::start_stream");
    return registers().write_script(imx335_scripts::qel_imx335_start, false);
}

std::error_code imx335_sensor::stop_stream()
{
    KLOG_TRACE("imx335_sensor::stop_stream");
    return registers().write_script(imx335_scripts::qel_imx335_stop, false);
}

void imx335_sensor::write_window(int width, int height, int offset_x, int offset_y, bool flip_x,
                                 bool flip_y)
{
    // 64 bits, truncating division: no size or offset, however wrong, overflows; what does
    // not fit a register saturates there.
    const int64_t w = width;
    const int64_t h = height;
    const int64_t x = offset_x;
    const int64_t y = offset_y;

    const int64_t start = flip_y ? (v_last_flipped - (largest_height_ - h - y) / 2) * v_unit
                                 : (y / 2 + v_first_unflipped) * v_unit;
    const int64_t end = std::min(start + 2 * h + v_read_margin, v_last_address);
    const bool inner = flip_y ? start <= v_flipped_edge : start > v_unflipped_edge;

    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u8(reg::window_mode, window_cropping);
    (void)regs.write_u16(reg::h_size,
                         window_value((w + h_size_unit - 1) / h_size_unit * h_size_unit));
    (void)regs.write_u16(reg::h_trim_start,
                         window_value(x / h_offset_step * h_offset_step + h_first_column));
    (void)regs.write_u16(reg::output_height, window_value(h));
    (void)regs.write_u16(reg::v_window_start, window_value(start));
    (void)regs.write_u16(reg::v_window_size, window_value(2 * h));
    (void)regs.write_u16(reg::unread_end, window_value(end));
    (void)regs.write_u16(reg::unread_line_limit, inner ? inner_unread_limit : uint16_t{0});
    (void)regs.write_u16(reg::black_offset, inner ? inner_black_offset : uint16_t{0});
    (void)regs.write_u8(reg::h_flip, flip_x ? 1 : 0);
    for (const auto& s : flip_settings)
    {
        (void)regs.write_u8(s.address, flip_y ? s.flipped : s.unflipped);
    }
}

std::error_code imx335_sensor::configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                             bool flip_x, bool flip_y)
{
    KLOG_DEBUG("imx335_sensor::configure_roi {}x{}", type.dim.cx, type.dim.cy);
    write_window(type.dim.cx, type.dim.cy, offset_x, offset_y, flip_x, flip_y);
    return {};
}

std::error_code imx335_sensor::configure_roi_position(int offset_x, int offset_y, bool flip_x,
                                                      bool flip_y)
{
    // The vertical start depends on the height, so moving the window rewrites all of it.
    write_window(current_type().dim.cx, current_type().dim.cy, offset_x, offset_y, flip_x, flip_y);
    return {};
}

std::error_code imx335_sensor::configure_exposure_fps(const img::img_type& type, double fps,
                                                      double exposure_s)
{
    // saturating_cast keeps a zero, negative, infinite or NaN frame rate or exposure inside
    // the registers' range instead of undefined; an exposure shorter than the offset is 0
    // lines.
    const uint32_t lines_fps = saturating_cast<uint32_t>(lines_per_second / fps);
    const uint32_t min_vmax = std::min<uint32_t>(
        saturating_cast<uint32_t>(2 * (int64_t{type.dim.cy} + frame_overhead_lines)),
        max_frame_lines);
    uint32_t vmax = min_vmax;
    if (lines_fps >= min_vmax)
    {
        vmax = std::min(lines_fps, max_frame_lines);
    }
    // A longer exposure than the largest frame allows is cut to it, so the frame length stays
    // inside its 20 bits.
    const uint32_t exposure_lines =
        std::min(saturating_cast<uint32_t>((exposure_s - exposure_offset_s) * lines_per_second),
                 max_frame_lines - exposure_margin_lines);
    // The shutter needs at least one line, even for an exposure of none.
    const uint32_t e = exposure_lines == 0 ? 1 : exposure_lines;
    vmax = std::max(vmax, e + exposure_margin_lines);

    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u16(reg::hmax, line_length);
    (void)regs.write_u24(reg::vmax, vmax);
    (void)regs.write_u24(reg::shr0, vmax - e);
    return {};
}

std::error_code imx335_sensor::sensor_register_write(uint32_t address,
                                                     std::span<const uint8_t> data)
{
    return registers().write(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::error_code imx335_sensor::sensor_register_read(uint32_t address, std::span<uint8_t>& data)
{
    return i2c().read16_block(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::unique_ptr<sensor_impl_itf> create_imx335(int bus, bool colour, linux_helper::sleeper pause)
{
    try
    {
        return std::make_unique<imx335_sensor>(bus, colour, std::move(pause));
    }
    catch (const std::exception& e)
    {
        KLOG_ERROR("create_imx335: {}", e.what());
        return {};
    }
}

} // namespace korsa_cam::sensor
