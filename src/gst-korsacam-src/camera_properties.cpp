#include "camera_properties.h"

#include "vela_prop_impl.h"

#include <gst/gst.h>

#include <fmt/format.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace gst_korsa {
namespace {

struct structure_deleter
{
    void operator()(GstStructure* s) const { gst_structure_free(s); }
};
using structure_ptr = std::unique_ptr<GstStructure, structure_deleter>;

// A GValue that unsets itself.
class owned_value
{
public:
    owned_value() = default;
    ~owned_value()
    {
        if (G_IS_VALUE(&v_))
        {
            g_value_unset(&v_);
        }
    }
    owned_value(const owned_value&) = delete;
    owned_value& operator=(const owned_value&) = delete;
    GValue* get() { return &v_; }

private:
    GValue v_ = G_VALUE_INIT;
};

std::optional<structure_ptr> parse(const std::string& text)
{
    GstStructure* s = gst_structure_from_string(text.c_str(), nullptr);
    if (s == nullptr)
    {
        return std::nullopt;
    }
    return structure_ptr(s);
}

camera_property_problem unparsable(const std::string& text)
{
    return {"", fmt::format("cannot read '{}' as a structure such as "
                            "\"props,ExposureTime=10000.0,TriggerMode=On\"",
                            text)};
}

// A whole number from any numeric or text value; nothing when it is none or out of range.
std::optional<long long> as_whole(const GValue* v)
{
    const GType t = G_VALUE_TYPE(v);
    if (t == G_TYPE_INT)
    {
        return g_value_get_int(v);
    }
    if (t == G_TYPE_UINT)
    {
        return g_value_get_uint(v);
    }
    if (t == G_TYPE_INT64)
    {
        return g_value_get_int64(v);
    }
    if (t == G_TYPE_UINT64)
    {
        const guint64 u = g_value_get_uint64(v);
        return u <= static_cast<guint64>(LLONG_MAX)
                   ? std::optional<long long>(static_cast<long long>(u))
                   : std::nullopt;
    }
    if (t == G_TYPE_DOUBLE || t == G_TYPE_FLOAT)
    {
        const double d = t == G_TYPE_DOUBLE ? g_value_get_double(v) : g_value_get_float(v);
        // Only exact whole numbers well inside the range: 2.0 is 2, 2.5 is no integer.
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15)
        {
            return static_cast<long long>(d);
        }
        return std::nullopt;
    }
    if (t == G_TYPE_STRING && g_value_get_string(v) != nullptr)
    {
        const char* text = g_value_get_string(v);
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(text, &end, 10);
        if (end != text && *end == '\0' && errno == 0)
        {
            return n;
        }
    }
    return std::nullopt;
}

std::optional<double> as_real(const GValue* v)
{
    const GType t = G_VALUE_TYPE(v);
    if (t == G_TYPE_DOUBLE)
    {
        return g_value_get_double(v);
    }
    if (t == G_TYPE_FLOAT)
    {
        return g_value_get_float(v);
    }
    if (t == G_TYPE_STRING && g_value_get_string(v) != nullptr)
    {
        const char* text = g_value_get_string(v);
        char* end = nullptr;
        const double d = std::strtod(text, &end);
        if (end != text && *end == '\0')
        {
            return d;
        }
        return std::nullopt;
    }
    if (const auto n = as_whole(v))
    {
        return static_cast<double>(*n);
    }
    return std::nullopt;
}

std::optional<bool> as_bool(const GValue* v)
{
    if (G_VALUE_TYPE(v) == G_TYPE_BOOLEAN)
    {
        return g_value_get_boolean(v) != FALSE;
    }
    if (G_VALUE_TYPE(v) == G_TYPE_STRING && g_value_get_string(v) != nullptr)
    {
        const std::string text = g_value_get_string(v);
        if (text == "true")
        {
            return true;
        }
        if (text == "false")
        {
            return false;
        }
    }
    if (const auto n = as_whole(v); n && (*n == 0 || *n == 1))
    {
        return *n == 1;
    }
    return std::nullopt;
}

std::string value_text(const GValue* v)
{
    if (G_VALUE_HOLDS_DOUBLE(v))
    {
        return fmt::format("{}", g_value_get_double(v)); // 1.5, not GLib's 1.500000
    }
    gchar* text = g_strdup_value_contents(v);
    std::string out = text != nullptr ? text : "";
    g_free(text);
    return out;
}

std::string entries_text(const korsa_cam::property_desc& desc)
{
    std::string out;
    for (const char* e : desc.menu_entries)
    {
        out += out.empty() ? "" : ", ";
        out += e;
    }
    return out;
}

