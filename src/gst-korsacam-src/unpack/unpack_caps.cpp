#include "unpack_caps.h"

#include <algorithm>
#include <string>
#include <vector>

namespace gst_korsa::unpack {
namespace {

using img_lib::unpack::errc;

// Formats of one media type, in the order they were found.
struct format_group
{
    std::string media_type;
    std::vector<std::string> formats;
};

std::vector<format_group> group_by_media_type(const std::vector<img::fourcc>& codes)
{
    std::vector<format_group> groups;
    for (const img::fourcc code : codes)
    {
        const auto name = caps_name_of(code);
        if (!name)
        {
            continue;
        }
        auto it = std::find_if(groups.begin(), groups.end(), [&](const format_group& g) {
            return g.media_type == name->media_type;
        });
        if (it == groups.end())
        {
            groups.push_back({name->media_type, {}});
            it = groups.end() - 1;
        }
        if (std::find(it->formats.begin(), it->formats.end(), name->format) == it->formats.end())
        {
            it->formats.push_back(name->format);
        }
    }
    return groups;
}

void set_formats(GstStructure* s, const std::vector<std::string>& formats)
{
    if (formats.size() == 1)
    {
        gst_structure_set(s, "format", G_TYPE_STRING, formats.front().c_str(), nullptr);
        return;
    }
    GValue list = G_VALUE_INIT;
    g_value_init(&list, GST_TYPE_LIST);
    for (const auto& f : formats)
    {
        GValue item = G_VALUE_INIT;
        g_value_init(&item, G_TYPE_STRING);
        g_value_set_string(&item, f.c_str());
        gst_value_list_append_and_take_value(&list, &item);
    }
    gst_structure_take_value(s, "format", &list);
}

// `s` under the group's media type and formats, the format first as caps usually read. Fields
// that describe one format's colour layout do not carry over to another format.
GstStructure* retarget(const GstStructure* s, const format_group& group)
{
    GstStructure* out = gst_structure_new_empty(group.media_type.c_str());
    set_formats(out, group.formats);
    gst_structure_foreach(
        s,
        [](GQuark field, const GValue* value, gpointer target) -> gboolean {
            const char* name = g_quark_to_string(field);
            if (g_strcmp0(name, "format") != 0 && g_strcmp0(name, "colorimetry") != 0 &&
                g_strcmp0(name, "chroma-site") != 0)
            {
                gst_structure_id_set_value(static_cast<GstStructure*>(target), field, value);
            }
            return TRUE;
        },
        out);
    return out;
}

GstCaps* template_caps(const std::vector<img::fourcc>& codes)
{
    GstCaps* caps = gst_caps_new_empty();
    for (const auto& group : group_by_media_type(codes))
    {
        GstStructure* s = gst_structure_new_empty(group.media_type.c_str());
        set_formats(s, group.formats);
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE,
                          1, G_MAXINT, "framerate", GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT, 1,
                          nullptr);
        gst_caps_append_structure(caps, s);
    }
    return caps;
}

std::vector<img::fourcc> all_input_codes()
{
    std::vector<img::fourcc> codes;
    for (const auto& f : input_formats())
    {
        codes.push_back(f.code);
    }
    return codes;
}

std::vector<img::fourcc> all_output_codes()
{
    std::vector<img::fourcc> codes;
    for (const auto& f : output_formats())
    {
        codes.push_back(f.code);
    }
    return codes;
}

// The format strings a structure names: one string, a list of strings, or, without a format
// field, nothing (`any` set: every format of the media type).
std::vector<std::string> named_formats(const GstStructure* s, bool& any)
{
    std::vector<std::string> out;
    any = false;
    const GValue* v = gst_structure_get_value(s, "format");
    if (v == nullptr)
    {
        any = true;
        return out;
    }
    if (G_VALUE_HOLDS_STRING(v))
    {
        if (const char* text = g_value_get_string(v); text != nullptr)
        {
            out.emplace_back(text);
        }
        return out;
    }
    if (GST_VALUE_HOLDS_LIST(v))
    {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i)
        {
            const GValue* item = gst_value_list_get_value(v, i);
            if (G_VALUE_HOLDS_STRING(item) && g_value_get_string(item) != nullptr)
            {
                out.emplace_back(g_value_get_string(item));
            }
        }
    }
    return out;
}

// Whether `code` is one of the formats the structure names.
bool names(const GstStructure* s, img::fourcc code)
{
    const auto name = caps_name_of(code);
    if (!name || !gst_structure_has_name(s, name->media_type.c_str()))
    {
        return false;
    }
    bool any = false;
    const auto formats = named_formats(s, any);
    return any || std::find(formats.begin(), formats.end(), name->format) != formats.end();
}

bool produces(const input_format& in, img::fourcc out)
{
    return std::find(in.outputs.begin(), in.outputs.end(), out) != in.outputs.end();
}

// Downstream codes for an upstream structure, in the order of the output table.
std::vector<img::fourcc> outputs_for(const GstStructure* s)
{
    std::vector<img::fourcc> codes;
    for (const auto& out : output_formats())
    {
        for (const auto& in : input_formats())
        {
            if (produces(in, out.code) && names(s, in.code))
            {
                codes.push_back(out.code);
                break;
            }
        }
    }
    return codes;
}

// Upstream codes for a downstream structure, in the order of the input table.
std::vector<img::fourcc> inputs_for(const GstStructure* s)
{
    std::vector<img::fourcc> codes;
    for (const auto& in : input_formats())
    {
        for (const img::fourcc out : in.outputs)
        {
            if (out != img::fourcc::FCC_NULL && names(s, out))
            {
                codes.push_back(in.code);
                break;
            }
        }
    }
    return codes;
}

