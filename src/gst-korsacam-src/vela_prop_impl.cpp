// The element's VelaProp functions: camera properties and device identity as GValues.

#include "vela_prop_impl.h"

#include "gst_src_impl.h"

#include <cstring>
#include <string>
#include <string_view>

namespace gst_korsa {
namespace {

const char* type_name(korsa_cam::property_type type)
{
    switch (type)
    {
    case korsa_cam::property_type::boolean:
        return "boolean";
    case korsa_cam::property_type::integer:
        return "integer";
    case korsa_cam::property_type::real:
        return "double";
    case korsa_cam::property_type::button:
        return "button";
    case korsa_cam::property_type::menu:
        return "enum";
    }
    return nullptr;
}

device_state* open_instance(VelaProp* self)
{
    if (!GST_IS_VELAKORSASRC(self))
    {
        return nullptr;
    }
    return get_open_device_instance(GST_VELAKORSASRC(self));
}

} // namespace

const korsa_cam::property_desc* find_property(const device_state::property_list& list,
                                              const char* name)
{
    if (name == nullptr)
    {
        return nullptr;
    }
    for (const auto& desc : *list)
    {
        if (desc.name == name)
        {
            return &desc;
        }
    }
    return nullptr;
}

bool is_user_visible(const korsa_cam::property_desc& desc, bool debug_enabled)
{
    if ((desc.flags & korsa_cam::property_flag_hidden) != 0)
    {
        return false;
    }
    return (desc.flags & korsa_cam::property_flag_debug) == 0 || debug_enabled;
}

namespace {

void set_string(GValue* out, const std::string& text)
{
    if (out != nullptr)
    {
        g_value_init(out, G_TYPE_STRING);
        g_value_set_string(out, text.c_str());
    }
}

void set_bool(GValue* out, bool v)
{
    if (out != nullptr)
    {
        g_value_init(out, G_TYPE_BOOLEAN);
        g_value_set_boolean(out, v ? TRUE : FALSE);
    }
}

void set_int(GValue* out, int v)
{
    if (out != nullptr)
    {
        g_value_init(out, G_TYPE_INT);
        g_value_set_int(out, v);
    }
}

void set_double(GValue* out, double v)
{
    if (out != nullptr)
    {
        g_value_init(out, G_TYPE_DOUBLE);
        g_value_set_double(out, v);
    }
}

GSList* gst_vela_src_get_property_names(VelaProp* self)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return nullptr;
    }
    GSList* names = nullptr;
    const auto list = ds->get_property_list();
    for (const auto& desc : *list)
    {
        if (!is_user_visible(desc, ds->debug_properties_enabled))
        {
            continue;
        }
        names = g_slist_append(names, g_strdup(desc.name.c_str()));
    }
    return names;
}

gchar* gst_vela_src_get_property_type(VelaProp* self, const gchar* name)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return nullptr;
    }
    const auto list = ds->get_property_list();
    const auto* desc = find_property(list, name);
    if (desc == nullptr)
    {
        return nullptr;
    }
    const char* type = type_name(desc->type);
    return type != nullptr ? g_strdup(type) : nullptr;
}

