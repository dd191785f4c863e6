#include "vela_prop.h"

G_DEFINE_INTERFACE(VelaProp, vela_prop, G_TYPE_OBJECT)

static void vela_prop_default_init(VelaPropInterface* iface)
{
    (void)iface;
}

/* The interface of an implementing object, or NULL. Deliberately quiet: a wrong object is
 * the caller's mistake and is answered with the failure value, not a critical. */
static VelaPropInterface* get_iface(VelaProp* self)
{
    if (self == NULL || !G_TYPE_CHECK_INSTANCE_TYPE(self, VELA_TYPE_PROP))
    {
        return NULL;
    }
    return VELA_PROP_GET_IFACE(self);
}

static gboolean is_unset_or_null(const GValue* v)
{
    return v == NULL || G_VALUE_TYPE(v) == G_TYPE_INVALID;
}

GSList* vela_prop_get_vela_property_names(VelaProp* self)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || iface->get_vela_property_names == NULL)
    {
        return NULL;
    }
    return iface->get_vela_property_names(self);
}

gchar* vela_prop_get_vela_property_type(VelaProp* self, const gchar* name)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || name == NULL || iface->get_vela_property_type == NULL)
    {
        return NULL;
    }
    return iface->get_vela_property_type(self, name);
}

gboolean vela_prop_get_vela_property(VelaProp* self, const gchar* name, GValue* value, GValue* min,
                                     GValue* max, GValue* def, GValue* step, GValue* type,
                                     GValue* flags, GValue* category, GValue* group)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || name == NULL || iface->get_vela_property == NULL)
    {
        return FALSE;
    }
    const GValue* outs[] = {value, min, max, def, step, type, flags, category, group};
    for (gsize i = 0; i < G_N_ELEMENTS(outs); ++i)
    {
        if (!is_unset_or_null(outs[i]))
        {
            return FALSE;
        }
    }
    return iface->get_vela_property(self, name, value, min, max, def, step, type, flags, category,
                                    group);
}

GSList* vela_prop_get_vela_menu_entries(VelaProp* self, const gchar* name)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || name == NULL || iface->get_vela_menu_entries == NULL)
    {
        return NULL;
    }
    return iface->get_vela_menu_entries(self, name);
}

gboolean vela_prop_set_vela_property(VelaProp* self, const gchar* name, const GValue* value)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || name == NULL || value == NULL || !G_IS_VALUE(value) ||
        iface->set_vela_property == NULL)
    {
        return FALSE;
    }
    return iface->set_vela_property(self, name, value);
}

GSList* vela_prop_get_vela_device_serials(VelaProp* self)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || iface->get_vela_device_serials == NULL)
    {
        return NULL;
    }
    return iface->get_vela_device_serials(self);
}

GSList* vela_prop_get_vela_device_serials_backend(VelaProp* self)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || iface->get_vela_device_serials_backend == NULL)
    {
        return NULL;
    }
    return iface->get_vela_device_serials_backend(self);
}

gboolean vela_prop_get_vela_device_info(VelaProp* self, const gchar* serial, gchar** name,
                                        gchar** identifier, gchar** connection_type)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || serial == NULL || iface->get_vela_device_info == NULL)
    {
        return FALSE;
    }
    return iface->get_vela_device_info(self, serial, name, identifier, connection_type);
}
