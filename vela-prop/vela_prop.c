#include "vela_prop.h"

/**
 * VelaProp:
 *
 * The camera property interface: list, read and write a camera's properties and identify
 * its device. Implemented by the velakorsasrc element.
 */

/**
 * VelaPropInterface:
 * @parent_iface: the parent interface
 * @get_vela_property_names: see vela_prop_get_vela_property_names()
 * @get_vela_property_type: see vela_prop_get_vela_property_type()
 * @get_vela_property: see vela_prop_get_vela_property()
 * @get_vela_menu_entries: see vela_prop_get_vela_menu_entries()
 * @set_vela_property: see vela_prop_set_vela_property()
 * @get_vela_device_serials: see vela_prop_get_vela_device_serials()
 * @get_vela_device_serials_backend: see vela_prop_get_vela_device_serials_backend()
 * @get_vela_device_info: see vela_prop_get_vela_device_info()
 *
 * The functions an implementing object fills.
 */

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

/**
 * vela_prop_get_vela_property_names:
 * @self: an object implementing #VelaProp
 *
 * Names of the properties a user may see, in the camera's order.
 *
 * Returns: (transfer full) (element-type utf8) (nullable): the names; free with
 *   g_slist_free_full (list, g_free). %NULL (the empty list) when @self has no camera.
 */
GSList* vela_prop_get_vela_property_names(VelaProp* self)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || iface->get_vela_property_names == NULL)
    {
        return NULL;
    }
    return iface->get_vela_property_names(self);
}

/**
 * vela_prop_get_vela_property_type:
 * @self: an object implementing #VelaProp
 * @name: a property name, as listed
 *
 * Returns: (transfer full) (nullable): "boolean", "integer", "double", "button" or "enum";
 *   %NULL for an unknown name.
 */
gchar* vela_prop_get_vela_property_type(VelaProp* self, const gchar* name)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || name == NULL || iface->get_vela_property_type == NULL)
    {
        return NULL;
    }
    return iface->get_vela_property_type(self, name);
}

/**
 * vela_prop_get_vela_property:
 * @self: an object implementing #VelaProp
 * @name: a property name, as listed
 * @value: (out caller-allocates) (optional): the current value
 * @min: (out caller-allocates) (optional): the smallest value
 * @max: (out caller-allocates) (optional): the largest value
 * @def: (out caller-allocates) (optional): the default value
 * @step: (out caller-allocates) (optional): the step between values
 * @type: (out caller-allocates) (optional): the type name (a string)
 * @flags: (out caller-allocates) (optional): the property's flags (an integer)
 * @category: (out caller-allocates) (optional): the category (a string)
 * @group: (out caller-allocates) (optional): the group (a string)
 *
 * Reads one property with its range and description. Each out-value given must be unset;
 * the callee initialises it and the caller unsets it.
 *
 * Returns: %TRUE on success; %FALSE (nothing filled) for an unknown name, an unreadable
 *   property, or an out-value that was already set.
 */
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

/**
 * vela_prop_get_vela_menu_entries:
 * @self: an object implementing #VelaProp
 * @name: the name of an "enum" property
 *
 * Returns: (transfer full) (element-type utf8) (nullable): the entry texts in index order;
 *   %NULL for an unknown name or a property without entries.
 */
GSList* vela_prop_get_vela_menu_entries(VelaProp* self, const gchar* name)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || name == NULL || iface->get_vela_menu_entries == NULL)
    {
        return NULL;
    }
    return iface->get_vela_menu_entries(self, name);
}

/**
 * vela_prop_set_vela_property:
 * @self: an object implementing #VelaProp
 * @name: a property name, as listed
 * @value: the new value: a boolean, integer or double by the property's type; for an
 *   "enum" the entry text or its index; a "button" accepts any value and is pressed
 *
 * Returns: %TRUE when the camera took the value.
 */
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

/**
 * vela_prop_get_vela_device_serials:
 * @self: an object implementing #VelaProp
 *
 * Returns: (transfer full) (element-type utf8) (nullable): the serials of the devices the
 *   object can open.
 */
GSList* vela_prop_get_vela_device_serials(VelaProp* self)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || iface->get_vela_device_serials == NULL)
    {
        return NULL;
    }
    return iface->get_vela_device_serials(self);
}

/**
 * vela_prop_get_vela_device_serials_backend:
 * @self: an object implementing #VelaProp
 *
 * Returns: (transfer full) (element-type utf8) (nullable): the same serials, each followed
 *   by "-" and the connection type.
 */
GSList* vela_prop_get_vela_device_serials_backend(VelaProp* self)
{
    VelaPropInterface* iface = get_iface(self);
    if (iface == NULL || iface->get_vela_device_serials_backend == NULL)
    {
        return NULL;
    }
    return iface->get_vela_device_serials_backend(self);
}

/**
 * vela_prop_get_vela_device_info:
 * @self: an object implementing #VelaProp
 * @serial: the serial of a device
 * @name: (out) (optional) (transfer full): the device's display name
 * @identifier: (out) (optional) (transfer full): a further identifier
 * @connection_type: (out) (optional) (transfer full): the connection type
 *
 * Returns: %TRUE when the device is known; the out-strings are then filled.
 */
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