// Converts in to the exact kind write_property_value takes; the reason when it cannot.
std::optional<std::string> convert(const korsa_cam::property_desc& desc, const GValue* in,
                                   GValue* out)
{
    const std::string shown = value_text(in);
    switch (desc.type)
    {
    case korsa_cam::property_type::boolean:
        if (const auto b = as_bool(in))
        {
            g_value_init(out, G_TYPE_BOOLEAN);
            g_value_set_boolean(out, *b ? TRUE : FALSE);
            return std::nullopt;
        }
        return fmt::format("{} is not a boolean (true or false)", shown);
    case korsa_cam::property_type::integer:
        if (const auto n = as_whole(in); n && *n >= INT_MIN && *n <= INT_MAX)
        {
            g_value_init(out, G_TYPE_INT);
            g_value_set_int(out, static_cast<int>(*n));
            return std::nullopt;
        }
        return fmt::format("{} is not a 32-bit integer", shown);
    case korsa_cam::property_type::real:
        if (const auto d = as_real(in))
        {
            g_value_init(out, G_TYPE_DOUBLE);
            g_value_set_double(out, *d);
            return std::nullopt;
        }
        return fmt::format("{} is not a number", shown);
    case korsa_cam::property_type::button:
        if (const auto b = as_bool(in); b && *b)
        {
            g_value_init(out, G_TYPE_BOOLEAN);
            g_value_set_boolean(out, TRUE);
            return std::nullopt;
        }
        return fmt::format("a button takes only true (a press), not {}", shown);
    case korsa_cam::property_type::menu:
    {
        if (G_VALUE_TYPE(in) == G_TYPE_STRING && g_value_get_string(in) != nullptr && !as_whole(in))
        {
            const char* text = g_value_get_string(in);
            for (const char* e : desc.menu_entries)
            {
                if (std::strcmp(e, text) == 0)
                {
                    g_value_init(out, G_TYPE_STRING);
                    g_value_set_string(out, text);
                    return std::nullopt;
                }
            }
            return fmt::format("'{}' is not one of its entries ({})", text, entries_text(desc));
        }
        const auto n = as_whole(in);
        if (n && *n >= 0 && static_cast<std::size_t>(*n) < desc.menu_entries.size())
        {
            g_value_init(out, G_TYPE_INT);
            g_value_set_int(out, static_cast<int>(*n));
            return std::nullopt;
        }
        return fmt::format("{} is neither an entry ({}) nor an index below {}", shown,
                           entries_text(desc), desc.menu_entries.size());
    }
    }
    return std::string("its kind is unknown");
}

} // namespace

std::vector<camera_property_problem> check_camera_properties(const std::string& text)
{
    if (text.empty() || parse(text))
    {
        return {};
    }
    return {unparsable(text)};
}

std::vector<camera_property_problem> apply_camera_properties(device_state& ds,
                                                             const std::string& text)
{
    std::vector<camera_property_problem> problems;
    if (text.empty())
    {
        return problems;
    }
    const auto structure = parse(text);
    if (!structure)
    {
        problems.push_back(unparsable(text));
        return problems;
    }
    // Held for the whole run: a close on another thread cannot take the descriptors away.
    const auto list = ds.get_property_list();
    const int n = gst_structure_n_fields(structure->get());
    for (int i = 0; i < n; ++i)
    {
        const char* name = gst_structure_nth_field_name(structure->get(), static_cast<guint>(i));
        const GValue* in = gst_structure_get_value(structure->get(), name);
        const korsa_cam::property_desc* desc = find_property(list, name);
        if (desc == nullptr || !is_user_visible(*desc, ds.debug_properties_enabled))
        {
            problems.push_back({name, "the camera has no such property"});
            continue;
        }
        owned_value converted;
        if (const auto why = convert(*desc, in, converted.get()))
        {
            problems.push_back({name, *why});
            continue;
        }
        if (const std::error_code ec = write_property_value(ds, *desc, converted.get()))
        {
            problems.push_back(
                {name, fmt::format("the camera refused {}: {}", value_text(in), ec.message())});
        }
    }
    return problems;
}

std::string describe_camera_properties(device_state& ds)
{
    structure_ptr out(gst_structure_new_empty("props"));
    const auto list = ds.get_property_list();
    for (const auto& desc : *list)
    {
        if (!is_user_visible(desc, ds.debug_properties_enabled) ||
            desc.type == korsa_cam::property_type::button)
        {
            continue;
        }
        const auto v = ds.get_property(desc.name);
        if (!v)
        {
            continue; // unreadable now; the structure shows what can be read
        }
        owned_value value;
        switch (desc.type)
        {
        case korsa_cam::property_type::boolean:
            g_value_init(value.get(), G_TYPE_BOOLEAN);
            g_value_set_boolean(value.get(), v.value().as_bool() ? TRUE : FALSE);
            break;
        case korsa_cam::property_type::integer:
            g_value_init(value.get(), G_TYPE_INT);
            g_value_set_int(value.get(), v.value().as_int());
            break;
        case korsa_cam::property_type::real:
            g_value_init(value.get(), G_TYPE_DOUBLE);
            g_value_set_double(value.get(), v.value().as_double());
            break;
        case korsa_cam::property_type::menu:
        {
            const int index = v.value().as_int();
            if (index < 0 || static_cast<std::size_t>(index) >= desc.menu_entries.size())
            {
                continue; // a camera fault, not a value to show
            }
            g_value_init(value.get(), G_TYPE_STRING);
            g_value_set_string(value.get(), desc.menu_entries[static_cast<std::size_t>(index)]);
            break;
        }
        case korsa_cam::property_type::button:
            continue;
        }
        gst_structure_set_value(out.get(), desc.name.c_str(), value.get());
    }
    gchar* text = gst_structure_to_string(out.get());
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

} // namespace gst_korsa
