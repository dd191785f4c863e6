#include "gst_caps_generate.h"

#include "fcc_to_string.h"
#include "fourcc_caps_table.h"
#include "log.h"

#include <algorithm>
#include <string>

namespace gst_helper {
namespace {

GstStructure* parse_structure(const std::string& caps_string)
{
    GstStructure* s = gst_structure_from_string(caps_string.c_str(), nullptr);
    if (s == nullptr)
    {
        KLOG_WARN("Failed to init structure GstStructure from caps-string='{}'", caps_string);
    }
    return s;
}

GValue to_fraction(double rate)
{
    GValue v = G_VALUE_INIT;
    g_value_init(&v, GST_TYPE_FRACTION);
    gint num = 0;
    gint den = 1;
    gst_util_double_to_fraction(rate, &num, &den);
    gst_value_set_fraction(&v, num, den);
    return v;
}

bool fits_range(const img::dim& size, const korsa_cam::stream_type_desc& desc)
{
    const auto step_w = std::max(desc.dim_step.cx, 1);
    const auto step_h = std::max(desc.dim_step.cy, 1);
    return size.cx >= desc.dim_min.cx && size.cx <= desc.dim_max.cx && size.cy >= desc.dim_min.cy &&
           size.cy <= desc.dim_max.cy && (size.cx - desc.dim_min.cx) % step_w == 0 &&
           (size.cy - desc.dim_min.cy) % step_h == 0;
}

// Sizes offered as fixed structures for a ranged format: the largest, the standard sizes that
// fit, the smallest.
std::vector<img::dim> sizes_for_range(const korsa_cam::stream_type_desc& desc)
{
    std::vector<img::dim> sizes;
    for (const auto& res : get_standard_resolutions())
    {
        if (fits_range(res, desc))
        {
            sizes.push_back(res);
        }
    }
    if (sizes.empty() || sizes.front() != desc.dim_max)
    {
        sizes.insert(sizes.begin(), desc.dim_max);
    }
    if (sizes.back() != desc.dim_min)
    {
        sizes.push_back(desc.dim_min);
    }
    return sizes;
}

void append_fixed(GstCaps* caps, const std::string& caps_string, img::fourcc fcc, img::dim size,
                  const fps_function& get_fps)
{
    GstStructure* s = parse_structure(caps_string);
    if (s == nullptr)
    {
        return;
    }
    if (fill_structure_fixed_resolution(s, img::make_img_type(fcc, size), get_fps))
    {
        gst_caps_append_structure(caps, s);
    }
    else
    {
        gst_structure_free(s);
    }
}

void append_range(GstCaps* caps, const std::string& caps_string,
                  const korsa_cam::stream_type_desc& desc, const fps_function& get_fps)
{
    GstStructure* s = parse_structure(caps_string);
    if (s == nullptr)
    {
        return;
    }
    GValue width = G_VALUE_INIT;
    g_value_init(&width, GST_TYPE_INT_RANGE);
    gst_value_set_int_range_step(&width, desc.dim_min.cx, desc.dim_max.cx,
                                 std::max(desc.dim_step.cx, 1));
    gst_structure_take_value(s, "width", &width);
    GValue height = G_VALUE_INIT;
    g_value_init(&height, GST_TYPE_INT_RANGE);
    gst_value_set_int_range_step(&height, desc.dim_min.cy, desc.dim_max.cy,
                                 std::max(desc.dim_step.cy, 1));
    gst_structure_take_value(s, "height", &height);

    GValue rate = G_VALUE_INIT;
    if (set_gvalue_framerate_data(&rate, get_fps(img::make_img_type(desc.type, desc.dim_min))))
    {
        gst_structure_take_value(s, "framerate", &rate);
        gst_caps_append_structure(caps, s);
    }
    else
    {
        KLOG_WARN("Empty frame rate range data");
        gst_structure_free(s);
    }
}

} // namespace

const std::vector<img::dim>& get_standard_resolutions()
{
    static const std::vector<img::dim> resolutions = {
        {7680, 4800}, {7680, 4320}, {4096, 3072}, {3840, 2160}, {2560, 1440},
        {2048, 1536}, {1920, 1200}, {1920, 1080}, {1440, 1080}, {1280, 720},
        {960, 720},   {720, 480},   {640, 480},   {576, 480},   {544, 480},
        {360, 280},   {352, 288},   {320, 240},   {128, 96},
    };
    return resolutions;
}

bool set_gvalue_framerate_data(GValue* value, const korsa_cam::framerate_data& rates)
{
    if (rates.empty())
    {
        return false;
    }
    if (rates.size() == 1)
    {
        *value = to_fraction(rates.front());
        return true;
    }
    const auto [lo, hi] = std::minmax_element(rates.begin(), rates.end());
    if (!(*lo < *hi))
    {
        // A range needs two different ends; equal rates are one rate.
        *value = to_fraction(*lo);
        return true;
    }
    GValue min = to_fraction(*lo);
    GValue max = to_fraction(*hi);
    g_value_init(value, GST_TYPE_FRACTION_RANGE);
    gst_value_set_fraction_range(value, &min, &max);
    g_value_unset(&min);
    g_value_unset(&max);
    return true;
}

bool fill_structure_fixed_resolution(GstStructure* structure, const img::img_type& type,
                                     const fps_function& get_fps)
{
    GValue rate = G_VALUE_INIT;
    if (!set_gvalue_framerate_data(&rate, get_fps(type)))
    {
        KLOG_WARN("Empty frame rate range data");
        return false;
    }
    gst_structure_set(structure, "width", G_TYPE_INT, type.dim.cx, "height", G_TYPE_INT,
                      type.dim.cy, nullptr);
    gst_structure_take_value(structure, "framerate", &rate);
    return true;
}

GstCaps* convert_videoformatsdescription_to_caps(
    const std::vector<korsa_cam::stream_type_desc>& stream_types, const fps_function& get_fps)
{
    GstCaps* caps = gst_caps_new_empty();
    for (const auto& desc : stream_types)
    {
        const std::string caps_string = img_lib::gst::fourcc_to_gst_caps_string(desc.type);
        if (caps_string.empty())
        {
            KLOG_WARN("Format has empty caps string. Ignoring {}", img::fcc_to_string(desc.type));
            continue;
        }
        if (desc.dim_min == desc.dim_max)
        {
            append_fixed(caps, caps_string, desc.type, desc.dim_min, get_fps);
            continue;
        }
        for (const auto& size : sizes_for_range(desc))
        {
            append_fixed(caps, caps_string, desc.type, size, get_fps);
        }
        append_range(caps, caps_string, desc, get_fps);
    }
    return caps;
}

} // namespace gst_helper
