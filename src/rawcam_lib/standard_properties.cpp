#include "standard_properties.h"

#include <array>

namespace korsa_cam::standard_properties {
namespace {

// Function-local statics: built on first use, so no other static initialiser can see one
// half-constructed.
struct table
{
    table() = default;
    table(const table&) = delete; // in_order points into this object
    table& operator=(const table&) = delete;

    property_desc exposure_time{
        "ExposureTime", property_type::real, "Exposure", "ExposureTime", {}, 0};
    property_desc gain{"Gain", property_type::real, "Exposure", "Gain", {}, 0};
    property_desc black_level{"BlackLevel", property_type::real, "Exposure", "BlackLevel", {}, 0};
    property_desc offset_x{"OffsetX", property_type::integer, "Partial Scan", "Partial Scan", {},
                           0};
    property_desc offset_y{"OffsetY", property_type::integer, "Partial Scan", "Partial Scan", {},
                           0};
    property_desc offset_auto_center{
        "OffsetAutoCenter", property_type::boolean, "Partial Scan", "Partial Scan", {}, 0};
    property_desc reverse_x{"ReverseX", property_type::boolean, "Image", "Flip", {}, 0};
    property_desc reverse_y{"ReverseY", property_type::boolean, "Image", "Flip", {}, 0};
    property_desc trigger_mode{"TriggerMode", property_type::menu, "Special",
                               "Trigger",     {"Off", "On"},       0};
    property_desc trigger_source_fpd_link{"TriggerSource", property_type::menu,       "Special",
                                          "Trigger",       {"FPD-Link", "PicoBlade"}, 0};
    property_desc trigger_source_direct{"TriggerSource", property_type::menu, "Special",
                                        "Trigger",       {"PicoBlade"},       0};
    property_desc strobe_mode{"StrobeMode", property_type::menu, "Special",
                              "StrobeMode", {"Off", "On"},       0};
    property_desc show_overlay{
        "ShowOverlay", property_type::boolean, "Special", "ShowOverlay", {}, property_flag_debug};

    std::array<const property_desc*, 13> in_order{
        &exposure_time,         &gain,        &black_level, &offset_x,     &offset_y,
        &offset_auto_center,    &reverse_x,   &reverse_y,   &trigger_mode, &trigger_source_fpd_link,
        &trigger_source_direct, &strobe_mode, &show_overlay};
};

const table& descriptors()
{
    static const table t;
    return t;
}

} // namespace

const property_desc& exposure_time()
{
    return descriptors().exposure_time;
}
const property_desc& gain()
{
    return descriptors().gain;
}
const property_desc& black_level()
{
    return descriptors().black_level;
}
const property_desc& offset_x()
{
    return descriptors().offset_x;
}
const property_desc& offset_y()
{
    return descriptors().offset_y;
}
const property_desc& offset_auto_center()
{
    return descriptors().offset_auto_center;
}
const property_desc& reverse_x()
{
    return descriptors().reverse_x;
}
const property_desc& reverse_y()
{
    return descriptors().reverse_y;
}
const property_desc& trigger_mode()
{
    return descriptors().trigger_mode;
}
const property_desc& trigger_source_fpd_link()
{
    return descriptors().trigger_source_fpd_link;
}
const property_desc& trigger_source_direct()
{
    return descriptors().trigger_source_direct;
}
const property_desc& strobe_mode()
{
    return descriptors().strobe_mode;
}
const property_desc& show_overlay()
{
    return descriptors().show_overlay;
}

std::span<const property_desc* const> all()
{
    return descriptors().in_order;
}

} // namespace korsa_cam::standard_properties