bool system_memory(const GstCapsFeatures* features)
{
    return features == nullptr || gst_caps_features_is_any(features) ||
           gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY);
}

struct fixed_frame
{
    img::fourcc code = img::fourcc::FCC_NULL;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The format and size of the first structure of fixed caps; `code` stays FCC_NULL when the
// structure is none of this element's formats, width and height 0 when they are missing.
fixed_frame read_fixed(const GstCaps* caps, bool input)
{
    fixed_frame f;
    if (caps == nullptr || gst_caps_get_size(caps) == 0)
    {
        return f;
    }
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* format = gst_structure_get_string(s, "format");
    if (format == nullptr)
    {
        return f;
    }
    const char* media = gst_structure_get_name(s);
    f.code = input ? find_input_code(media, format) : find_output_code(media, format);
    gint w = 0;
    gint h = 0;
    if (gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h) && w > 0 &&
        h > 0)
    {
        f.width = static_cast<uint32_t>(w);
        f.height = static_cast<uint32_t>(h);
    }
    return f;
}

} // namespace

GstCaps* make_sink_template_caps()
{
    return template_caps(all_input_codes());
}

GstCaps* make_src_template_caps()
{
    return template_caps(all_output_codes());
}

GstCaps* transform_caps(GstPadDirection direction, GstCaps* caps, GstCaps* filter)
{
    const bool downstream = direction == GST_PAD_SINK;
    GstCaps* result = nullptr;
    if (gst_caps_is_any(caps))
    {
        result = downstream ? make_src_template_caps() : make_sink_template_caps();
    }
    else
    {
        result = gst_caps_new_empty();
        for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        {
            if (!system_memory(gst_caps_get_features(caps, i)))
            {
                continue;
            }
            const GstStructure* s = gst_caps_get_structure(caps, i);
            const auto codes = downstream ? outputs_for(s) : inputs_for(s);
            for (const auto& group : group_by_media_type(codes))
            {
                result = gst_caps_merge_structure(result, retarget(s, group));
            }
        }
    }
    if (filter != nullptr)
    {
        GstCaps* filtered = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = filtered;
    }
    return result;
}

GstCaps* fixate_src_caps(GstCaps* sink_caps, GstCaps* candidates)
{
    const GstStructure* in_s =
        gst_caps_get_size(sink_caps) > 0 ? gst_caps_get_structure(sink_caps, 0) : nullptr;
    const fixed_frame in = read_fixed(sink_caps, true);
    if (const input_format* format = find_input(in.code); format != nullptr && in_s != nullptr)
    {
        for (const img::fourcc out : format->outputs)
        {
            if (out == img::fourcc::FCC_NULL)
            {
                continue;
            }
            const auto groups = group_by_media_type({out});
            if (groups.empty())
            {
                continue;
            }
            GstCaps* wanted = gst_caps_new_full(retarget(in_s, groups.front()), nullptr);
            GstCaps* allowed =
                gst_caps_intersect_full(wanted, candidates, GST_CAPS_INTERSECT_FIRST);
            gst_caps_unref(wanted);
            if (!gst_caps_is_empty(allowed))
            {
                gst_caps_unref(candidates);
                return gst_caps_fixate(allowed);
            }
            gst_caps_unref(allowed);
        }
    }
    return gst_caps_fixate(candidates);
}

korsa_cam::result<unpack_plan> make_plan(const GstCaps* in_caps, const GstCaps* out_caps)
{
    const fixed_frame in = read_fixed(in_caps, true);
    const fixed_frame out = read_fixed(out_caps, false);
    const input_format* in_format = find_input(in.code);
    const output_format* out_format = find_output(out.code);
    if (in_format == nullptr || out_format == nullptr || !produces(*in_format, out.code))
    {
        return make_error_code(errc::unsupported_format);
    }
    if (in.width == 0 || in.height == 0)
    {
        return make_error_code(errc::zero_size);
    }
    if (out.width != in.width || out.height != in.height)
    {
        return make_error_code(errc::unsupported_format);
    }
    unpack_plan plan;
    plan.in = in_format;
    plan.out = out_format;
    plan.width = in.width;
    plan.height = in.height;
    const auto in_line = img_lib::unpack::packed_line_bytes(in_format->packing, in.width);
    const auto in_frame =
        in_line ? img_lib::unpack::frame_bytes(*in_line, *in_line, in.height) : std::nullopt;
    const auto out_stride = output_stride(*out_format, in.width);
    const auto out_frame = out_stride
                               ? img_lib::unpack::frame_bytes(*out_stride, *out_stride, in.height)
                               : std::nullopt;
    if (!in_frame || !out_frame)
    {
        return make_error_code(errc::size_overflow);
    }
    plan.in_line_bytes = *in_line;
    plan.in_frame_bytes = *in_frame;
    plan.out_stride = *out_stride;
    plan.out_frame_bytes = *out_frame;
    return plan;
}

std::optional<size_t> caps_frame_bytes(const GstCaps* caps)
{
    if (const fixed_frame in = read_fixed(caps, true); const auto* f = find_input(in.code))
    {
        const auto line = img_lib::unpack::packed_line_bytes(f->packing, in.width);
        return line && in.height > 0 ? img_lib::unpack::frame_bytes(*line, *line, in.height)
                                     : std::nullopt;
    }
    if (const fixed_frame out = read_fixed(caps, false); const auto* f = find_output(out.code))
    {
        const auto stride = output_stride(*f, out.width);
        return stride && out.height > 0 ? img_lib::unpack::frame_bytes(*stride, *stride, out.height)
                                        : std::nullopt;
    }
    return std::nullopt;
}

} // namespace gst_korsa::unpack
