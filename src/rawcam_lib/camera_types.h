#pragma once

// Records that cross between the camera library and the GStreamer side.

#include "image_types.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace korsa_cam {

struct stream_type_desc
{
    img::fourcc type = img::fourcc::FCC_NULL;
    img::dim dim_min;
    img::dim dim_max;
    img::dim dim_step{1, 1};
};

// Empty: not streamable; one value: exactly that rate; more: a range from smallest to largest.
using framerate_data = std::vector<double>;

// Identifies a capture buffer to the camera that produced it; only used to hand it back.
using buffer_id_type = void*;

struct frame_info
{
    uint64_t frame_number = 0;
    uint64_t frame_id = 0;
    int64_t cam_time = 0;
    bool is_incomplete = false;
};

struct buffer_desc
{
    buffer_id_type buffer_id = nullptr;
    img::img_descriptor image;
    frame_info frame;
};

// One untagged 8-byte property value; its reading depends on the property's type.
union prop_values
{
    int64_t i64;
    double dbl;
    uint8_t bytes[8];

    constexpr prop_values() noexcept : i64(0) {}

    static prop_values from_int(int32_t v) noexcept
    {
        prop_values p;
        p.i64 = v;
        return p;
    }
    static prop_values from_int64(int64_t v) noexcept
    {
        prop_values p;
        p.i64 = v;
        return p;
    }
    static prop_values from_double(double v) noexcept
    {
        prop_values p;
        p.dbl = v;
        return p;
    }
    static prop_values from_bool(bool v) noexcept
    {
        prop_values p;
        p.i64 = v ? 1 : 0;
        return p;
    }

    // Integer and menu properties: the low 32 bits as a signed integer.
    int32_t as_int() const noexcept { return static_cast<int32_t>(static_cast<uint32_t>(i64)); }
    double as_double() const noexcept { return dbl; }
    // A boolean is true when any of the eight bytes is nonzero.
    bool as_bool() const noexcept { return i64 != 0; }
};
static_assert(sizeof(prop_values) == 8);

enum class property_type : uint32_t
{
    boolean = 0,
    integer = 1,
    real = 2,
    button = 3,
    menu = 4,
};

// Bits of property_desc::flags.
inline constexpr uint32_t property_flag_hidden = 1; // never listed to users
inline constexpr uint32_t property_flag_debug = 2;  // listed only when debug properties are on

struct property_desc
{
    std::string name;
    property_type type = property_type::integer;
    std::string category;
    std::string group;
    std::vector<const char*> menu_entries; // static strings, index order
    uint32_t flags = 0;
};

struct property_range
{
    int32_t flags = 0;
    prop_values min;
    prop_values max;
    prop_values default_value;
    prop_values step;
};

struct device_info
{
    std::string serial;
    std::string name;
    std::string identifier;
};

struct setup_parameter
{
    int i2c_bus = -1; // negative: the default camera-0 bus
    std::string sensor_type;
};

class camera_itf;

} // namespace korsa_cam
