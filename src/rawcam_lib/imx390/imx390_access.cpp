#include "imx390/imx390_access.h"

#include "common/saturating_cast.h"
#include "imx390/imx390_config.h"
#include "imx390/imx390_scripts.h"
#include "log.h"
#include "property_ranges.h"
#include "rawcam_error.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace korsa_cam::sensor {
namespace {

// Registers written outside the scripts; wider values little-endian from the address on.
namespace reg {
constexpr uint16_t shs1 = 0x000C;             // 24 bit, shutter of the first exposure
constexpr uint16_t shs2 = 0x0010;             // 24 bit, shutter of the second exposure
constexpr uint16_t gain_sp1h = 0x0018;        // 16 bit, high conversion gain channel
constexpr uint16_t gain_sp1l = 0x001A;        // 16 bit, low conversion gain channel
constexpr uint16_t flip = 0x0074;             // bit 1 horizontal, bit 0 vertical
constexpr uint16_t crop_enable = 0x0078;      // written 1
constexpr uint16_t crop_x = 0x007C;           // 16 bit
constexpr uint16_t crop_y = 0x0080;           // 16 bit
constexpr uint16_t frame_multiplier = 0x0090; // FMAX, 8 bit
constexpr uint16_t hdr_output = 0x00F9;       // 1 combined HDR, 0 single channel
constexpr uint16_t single_channel = 0x00FA;   // 0 SP1 HCG, 1 SP1 LCG, 2 SP2
constexpr uint16_t linear_output = 0x013B;    // 0 piecewise-linear, 1 linear
constexpr uint16_t readout = 0x03C0;          // 1 normal, +4 vertical flip, +8 horizontal flip
constexpr uint16_t vmax = 0x2008;             // 24 bit, frame length in lines
constexpr uint16_t hmax = 0x200C;             // 16 bit, line length
constexpr uint16_t output_width = 0x3410;     // 16 bit
constexpr uint16_t output_height = 0x3418;    // 16 bit
} // namespace reg

constexpr double max_gain_db = 27.0;
constexpr double gain_step_db = 0.3;
// Register code per dB of analog gain (10 codes are 0 dB).
constexpr double gain_code_per_db = 3.3333333333333335;
constexpr double gain_code_at_0db = 10.0;

// The frame multiplier register has 8 bits, and both shutters count lines of the whole
// multiplied frame in 24 bits; an exposure longer than that can express is cut to fit.
constexpr uint64_t max_frame_multiplier = 255;
constexpr uint64_t max_shutter = 0xFFFFFF;

const property_desc& output_select_desc()
{
    static const property_desc d{"SensorOutputSelect",
                                 property_type::menu,
                                 "Exposure",
                                 "IMX390",
                                 {"HDR", "SP1_HCG", "SP1_LCG", "SP2"},
                                 0};
    return d;
}

const property_desc& exposure_ratio_desc()
{
    static const property_desc d{"ExposureRatio", property_type::real, "Exposure", "IMX390", {}, 0};
    return d;
}

const property_desc& gain_desc()
{
    static const property_desc d{"Gain", property_type::real, "Exposure", "IMX390", {}, 0};
    return d;
}

const property_desc& gain_offset_desc()
{
    static const property_desc d{"GainOffset", property_type::real, "Exposure", "IMX390", {}, 0};
    return d;
}

std::error_code nan_refused()
{
    return std::make_error_code(std::errc::argument_out_of_domain);
}

uint16_t window_value(int64_t v) noexcept
{
    return saturating_cast<uint16_t>(v);
}

} // namespace

imx390_sensor::imx390_sensor(int bus, linux_helper::sleeper pause)
    : sensor_base(bus, imx390_config, std::move(pause))
{
    register_own_properties();
}

