#include "ar0234/ar0234_access.h"

#include "ar0234/ar0234_config.h"
#include "ar0234/ar0234_registers.h"
#include "ar0234/ar0234_scripts.h"
#include "ar0234/ar0234_sequencer.h"
#include "common/saturating_cast.h"
#include "log.h"
#include "property_ranges.h"
#include "sensor_connection.h"
#include "standard_properties.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>

namespace korsa_cam::sensor {
namespace {

namespace reg {
constexpr uint16_t chip_version = 0x3000;
constexpr uint16_t y_addr_start = 0x3002;
constexpr uint16_t x_addr_start = 0x3004;
constexpr uint16_t y_addr_end = 0x3006;
constexpr uint16_t x_addr_end = 0x3008;
constexpr uint16_t frame_length_lines = 0x300A;
constexpr uint16_t line_length_pck = 0x300C;
constexpr uint16_t coarse_integration_time = 0x3012;
constexpr uint16_t reset_register = 0x301A;
constexpr uint16_t grouped_parameter_hold = 0x3022; // byte wide
constexpr uint16_t pll_multiplier = 0x3030;
constexpr uint16_t analog_gain = 0x3060;
constexpr uint16_t serial_format = 0x31AE; // 0x0200 + lanes
constexpr uint16_t flash_control = 0x3270; // 0x0100: strobe on
} // namespace reg

// Values of the reset register: free-running streaming, streaming on the trigger input,
// standby.
constexpr uint16_t stream_free_running = 0x225C;
constexpr uint16_t stream_triggered = 0x2B58;
constexpr uint16_t stream_off = 0x2258;

constexpr uint16_t flash_on = 0x0100;

// The pixel array starts this far into the sensor's addressing.
constexpr int64_t window_margin = 8;

// Above this lane rate the PLL gives no more; 18 Mbit/s per lane for each PLL step.
constexpr int max_used_lane_rate = 900'000'000;
constexpr int lane_rate_per_step = 18'000'000;
constexpr int pixel_clock_per_step = 1'800'000; // 9 MHz x M / 5
constexpr int max_sensor_lanes = 4;

// Frame timing: the line is 612 pixel clocks unless stretched; the frame length register has
// 16 bits and the frame at least 20 lines more than the image.
constexpr uint16_t default_line_length = 612;
constexpr double stretched_line_divisor = 65540.0;
constexpr int64_t frame_overhead_lines = 20;
constexpr uint32_t max_register = 0xFFFF;
constexpr uint32_t min_integration_lines = 2;

// Gain: 13 is 0 dB, 64 the top of the analog range (19.2 dB).
constexpr double max_gain_db = 19.2;
constexpr double gain_step_db = 0.1;
constexpr double codes_per_db = 2.657542475909892;
constexpr double tenth_db_per_code = 3.762874945799762;
constexpr uint16_t min_gain_code = 13;
constexpr uint16_t max_gain_code = 64;

// Frame rates: the readout needs 2448 clocks per line and 25 lines beyond the image; the
// slowest rate the frame-length and line-length registers allow is what follows from them.
constexpr uint64_t clocks_per_line_at_max_rate = 2448;
constexpr uint64_t overhead_lines_at_max_rate = 25;
constexpr uint32_t slowest_rate_divisor = 160'441'920;
constexpr uint32_t fast_link_threshold = 320'883'839;

uint16_t window_value(int64_t v) noexcept
{
    return saturating_cast<uint16_t>(v);
}

} // namespace

ar0234_sensor::pll ar0234_sensor::choose_pll(int lane_bandwidth) noexcept
{
    const int used = std::clamp(lane_bandwidth, 0, max_used_lane_rate);
    const int m = used / lane_rate_per_step;
    return {m, m * pixel_clock_per_step};
}

ar0234_sensor::ar0234_sensor(int bus, int lanes, int lane_bandwidth, linux_helper::sleeper pause)
    : sensor_base(bus, make_ar0234_config(lanes, lane_bandwidth), std::move(pause)),
      pll_(choose_pll(lane_bandwidth))
{
    KLOG_DEBUG("PLL Multiplier = {}, CSI lanes = {} Mbps x {}", pll_.multiplier,
               std::clamp(lane_bandwidth, 0, max_used_lane_rate) / 1'000'000, lanes);
    KLOG_DEBUG("Pixel Clock = {}", pll_.pixel_clock);
    register_own_properties();
}

uint16_t ar0234_sensor::gain_code(double db) noexcept
{
    if (std::isnan(db))
    {
        return min_gain_code;
    }
    // Clamped before rounding, so that no value is too large to round; for values in range
    // this is the same as rounding first.
    const double code =
        std::clamp(db * codes_per_db + min_gain_code, double{min_gain_code}, double{max_gain_code});
    return static_cast<uint16_t>(std::lround(code));
}

double ar0234_sensor::gain_db(int code) noexcept
{
    return std::round((code - min_gain_code) * tenth_db_per_code) * 0.1;
}

uint16_t ar0234_sensor::stream_control() const noexcept
{
    return trigger_mode_ ? stream_triggered : stream_free_running;
}

void ar0234_sensor::register_own_properties()
{
    // Menu ranges end at the number of entries, as on every sensor menu of this library.
    const auto menu_range = [](const property_desc& d) {
        return make_integer_range(0, static_cast<int32_t>(d.menu_entries.size()), 0, 1);
    };
    add_menu(
        standard_properties::trigger_mode(), menu_range(standard_properties::trigger_mode()),
        [this](int32_t value) -> std::error_code {
            trigger_mode_ = value != 0;
            if (!streaming_)
            {
                return {}; // start_stream applies it
            }
            return ar_write16(i2c(), reg::reset_register, stream_control());
        },
        [this]() -> result<int32_t> { return trigger_mode_ ? 1 : 0; });
    add_real(
        standard_properties::gain(), make_real_range(0.0, max_gain_db, 0.0, gain_step_db),
        [this](double db) -> std::error_code {
            if (std::isnan(db))
            {
                return std::make_error_code(std::errc::argument_out_of_domain);
            }
            gain_code_ = gain_code(db);
            return ar_write16(i2c(), reg::analog_gain, gain_code_);
        },
        [this]() -> result<double> { return gain_db(gain_code_); });
    add_menu(
        standard_properties::strobe_mode(), menu_range(standard_properties::strobe_mode()),
        [this](int32_t value) -> std::error_code {
            strobe_ = value == 1 ? 1 : 0;
            return ar_write16(i2c(), reg::flash_control, static_cast<uint16_t>(strobe_ * flash_on));
        },
        [this]() -> result<int32_t> { return strobe_; });
}

framerate_data ar0234_sensor::get_available_fps_list(img::img_type type)
{
    const uint32_t lanes = saturating_cast<uint32_t>(config().connection.num_output_lanes);
    const uint32_t p = lanes * saturating_cast<uint32_t>(pll_.pixel_clock);
    // In 64 bits with the height kept non-negative: no size can overflow or divide by zero.
    const uint64_t lines = saturating_cast<uint32_t>(type.dim.cy) + overhead_lines_at_max_rate;
    const uint64_t max_rate = p / (lines * clocks_per_line_at_max_rate);
    const double min_rate = p > fast_link_threshold ? double(p / slowest_rate_divisor) : 1.0;
    return {min_rate, double(max_rate)};
}

std::error_code ar0234_sensor::configure_init()
{
    // A sensor that does not answer here cannot be set up; the error goes back to the stream
    // set-up rather than as an exception through the streaming thread.
    auto version = ar_read16(i2c(), reg::chip_version);
    if (!version)
    {
        KLOG_ERROR("Failed to read chip_version: {}", version.error().message());
        return version.error();
    }
    if (version.value() != expected_chip_version)
    {
        KLOG_ERROR("Unexpected chip_version: {:x} (expected 0x0A56)", version.value());
    }
    if (!ar0234_sequencer::maker_sequencer_supplied)
    {
        KLOG_WARN("AR0234 initialisation script holds a placeholder sequencer program; the image "
                  "is not correct until the sensor maker's sequencer words are supplied");
    }
    if (auto ec = ar_write_script(i2c(), ar0234_scripts::ar0234_init, true, registers().pause()))
    {
        KLOG_ERROR("Failed to write init script");
        return ec;
    }

    const int lanes = config().connection.num_output_lanes;
    if (lanes != 1 && lanes != 2 && lanes != 4)
    {
        KLOG_ERROR("Unexpected config_.num_output_lanes: {} (expected 1/2/4)", lanes);
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (auto ec = ar_write16(i2c(), reg::serial_format, static_cast<uint16_t>(0x0200 + lanes)))
    {
        KLOG_ERROR("Failed to write SERIAL_FORMAT register");
        return ec;
    }
    if (auto ec = ar_write16(i2c(), reg::pll_multiplier, static_cast<uint16_t>(pll_.multiplier)))
    {
        KLOG_ERROR("Failed to write PLL_MULTIPLIER register");
        return ec;
    }
    return {};
}

std::error_code ar0234_sensor::start_stream()
{
    streaming_ = true;
    return ar_write16(i2c(), reg::reset_register, stream_control());
}

std::error_code ar0234_sensor::stop_stream()
{
    streaming_ = false;
    return ar_write16(i2c(), reg::reset_register, stream_off);
}

std::error_code ar0234_sensor::write_window(int offset_x, int offset_y, int width, int height)
{
    // Inside the grouped parameter hold, so the sensor takes the window at one frame.
    const std::array<ar_reg, 7> script{{
        {reg::grouped_parameter_hold, 1, ar_reg::byte_wide},
        {reg::y_addr_start, window_value(int64_t{offset_y} + window_margin), 0},
        {reg::x_addr_start, window_value(int64_t{offset_x} + window_margin), 0},
        {reg::y_addr_end, window_value(int64_t{offset_y} + height + window_margin - 1), 0},
        {reg::x_addr_end, window_value(int64_t{offset_x} + width + window_margin - 1), 0},
        {reg::grouped_parameter_hold, 0, ar_reg::byte_wide},
        ar_script_end,
    }};
    return ar_write_script(i2c(), script.data(), false, registers().pause());
}

std::error_code ar0234_sensor::configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                             bool, bool)
{
    return write_window(offset_x, offset_y, type.dim.cx, type.dim.cy);
}

std::error_code ar0234_sensor::configure_roi_position(int offset_x, int offset_y, bool, bool)
{
    return write_window(offset_x, offset_y, current_type().dim.cx, current_type().dim.cy);
}

ar0234_sensor::timing ar0234_sensor::exposure_timing(int pixel_clock, int height, double fps,
                                                     double exposure_s) noexcept
{
    // saturating_cast keeps a zero, negative, infinite or NaN rate or exposure inside the
    // registers' range instead of undefined: NaN and negative rates give the shortest frame,
    // a rate of 0 the longest.
    const double p = pixel_clock;
    const int64_t min_frame = int64_t{saturating_cast<uint32_t>(height)} + frame_overhead_lines;
    int64_t frame =
        std::max<int64_t>(int64_t{saturating_cast<uint32_t>(p * (1.0 / 612) / fps)} - 5, min_frame);
    uint32_t line = default_line_length;
    if (frame > int64_t{max_register})
    {
        // The frame-length register is full: stretch the line instead. Never shorter than the
        // normal line (only a nonsense height could ask for that).
        frame = max_register;
        line =
            std::max<uint32_t>(saturating_cast<uint16_t>(p * (1.0 / stretched_line_divisor) / fps),
                               default_line_length);
    }
    uint32_t integration =
        std::max(saturating_cast<uint32_t>(p * exposure_s / line), min_integration_lines);
    if (integration > max_register)
    {
        // More lines than the register holds: the longest count, with lines long enough to
        // cover the exposure.
        integration = max_register;
        line = std::max<uint32_t>(saturating_cast<uint16_t>(p * exposure_s / max_register), line);
    }
    return {static_cast<uint16_t>(frame), static_cast<uint16_t>(line),
            static_cast<uint16_t>(integration)};
}

std::error_code ar0234_sensor::configure_exposure_fps(const img::img_type& type, double fps,
                                                      double exposure_s)
{
    const auto t = exposure_timing(pll_.pixel_clock, type.dim.cy, fps, exposure_s);
    KLOG_DEBUG("frame_length_lines = {}, line_length_pck = {}, cit = {}", t.frame_length_lines,
               t.line_length_pck, t.integration_lines);
    const std::array<ar_reg, 6> script{{
        {reg::grouped_parameter_hold, 1, ar_reg::byte_wide},
        {reg::frame_length_lines, t.frame_length_lines, 0},
        {reg::line_length_pck, t.line_length_pck, 0},
        {reg::coarse_integration_time, t.integration_lines, 0},
        {reg::grouped_parameter_hold, 0, ar_reg::byte_wide},
        ar_script_end,
    }};
    return ar_write_script(i2c(), script.data(), false, registers().pause());
}

std::error_code ar0234_sensor::sensor_register_write(uint32_t address,
                                                     std::span<const uint8_t> data)
{
    return i2c().write16_block(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::error_code ar0234_sensor::sensor_register_read(uint32_t address, std::span<uint8_t>& data)
{
    return i2c().read16_block(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::unique_ptr<sensor_impl_itf>
create_ar0234(int bus, bool, const connection_constraints& constraints, linux_helper::sleeper pause)
{
    try
    {
        // The sensor has four lanes; a link carrying more is driven with four.
        const int lanes = std::min(constraints.max_lanes(), max_sensor_lanes);
        const int bandwidth = constraints.max_lane_bandwidth(lanes);
        return std::make_unique<ar0234_sensor>(bus, lanes, bandwidth, std::move(pause));
    }
    catch (const std::exception& e)
    {
        KLOG_ERROR("create_ar0234: {}", e.what());
        return {};
    }
}

} // namespace korsa_cam::sensor