gboolean gst_vela_src_get_vela_property(VelaProp* self, const gchar* name, GValue* value,
                                        GValue* min, GValue* max, GValue* def, GValue* step,
                                        GValue* type, GValue* flags, GValue* category,
                                        GValue* group)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return FALSE;
    }
    const auto list = ds->get_property_list();
    const auto* desc = find_property(list, name);
    if (desc == nullptr)
    {
        GST_CAT_DEBUG(GST_CAT_DEFAULT, "no property with name: '%s'",
                      name != nullptr ? name : "(null)");
        return FALSE;
    }
    const char* tname = type_name(desc->type);
    if (tname == nullptr)
    {
        return FALSE;
    }

    set_string(category, desc->category.empty() ? "Unknown" : desc->category);
    set_string(group, desc->group.empty() ? "Unknown" : desc->group);
    set_string(type, tname);

    const auto range = ds->get_property_range(desc->name);
    if (!range)
    {
        return FALSE;
    }
    set_int(flags, range.value().flags);
    const korsa_cam::property_range& r = range.value();

    switch (desc->type)
    {
    case korsa_cam::property_type::boolean:
    {
        const auto v = ds->get_property(desc->name);
        if (!v)
        {
            return FALSE;
        }
        set_bool(value, v.value().as_bool());
        set_bool(min, r.min.as_bool());
        set_bool(max, r.max.as_bool());
        set_bool(def, r.default_value.as_bool());
        set_bool(step, r.step.as_bool());
        break;
    }
    case korsa_cam::property_type::integer:
    {
        const auto v = ds->get_property(desc->name);
        if (!v)
        {
            return FALSE;
        }
        set_int(value, v.value().as_int());
        set_int(min, r.min.as_int());
        set_int(max, r.max.as_int());
        set_int(def, r.default_value.as_int());
        set_int(step, r.step.as_int());
        break;
    }
    case korsa_cam::property_type::real:
    {
        const auto v = ds->get_property(desc->name);
        if (!v)
        {
            return FALSE;
        }
        set_double(value, v.value().as_double());
        set_double(min, r.min.as_double());
        set_double(max, r.max.as_double());
        set_double(def, r.default_value.as_double());
        set_double(step, r.step.as_double());
        break;
    }
    case korsa_cam::property_type::button:
        set_bool(value, false);
        set_bool(min, false);
        set_bool(max, false);
        set_bool(def, false);
        set_bool(step, false);
        break;
    case korsa_cam::property_type::menu:
    {
        const auto v = ds->get_property(desc->name);
        if (!v)
        {
            return FALSE;
        }
        // A camera answering with an index outside its own menu is a camera fault; refuse it
        // rather than read past the entry list.
        const int index = v.value().as_int();
        if (index < 0 || static_cast<std::size_t>(index) >= desc->menu_entries.size())
        {
            return FALSE;
        }
        if (value != nullptr)
        {
            g_value_init(value, G_TYPE_STRING);
            g_value_set_static_string(value, desc->menu_entries[static_cast<std::size_t>(index)]);
        }
        set_int(min, r.min.as_int());
        set_int(max, r.max.as_int());
        set_int(def, r.default_value.as_int());
        set_int(step, r.step.as_int());
        break;
    }
    }
    return TRUE;
}

GSList* gst_vela_src_get_menu_entries(VelaProp* self, const gchar* name)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return nullptr;
    }
    const auto list = ds->get_property_list();
    const auto* desc = find_property(list, name);
    if (desc == nullptr || desc->type != korsa_cam::property_type::menu)
    {
        return nullptr;
    }
    GSList* entries = nullptr;
    for (const char* entry : desc->menu_entries)
    {
        entries = g_slist_append(entries, g_strdup(entry));
    }
    return entries;
}