void imx390_sensor::register_own_properties()
{
    // The range ends at the number of entries, as on every sensor menu of this library; the
    // setter accepts only the indexes of the entries.
    const auto entries = static_cast<int32_t>(output_select_desc().menu_entries.size());
    add_menu(
        output_select_desc(), make_integer_range(0, entries, 0, 1),
        [this](int32_t index) { return set_output_select(index); },
        [this]() -> result<int32_t> { return output_select_; });
    add_real(
        exposure_ratio_desc(), make_real_range(0.1, 1.0, 1.0, 0.025),
        [this](double ratio) -> std::error_code {
            if (std::isnan(ratio))
            {
                return nan_refused();
            }
            exposure_ratio_ = ratio;
            return apply_exposure();
        },
        [this]() -> result<double> { return exposure_ratio_; });
    add_real(
        gain_desc(), make_real_range(0.0, max_gain_db, max_gain_db, gain_step_db),
        [this](double db) -> std::error_code {
            if (std::isnan(db))
            {
                return nan_refused();
            }
            gain_db_ = db;
            return apply_gains();
        },
        [this]() -> result<double> { return gain_db_; });
    add_real(
        gain_offset_desc(), make_real_range(-max_gain_db, 0.0, -max_gain_db, gain_step_db),
        [this](double db) -> std::error_code {
            if (std::isnan(db))
            {
                return nan_refused();
            }
            gain_offset_db_ = db;
            return apply_gains();
        },
        [this]() -> result<double> { return gain_offset_db_; });
}

std::error_code imx390_sensor::set_output_select(int32_t index)
{
    const auto entries = static_cast<int32_t>(output_select_desc().menu_entries.size());
    if (index < 0 || index >= entries)
    {
        // Past the menu the channel register would get a value that selects no channel.
        KLOG_WARN("Invalid value={} specified while writing to the 'SensorOutputSelect' property",
                  index);
        return status::invalid_property_value;
    }
    output_select_ = index;
    auto& regs = registers();
    if (index == 0)
    {
        (void)regs.write_u8(reg::hdr_output, 1);
    }
    else
    {
        (void)regs.write_u8(reg::hdr_output, 0);
        (void)regs.write_u8(reg::single_channel, static_cast<uint8_t>(index - 1));
    }
    return {};
}

imx390_sensor::gain_codes imx390_sensor::gain_registers(double gain_db, double offset_db) noexcept
{
    // Both channels stay inside the analog range; in range the values are the plain formula.
    // A sum without a value (an infinite gain against an infinite offset) counts as 0 dB.
    const auto code = [](double db) {
        const double in_range = std::isnan(db) ? 0.0 : std::clamp(db, 0.0, max_gain_db);
        return saturating_cast<uint16_t>(gain_code_at_0db + in_range * gain_code_per_db);
    };
    return {code(gain_db), code(gain_db + offset_db)};
}

std::error_code imx390_sensor::apply_gains()
{
    const auto codes = gain_registers(gain_db_, gain_offset_db_);
    auto& regs = registers();
    (void)regs.write_u16(reg::gain_sp1l, codes.sp1l);
    (void)regs.write_u16(reg::gain_sp1h, codes.sp1h);
    KLOG_DEBUG("SP1L = {} SP1H = {}", codes.sp1l, codes.sp1h);
    return {};
}

framerate_data imx390_sensor::get_available_fps_list(img::img_type)
{
    return {5.0, 60.0};
}

std::error_code imx390_sensor::configure_init()
{
    if (!imx390_settings::maker_settings_supplied)
    {
        KLOG_WARN("IMX390 initialisation script holds placeholder tuning values; the image is "
                  "not correct until the sensor maker's register settings are supplied");
    }
    return registers().write_script(imx390_scripts::qel_imx390_mode_1920x1080_27mhz_30fps, false);
}

std::error_code imx390_sensor::start_stream()
{
    return registers().write_script(imx390_scripts::qel_imx390_start, false);
}

std::error_code imx390_sensor::stop_stream()
{
    return registers().write_script(imx390_scripts::qel_imx390_stop, false);
}

