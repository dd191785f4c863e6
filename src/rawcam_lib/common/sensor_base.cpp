#include "common/sensor_base.h"

#include "common/imx_exposure.h"
#include "log.h"
#include "property_ranges.h"
#include "standard_properties.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace korsa_cam::sensor {
namespace {

// Raw register access for debugging; listed only when debug properties are enabled.
const property_desc& debug_register_address()
{
    static const property_desc d{
        "SensorRegisterAddress", property_type::integer, "Special", "SensorRegister", {},
        property_flag_debug};
    return d;
}

const property_desc& debug_register_value()
{
    static const property_desc d{
        "SensorRegisterValue", property_type::integer, "Special", "SensorRegister", {},
        property_flag_debug};
    return d;
}

const property_desc& debug_register_read()
{
    static const property_desc d{
        "SensorRegisterRead", property_type::button, "Special", "SensorRegister", {},
        property_flag_debug};
    return d;
}

const property_desc& debug_register_write()
{
    static const property_desc d{
        "SensorRegisterWrite", property_type::button, "Special", "SensorRegister", {},
        property_flag_debug};
    return d;
}

// value reduced to a multiple of step, toward zero (the remainder takes the value's sign).
int reduce_to_step(int value, int step) noexcept
{
    return step > 0 ? value - value % step : value;
}

// The offset that centres a window of size current in one of size largest.
int centred(int largest, int current, int step) noexcept
{
    // 64 bits: a nonsensical size must not overflow the difference.
    const int64_t d = int64_t{largest} - current;
    if (d < 0)
    {
        return 0;
    }
    return reduce_to_step(static_cast<int>(std::min<int64_t>(d / 2, INT32_MAX)), step);
}

// offset limited from above by the room a window of size current leaves in one of size
// largest. The result never exceeds offset, so it fits an int.
int limit_offset(int offset, int largest, int current) noexcept
{
    return static_cast<int>(std::min<int64_t>(offset, int64_t{largest} - current));
}

} // namespace

sensor_base_config with_formats(const sensor_base_config& config,
                                std::vector<stream_type_desc> formats)
{
    sensor_base_config c = config;
    c.formats = std::move(formats);
    return c;
}

sensor_base::sensor_base(int bus, sensor_base_config config, linux_helper::sleeper pause)
    : i2c_(bus, config.i2c_address),
      regs_(i2c_, config.reg_hold_address, config.registers_little_endian, std::move(pause)),
      config_(std::move(config)), flip_x_(config_.flip_inverted), flip_y_(config_.flip_inverted)
{
    for (const auto& f : config_.formats)
    {
        largest_width_ = std::max(largest_width_, f.dim_max.cx);
        largest_height_ = std::max(largest_height_, f.dim_max.cy);
    }
    register_common_properties();
}

void sensor_base::register_common_properties()
{
    exposure_ = imx_exposure_register(
        *this, [this](double seconds) { return configure_exposure_fps(type_, fps_, seconds); },
        config_.exposure_min, config_.exposure_max, config_.exposure_default);

    bool has_size_range = false;
    int range_x = 0;
    int range_y = 0;
    for (const auto& f : config_.formats)
    {
        has_size_range = has_size_range || f.dim_min != f.dim_max;
        range_x = std::max(range_x, f.dim_max.cx - f.dim_min.cx);
        range_y = std::max(range_y, f.dim_max.cy - f.dim_min.cy);
    }
    if (has_size_range)
    {
        add_integer(
            standard_properties::offset_x(),
            make_integer_range(0, range_x, 0, config_.offset_step_x),
            [this](int32_t v) { return set_offset(v, true); },
            [this]() -> result<int32_t> { return offset_x_; });
        add_integer(
            standard_properties::offset_y(),
            make_integer_range(0, range_y, 0, config_.offset_step_y),
            [this](int32_t v) { return set_offset(v, false); },
            [this]() -> result<int32_t> { return offset_y_; });
        add_boolean(
            standard_properties::offset_auto_center(), make_boolean_range(true),
            [this](bool on) { return set_auto_center(on); },
            [this]() -> result<bool> { return auto_center_; });
    }

    if (config_.has_flip_x)
    {
        add_boolean(
            standard_properties::reverse_x(), make_boolean_range(false),
            [this](bool on) { return set_flip(on, true); },
            [this]() -> result<bool> { return flip_x_ != config_.flip_inverted; });
    }
    if (config_.has_flip_y)
    {
        add_boolean(
            standard_properties::reverse_y(), make_boolean_range(false),
            [this](bool on) { return set_flip(on, false); },
            [this]() -> result<bool> { return flip_y_ != config_.flip_inverted; });
    }

    add_integer(
        debug_register_address(), make_integer_range(0, 0xFFFF, 0, 1),
        [this](int32_t v) -> std::error_code {
            debug_address_ = v;
            return {};
        },
        [this]() -> result<int32_t> { return static_cast<int32_t>(debug_address_); });
    add_integer(
        debug_register_value(), make_integer_range(0, 255, 0, 1),
        [this](int32_t v) -> std::error_code {
            debug_value_ = v;
            return {};
        },
        [this]() -> result<int32_t> { return static_cast<int32_t>(debug_value_); });
    add_button(debug_register_read(), {}, [this]() -> std::error_code {
        auto r = regs_.read_u8(static_cast<uint16_t>(debug_address_));
        if (!r)
        {
            return r.error();
        }
        debug_value_ = r.value();
        return {};
    });
    add_button(debug_register_write(), {}, [this]() {
        return regs_.write_u8(static_cast<uint16_t>(debug_address_),
                              static_cast<uint8_t>(debug_value_ & 0xFF));
    });
}

