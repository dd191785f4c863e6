#include "imx296/imx296_access.h"

#include "common/imx_blacklevel.h"
#include "common/imx_gain.h"
#include "common/saturating_cast.h"
#include "imx296/imx296_config.h"
#include "imx296/imx296_scripts.h"
#include "log.h"
#include "property_ranges.h"
#include "standard_properties.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace korsa_cam::sensor {
namespace {

// Registers written outside the scripts; wider values little-endian from the address on.
namespace reg {
constexpr uint16_t trigger_mode = 0x300B; // 1 external trigger, 0 free running
constexpr uint16_t vmax = 0x3010;         // 24 bit, frame length in lines
constexpr uint16_t shs1 = 0x308D;         // 24 bit, shutter start line
constexpr uint16_t gain = 0x3204;         // 16 bit, 0.1 dB per step
constexpr uint16_t black_level = 0x3254;  // 16 bit
constexpr uint16_t roi_enable = 0x3300;   // written 3
constexpr uint16_t roi_x = 0x3310;        // 16 bit
constexpr uint16_t roi_y = 0x3312;
constexpr uint16_t roi_width = 0x3314;
constexpr uint16_t roi_height = 0x3316;
constexpr uint16_t output_height = 0x4182;
} // namespace reg

constexpr uint8_t roi_on = 3;
// The frame must hold the exposure and this many lines beside it.
constexpr uint32_t exposure_margin_lines = 4;

constexpr double max_gain_db = 48.0;
constexpr double gain_db_per_step = 0.1;
constexpr uint16_t black_level_max = 1023;
constexpr uint16_t black_level_default = 60;

stream_type_desc format_of(img::fourcc fcc, imx296_sensor::model m)
{
    const img::dim largest =
        m == imx296_sensor::model::imx297 ? img::dim{720, 540} : img::dim{1440, 1080};
    return {.type = fcc, .dim_min = {80, 20}, .dim_max = largest, .dim_step = {16, 4}};
}

const sensor_base_config& config_of(imx296_sensor::model m)
{
    return m == imx296_sensor::model::imx297 ? imx297_config : imx296_config;
}

// A region register value: sizes and positions outside the register's range saturate.
uint16_t roi_value(int64_t v) noexcept
{
    return saturating_cast<uint16_t>(v);
}

} // namespace

const std::vector<stream_type_desc>& imx296_sensor::colour_formats(model m)
{
    static const std::vector<stream_type_desc> imx296{format_of(img::fcc::RGAP, model::imx296)};
    static const std::vector<stream_type_desc> imx297{format_of(img::fcc::RGAP, model::imx297)};
    return m == model::imx297 ? imx297 : imx296;
}

const std::vector<stream_type_desc>& imx296_sensor::mono_formats(model m)
{
    static const std::vector<stream_type_desc> imx296{format_of(img::fcc::Y10P, model::imx296)};
    static const std::vector<stream_type_desc> imx297{format_of(img::fcc::Y10P, model::imx297)};
    return m == model::imx297 ? imx297 : imx296;
}

imx296_sensor::imx296_sensor(int bus, model m, bool colour, linux_helper::sleeper pause)
    : sensor_base(bus, with_formats(config_of(m), colour ? colour_formats(m) : mono_formats(m)),
                  std::move(pause))
{
    // The reported maximum is the last menu index: an index past it names no entry.
    add_menu(
        standard_properties::trigger_mode(),
        make_menu_range(standard_properties::trigger_mode(), 0),
        [this](int32_t v) { return set_trigger_mode(v); },
        [this]() -> result<int32_t> { return trigger_mode_ ? 1 : 0; });
    imx_gain_register(*this, registers(), reg::gain, max_gain_db, gain_db_per_step);
    imx_blacklevel_register(*this, registers(), reg::black_level, black_level_max,
                            black_level_default);
}

imx296_sensor::model imx296_sensor::model_of_config() const noexcept
{
    return config().model_number == static_cast<int>(model::imx297) ? model::imx297 : model::imx296;
}

std::error_code imx296_sensor::set_trigger_mode(int32_t value)
{
    // Any non-zero index switches the trigger on. The flag keeps the new value when the
    // write fails, like every stored property value; the caller learns of the failure.
    trigger_mode_ = value != 0;
    return registers().write_u8(reg::trigger_mode, trigger_mode_ ? 1 : 0);
}

framerate_data imx296_sensor::get_available_fps_list(img::img_type type)
{
    // In doubles, with the height kept non-negative, so no size can overflow or divide by
    // zero.
    const double lines = std::max(0, type.dim.cy) + double{frame_overhead_lines};
    return {1.0, std::trunc(pixel_clock_hz / (line_length(model_of_config()) * lines))};
}