std::error_code imx390_sensor::configure_roi(const img::img_type& type, int offset_x, int offset_y,
                                             bool flip_x, bool flip_y)
{
    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u8(reg::linear_output, type.type == img::fcc::PWL1 ? 0 : 1);
    (void)regs.write_u8(reg::readout,
                        static_cast<uint8_t>(1 + (flip_y ? 4 : 0) + (flip_x ? 8 : 0)));
    (void)regs.write_u8(reg::crop_enable, 1);
    (void)regs.write_u16(reg::output_width, window_value(type.dim.cx));
    (void)regs.write_u16(reg::output_height, window_value(type.dim.cy));
    (void)regs.write_u8(reg::flip, static_cast<uint8_t>((flip_x ? 2 : 0) | (flip_y ? 1 : 0)));
    (void)configure_roi_position(offset_x, offset_y, flip_x, flip_y);
    return {};
}

std::error_code imx390_sensor::configure_roi_position(int offset_x, int offset_y, bool, bool)
{
    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u16(reg::crop_x, window_value(offset_x));
    (void)regs.write_u16(reg::crop_y, window_value(offset_y));
    return {};
}

imx390_sensor::timing imx390_sensor::exposure_timing(double fps, double exposure_s,
                                                     double ratio) noexcept
{
    // Everything in lines of 1/67500 s. saturating_cast keeps a zero, negative, infinite or
    // NaN rate, exposure or ratio inside the registers' range instead of undefined.
    const uint64_t vmax = std::clamp<uint64_t>(saturating_cast<uint32_t>(lines_per_second / fps),
                                               min_frame_lines, max_frame_lines);
    const double lines = exposure_s * lines_per_second;
    const uint64_t multiplier_limit = std::min(max_frame_multiplier, max_shutter / vmax - 1);
    const uint64_t longest = vmax * (multiplier_limit + 1) - 1;
    const uint64_t e1 = std::clamp<uint64_t>(saturating_cast<uint32_t>(lines), 1, longest);
    // The second exposure is never longer than the first (a ratio above 1 is out of range).
    const uint64_t e2 = std::clamp<uint64_t>(saturating_cast<uint32_t>(lines * ratio), 1, e1);

    const uint64_t fmax = e1 / vmax;
    const uint64_t total = vmax * (fmax + 1);
    return {static_cast<uint32_t>(vmax), static_cast<uint32_t>(fmax),
            static_cast<uint32_t>(total - e1), static_cast<uint32_t>(total - e2)};
}

std::error_code imx390_sensor::configure_exposure_fps(const img::img_type&, double fps,
                                                      double exposure_s)
{
    const auto t = exposure_timing(fps, exposure_s, exposure_ratio_);
    auto& regs = registers();
    auto hold = regs.hold();
    (void)regs.write_u16(reg::hmax, line_length);
    (void)regs.write_u24(reg::vmax, t.vmax);
    (void)regs.write_u8(reg::frame_multiplier, static_cast<uint8_t>(t.fmax));
    (void)regs.write_u24(reg::shs1, t.shs1);
    (void)regs.write_u24(reg::shs2, t.shs2);
    KLOG_DEBUG("HMAX = {} VMAX = {} FMAX = {} SHS1 = {} SHS2 = {}", line_length, t.vmax, t.fmax,
               t.shs1, t.shs2);
    return {};
}

std::error_code imx390_sensor::sensor_register_write(uint32_t address,
                                                     std::span<const uint8_t> data)
{
    return registers().write(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::error_code imx390_sensor::sensor_register_read(uint32_t address, std::span<uint8_t>& data)
{
    return i2c().read16_block(static_cast<uint16_t>(address & 0xFFFF), data);
}

std::unique_ptr<sensor_impl_itf> create_imx390(int bus, linux_helper::sleeper pause)
{
    try
    {
        return std::make_unique<imx390_sensor>(bus, std::move(pause));
    }
    catch (const std::exception& e)
    {
        KLOG_ERROR("create_imx390: {}", e.what());
        return {};
    }
}

} // namespace korsa_cam::sensor
