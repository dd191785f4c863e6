/* VelaProp: a GObject interface through which applications list, read and write the
 * properties of a camera object and identify its device.
 *
 * An object (for example the velakorsasrc element) implements the interface by filling
 * the eight functions of VelaPropInterface. Applications call the vela_prop_* wrappers
 * below; every wrapper checks its arguments and returns its failure value (NULL, FALSE or
 * an empty list) for a NULL or non-implementing object, a NULL name or an empty slot, so a
 * mistake in the calling program never crashes it.
 *
 * Ownership: returned strings and lists are newly allocated and belong to the caller;
 * free a list of strings with g_slist_free_full (list, g_free). Out GValues must be passed
 * unset (G_VALUE_INIT); the callee initialises each one it fills, and the caller unsets it.
 */
#ifndef VELA_PROP_H
#define VELA_PROP_H

#include <glib-object.h>

G_BEGIN_DECLS

#define VELA_TYPE_PROP (vela_prop_get_type())
G_DECLARE_INTERFACE(VelaProp, vela_prop, VELA, PROP, GObject)

struct _VelaPropInterface
{
    GTypeInterface parent_iface;

    /* Names of the properties a user may see, in the camera's order. */
    GSList* (*get_vela_property_names)(VelaProp* self);
    /* "boolean", "integer", "double", "button" or "enum"; NULL for an unknown name. */
    gchar* (*get_vela_property_type)(VelaProp* self, const gchar* name);
    /* Value, range, type name, flags, category and group of one property. */
    gboolean (*get_vela_property)(VelaProp* self, const gchar* name, GValue* value, GValue* min,
                                  GValue* max, GValue* def, GValue* step, GValue* type,
                                  GValue* flags, GValue* category, GValue* group);
    /* Entry texts of a menu ("enum") property, in index order. */
    GSList* (*get_vela_menu_entries)(VelaProp* self, const gchar* name);
    /* Sets a property; an "enum" takes its entry text or its index. */
    gboolean (*set_vela_property)(VelaProp* self, const gchar* name, const GValue* value);
    /* Serials of the devices the object can open. */
    GSList* (*get_vela_device_serials)(VelaProp* self);
    /* The same serials, each followed by "-" and the connection type. */
    GSList* (*get_vela_device_serials_backend)(VelaProp* self);
    /* Name, identifier and connection type of the device with this serial. */
    gboolean (*get_vela_device_info)(VelaProp* self, const gchar* serial, gchar** name,
                                     gchar** identifier, gchar** connection_type);
};

GSList* vela_prop_get_vela_property_names(VelaProp* self);

gchar* vela_prop_get_vela_property_type(VelaProp* self, const gchar* name);

/* Any of the nine out-values may be NULL; those given must be unset, otherwise the call
 * fails without touching them. */
gboolean vela_prop_get_vela_property(VelaProp* self, const gchar* name, GValue* value, GValue* min,
                                     GValue* max, GValue* def, GValue* step, GValue* type,
                                     GValue* flags, GValue* category, GValue* group);

GSList* vela_prop_get_vela_menu_entries(VelaProp* self, const gchar* name);

/* value must be initialised with the property's type: gboolean, gint, gdouble; for an
 * "enum" a string (exact entry text) or a gint (index); a "button" accepts any value. */
gboolean vela_prop_set_vela_property(VelaProp* self, const gchar* name, const GValue* value);

GSList* vela_prop_get_vela_device_serials(VelaProp* self);

GSList* vela_prop_get_vela_device_serials_backend(VelaProp* self);

/* name, identifier and connection_type may each be NULL; those given receive newly
 * allocated strings on success. */
gboolean vela_prop_get_vela_device_info(VelaProp* self, const gchar* serial, gchar** name,
                                        gchar** identifier, gchar** connection_type);

G_END_DECLS

#endif /* VELA_PROP_H */