std::error_code imx296_sensor::configure_init()
{
    KLOG_TRACE("imx296_sensor::configure_init");
    const auto* script = model_of_config() == model::imx297
                             ? imx296_scripts::qel_imx297_mode_1456x1088_37mhz_60fps
                             : imx296_scripts::qel_imx296_mode_1456x1088_37mhz_60fps;
    return registers().write_script(script, false);
}

std::error_code imx296_sensor::start_stream()
{
    KLOG_TRACE("imx296_sensor::start_stream");
    return registers().write_script(imx296_scripts::qel_imx296_start, false);
}

std::error_code imx296_sensor::stop_stream()
{
    KLOG_TRACE("imx296_sensor::stop_stream");
    return registers().write_script(imx296_scripts::qel_imx296_stop, false);
}

std::error_code imx296_sensor::configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                             bool /*flip_x*/, bool /*flip_y*/)
{
    KLOG_DEBUG("imx296_sensor::configure_roi {}x{}", type.dim.cx, type.dim.cy);
    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u8(reg::roi_enable, roi_on);
    (void)regs.write_u16(reg::roi_x, roi_value(offset_x));
    (void)regs.write_u16(reg::roi_y, roi_value(offset_y));
    (void)regs.write_u16(reg::roi_width, roi_value(type.dim.cx));
    (void)regs.write_u16(reg::roi_height, roi_value(type.dim.cy));
    (void)regs.write_u16(reg::output_height, roi_value(type.dim.cy));
    return {};
}

std::error_code imx296_sensor::configure_roi_position(int offset_x, int offset_y, bool /*flip_x*/,
                                                      bool /*flip_y*/)
{
    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u16(reg::roi_x, roi_value(offset_x));
    (void)regs.write_u16(reg::roi_y, roi_value(offset_y));
    return {};
}

std::error_code imx296_sensor::configure_exposure_fps(const img::img_type& type, double fps,
                                                      double exposure_s)
{
    // Everything in lines of line_length pixel clocks. saturating_cast keeps a zero,
    // negative, infinite or NaN frame rate or exposure inside the registers' range instead of
    // undefined; an exposure shorter than the offset is 0 lines.
    const double line = line_length(model_of_config());
    const uint32_t lines_fps = saturating_cast<uint32_t>(pixel_clock_hz / (fps * line));
    const uint32_t min_vmax = std::min<uint32_t>(
        saturating_cast<uint32_t>(int64_t{type.dim.cy} + frame_overhead_lines), max_frame_lines);
    uint32_t vmax = min_vmax;
    if (lines_fps >= min_vmax)
    {
        vmax = std::min(lines_fps, max_frame_lines);
    }
    // A longer exposure than the largest frame allows is cut to it, so the frame length stays
    // inside its 20 bits.
    const uint32_t exposure_lines = std::min(
        saturating_cast<uint32_t>((exposure_s - exposure_offset_s) * pixel_clock_hz / line),
        max_frame_lines - exposure_margin_lines);
    // The shutter needs at least one line, even for an exposure of none.
    const uint32_t e = exposure_lines == 0 ? 1 : exposure_lines;
    vmax = std::max(vmax, e + exposure_margin_lines);

    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u24(reg::vmax, vmax);
    (void)regs.write_u24(reg::shs1, vmax - e);
    return {};
}

std::error_code imx296_sensor::sensor_register_write(uint32_t address,
                                                     std::span<const uint8_t> data)
{
    return registers().write(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::error_code imx296_sensor::sensor_register_read(uint32_t address, std::span<uint8_t>& data)
{
    return i2c().read16_block(static_cast<uint16_t>(address & 0xFFFF), data);
}

namespace {

std::unique_ptr<sensor_impl_itf> create(const char* name, int bus, imx296_sensor::model m,
                                        bool colour, linux_helper::sleeper pause)
{
    try
    {
        return std::make_unique<imx296_sensor>(bus, m, colour, std::move(pause));
    }
    catch (const std::exception& e)
    {
        KLOG_ERROR("{}: {}", name, e.what());
        return {};
    }
}

} // namespace

std::unique_ptr<sensor_impl_itf> create_imx296(int bus, bool colour, linux_helper::sleeper pause)
{
    return create("create_imx296", bus, imx296_sensor::model::imx296, colour, std::move(pause));
}

std::unique_ptr<sensor_impl_itf> create_imx297(int bus, bool colour, linux_helper::sleeper pause)
{
    return create("create_imx297", bus, imx296_sensor::model::imx297, colour, std::move(pause));
}

} // namespace korsa_cam::sensor