// The menu index a GValue selects: an exact entry text or an index in range.
bool menu_index(const korsa_cam::property_desc& desc, const GValue* value, int& index)
{
    if (value == nullptr)
    {
        return false;
    }
    if (G_VALUE_TYPE(value) == G_TYPE_STRING)
    {
        const char* text = g_value_get_string(value);
        if (text == nullptr)
        {
            return false;
        }
        for (std::size_t i = 0; i < desc.menu_entries.size(); ++i)
        {
            if (std::strcmp(desc.menu_entries[i], text) == 0)
            {
                index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }
    if (G_VALUE_TYPE(value) == G_TYPE_INT)
    {
        index = g_value_get_int(value);
        return index >= 0 && static_cast<std::size_t>(index) < desc.menu_entries.size();
    }
    return false;
}

} // namespace

std::error_code write_property_value(device_state& ds, const korsa_cam::property_desc& desc,
                                     const GValue* value)
{
    // The value must hold the property's type; anything else would make GLib read a field
    // that is not there.
    korsa_cam::prop_values cell;
    switch (desc.type)
    {
    case korsa_cam::property_type::boolean:
        if (value == nullptr || !G_VALUE_HOLDS_BOOLEAN(value))
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        cell = korsa_cam::prop_values::from_int64(g_value_get_boolean(value));
        break;
    case korsa_cam::property_type::integer:
        if (value == nullptr || !G_VALUE_HOLDS_INT(value))
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        cell = korsa_cam::prop_values::from_int64(g_value_get_int(value));
        break;
    case korsa_cam::property_type::real:
        if (value == nullptr || !G_VALUE_HOLDS_DOUBLE(value))
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        cell = korsa_cam::prop_values::from_double(g_value_get_double(value));
        break;
    case korsa_cam::property_type::button:
        cell = korsa_cam::prop_values::from_int64(1);
        break;
    case korsa_cam::property_type::menu:
    {
        int index = 0;
        if (!menu_index(desc, value, index))
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        cell = korsa_cam::prop_values::from_int64(index);
        break;
    }
    default:
        return std::make_error_code(std::errc::invalid_argument);
    }
    return ds.set_property(desc.name, cell);
}

namespace {

gboolean gst_vela_src_set_vela_property(VelaProp* self, const gchar* name, const GValue* value)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return FALSE;
    }
    const auto list = ds->get_property_list();
    const auto* desc = find_property(list, name);
    if (desc == nullptr)
    {
        return FALSE;
    }

    return write_property_value(*ds, *desc, value) ? FALSE : TRUE;
}

GSList* get_velaprop_device_serials(VelaProp* self)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return nullptr;
    }
    GSList* serials = nullptr;
    for (const auto& info : ds->get_device_list())
    {
        serials = g_slist_append(serials, g_strdup(info.serial.c_str()));
    }
    return serials;
}

GSList* get_velaprop_device_serials_backend(VelaProp* self)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr)
    {
        return nullptr;
    }
    GSList* serials = nullptr;
    for (const auto& info : ds->get_device_list())
    {
        const std::string text = info.serial + "-" + get_static_vela_device_connnection_type();
        serials = g_slist_append(serials, g_strdup(text.c_str()));
    }
    return serials;
}

gboolean get_velaprop_device_info(VelaProp* self, const gchar* serial, gchar** name,
                                  gchar** identifier, gchar** connection_type)
{
    device_state* ds = open_instance(self);
    if (ds == nullptr || serial == nullptr)
    {
        return FALSE;
    }
    const std::string_view full(serial);
    const auto dash = full.find('-');
    const std::string_view wanted = full.substr(0, dash);
    const std::string_view backend =
        dash == std::string_view::npos ? std::string_view{} : full.substr(dash + 1);

    for (const auto& info : ds->get_device_list())
    {
        if (info.serial != wanted)
        {
            continue;
        }
        if (!backend.empty() && backend != get_static_vela_device_connnection_type())
        {
            continue;
        }
        if (name != nullptr)
        {
            *name = g_strdup(info.name.c_str());
        }
        if (identifier != nullptr)
        {
            *identifier = g_strdup(info.identifier.c_str());
        }
        if (connection_type != nullptr)
        {
            *connection_type = g_strdup(get_static_vela_device_connnection_type());
        }
        return TRUE;
    }
    return FALSE;
}

} // namespace

void gst_vela_prop_init(VelaPropInterface* iface)
{
    iface->get_vela_property_names = gst_vela_src_get_property_names;
    iface->get_vela_property_type = gst_vela_src_get_property_type;
    iface->get_vela_property = gst_vela_src_get_vela_property;
    iface->get_vela_menu_entries = gst_vela_src_get_menu_entries;
    iface->set_vela_property = gst_vela_src_set_vela_property;
    iface->get_vela_device_serials = get_velaprop_device_serials;
    iface->get_vela_device_serials_backend = get_velaprop_device_serials_backend;
    iface->get_vela_device_info = get_velaprop_device_info;
}

void gst_vela_prop_interface_init(gpointer g_iface, gpointer /*iface_data*/)
{
    gst_vela_prop_init(static_cast<VelaPropInterface*>(g_iface));
}

} // namespace gst_korsa