int sensor_base::clamped_offset_x() const noexcept
{
    return limit_offset(offset_x_, largest_width_, type_.dim.cx);
}

int sensor_base::clamped_offset_y() const noexcept
{
    return limit_offset(offset_y_, largest_height_, type_.dim.cy);
}

int sensor_base::centred_offset_x() const noexcept
{
    return centred(largest_width_, type_.dim.cx, config_.offset_step_x);
}

int sensor_base::centred_offset_y() const noexcept
{
    return centred(largest_height_, type_.dim.cy, config_.offset_step_y);
}

std::error_code sensor_base::set_offset(int value, bool is_x)
{
    if (auto_center_)
    {
        return std::make_error_code(std::errc::operation_not_permitted);
    }
    int& stored = is_x ? offset_x_ : offset_y_;
    const int reduced = reduce_to_step(value, is_x ? config_.offset_step_x : config_.offset_step_y);
    if (reduced == stored)
    {
        return {};
    }
    stored = reduced;
    return configure_roi_position(clamped_offset_x(), clamped_offset_y(), flip_x_, flip_y_);
}

std::error_code sensor_base::set_auto_center(bool on)
{
    KLOG_INFO("set_offset_auto_center {}", on);
    auto_center_ = on;
    if (!on)
    {
        return {};
    }
    const int x = centred_offset_x();
    const int y = centred_offset_y();
    if (x == offset_x_ && y == offset_y_)
    {
        return {};
    }
    offset_x_ = x;
    offset_y_ = y;
    return configure_roi_position(x, y, flip_x_, flip_y_);
}

std::error_code sensor_base::set_flip(bool on, bool is_x)
{
    (is_x ? flip_x_ : flip_y_) = on != config_.flip_inverted;
    return configure_roi(type_, clamped_offset_x(), clamped_offset_y(), flip_x_, flip_y_);
}

std::error_code sensor_base::apply_exposure()
{
    return configure_exposure_fps(type_, fps_, *exposure_);
}

bool sensor_base::test_reachable()
{
    return static_cast<bool>(i2c_.read16_reg(0x0000));
}

mmal::bayer_order sensor_base::bayer_encoding(img::fourcc fcc)
{
    using namespace img::fcc;
    if (fcc == RGAP || fcc == RGDP || fcc == PWL1)
    {
        return mmal::bayer_order::rggb;
    }
    if (fcc == GRAP || fcc == GRDP || fcc == Y10P || fcc == Y1DP)
    {
        return mmal::bayer_order::grbg;
    }
    if (fcc == GBAP || fcc == GBDP)
    {
        return mmal::bayer_order::gbrg;
    }
    if (fcc == BGAP || fcc == BGDP)
    {
        return mmal::bayer_order::bggr;
    }
    KLOG_ERROR("Unexpected image type: {:x}", img::to_uint(fcc));
    return mmal::bayer_order::rggb;
}

uint32_t sensor_base::image_id(img::fourcc fcc)
{
    using namespace img::fcc;
    if (fcc == PWL1 || fcc == Y1DP || fcc == GBDP || fcc == BGDP || fcc == RGDP || fcc == GRDP)
    {
        return 0x2C; // RAW12
    }
    if (fcc == Y10P || fcc == GBAP || fcc == BGAP || fcc == RGAP || fcc == GRAP)
    {
        return 0x2B; // RAW10
    }
    KLOG_ERROR("Unexpected image type: {:x}", img::to_uint(fcc));
    return 0x2C;
}

uint32_t sensor_base::bit_depth(img::fourcc fcc)
{
    using namespace img::fcc;
    if (fcc == Y10P || fcc == GBAP || fcc == BGAP || fcc == RGAP || fcc == GRAP)
    {
        return 10;
    }
    if (fcc == PWL1 || fcc == Y1DP || fcc == GBDP || fcc == BGDP || fcc == RGDP || fcc == GRDP)
    {
        return 12;
    }
    KLOG_ERROR("Unexpected image type: {:x}", img::to_uint(fcc));
    return 12;
}

result<mmal::pi::csi_settings> sensor_base::setup_format(img::img_type type, double fps)
{
    if (!initialised_)
    {
        if (auto ec = configure_init())
        {
            return ec;
        }
        initialised_ = true;
    }
    type_ = type;
    fps_ = fps;
    if (auto_center_)
    {
        offset_x_ = centred_offset_x();
        offset_y_ = centred_offset_y();
    }
    // Failures here reach the log through the register layer; the stream can still run with
    // what the sensor holds, so they do not fail the setup.
    (void)configure_roi(type_, clamped_offset_x(), clamped_offset_y(), flip_x_, flip_y_);
    (void)configure_exposure_fps(type_, fps_, *exposure_);

    mmal::pi::csi_settings s;
    s.width = type.dim.cx;
    s.height = static_cast<uint32_t>(type.dim.cy);
    s.bayer = bayer_encoding(type.type);
    s.data_lanes = static_cast<uint32_t>(config_.connection.num_output_lanes);
    s.image_id = image_id(type.type);
    s.bit_depth = bit_depth(type.type);
    s.embedded_data_lines = 1;
    s.term_override = config_.rx_termination;
    s.fps = fps_;
    return s;
}

} // namespace korsa_cam::sensor
