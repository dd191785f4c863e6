/* Lists every camera property of a velakorsasrc element through the VelaProp interface and
 * optionally sets one.
 *
 *   vela-prop-list [SERIAL] [NAME VALUE]
 *
 * SERIAL defaults to "virt" (the virtual camera). With NAME and VALUE the property is set
 * first: VALUE is parsed by the property's type ("true"/"false", an integer, a real number,
 * a menu entry text or index; any value presses a button). Exit status 0 on success. */
#include <gst/gst.h>
#include <vela_prop.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static gchar* value_text(const GValue* v)
{
    return G_IS_VALUE(v) ? g_strdup_value_contents(v) : g_strdup("-");
}

static void print_property(VelaProp* prop, const char* name)
{
    GValue value = G_VALUE_INIT, min = G_VALUE_INIT, max = G_VALUE_INIT, def = G_VALUE_INIT;
    GValue step = G_VALUE_INIT, type = G_VALUE_INIT, flags = G_VALUE_INIT;
    GValue category = G_VALUE_INIT, group = G_VALUE_INIT;

    if (!vela_prop_get_vela_property(prop, name, &value, &min, &max, &def, &step, &type, &flags,
                                     &category, &group))
    {
        printf("%-20s (unreadable)\n", name);
    }
    else
    {
        gchar* texts[5] = {value_text(&value), value_text(&min), value_text(&max), value_text(&def),
                           value_text(&step)};
        printf("%-20s type=%-8s value=%-12s min=%s max=%s default=%s step=%s flags=%d "
               "category=%s group=%s\n",
               name, g_value_get_string(&type), texts[0], texts[1], texts[2], texts[3], texts[4],
               g_value_get_int(&flags), g_value_get_string(&category), g_value_get_string(&group));
        for (int i = 0; i < 5; ++i)
        {
            g_free(texts[i]);
        }
        if (strcmp(g_value_get_string(&type), "enum") == 0)
        {
            GSList* entries = vela_prop_get_vela_menu_entries(prop, name);
            int index = 0;
            for (GSList* e = entries; e != NULL; e = e->next, ++index)
            {
                printf("%-20s   [%d] %s\n", "", index, (const char*)e->data);
            }
            g_slist_free_full(entries, g_free);
        }
    }
    GValue* all[] = {&value, &min, &max, &def, &step, &type, &flags, &category, &group};
    for (size_t i = 0; i < G_N_ELEMENTS(all); ++i)
    {
        if (G_IS_VALUE(all[i]))
        {
            g_value_unset(all[i]);
        }
    }
}

static gboolean set_property(VelaProp* prop, const char* name, const char* text)
{
    gchar* type = vela_prop_get_vela_property_type(prop, name);
    if (type == NULL)
    {
        fprintf(stderr, "no property '%s'\n", name);
        return FALSE;
    }
    GValue value = G_VALUE_INIT;
    char* end = NULL;
    if (strcmp(type, "boolean") == 0)
    {
        g_value_init(&value, G_TYPE_BOOLEAN);
        g_value_set_boolean(&value, strcmp(text, "true") == 0 || strcmp(text, "1") == 0);
    }
    else if (strcmp(type, "integer") == 0)
    {
        g_value_init(&value, G_TYPE_INT);
        g_value_set_int(&value, (gint)strtol(text, &end, 10));
    }
    else if (strcmp(type, "double") == 0)
    {
        g_value_init(&value, G_TYPE_DOUBLE);
        g_value_set_double(&value, strtod(text, &end));
    }
    else if (strcmp(type, "enum") == 0)
    {
        long index = strtol(text, &end, 10);
        if (end != text && *end == '\0')
        {
            g_value_init(&value, G_TYPE_INT);
            g_value_set_int(&value, (gint)index);
        }
        else
        {
            g_value_init(&value, G_TYPE_STRING);
            g_value_set_string(&value, text);
        }
        end = NULL;
    }
    else
    {
        g_value_init(&value, G_TYPE_BOOLEAN);
        g_value_set_boolean(&value, TRUE);
    }
    gboolean ok = (end == NULL || (end != text && *end == '\0')) &&
                  vela_prop_set_vela_property(prop, name, &value);
    printf("set %s = %s: %s\n", name, text, ok ? "ok" : "FAILED");
    g_value_unset(&value);
    g_free(type);
    return ok;
}

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    const char* serial = argc > 1 ? argv[1] : "virt";

    GstElement* src = gst_element_factory_make("velakorsasrc", NULL);
    if (src == NULL)
    {
        fprintf(stderr, "velakorsasrc not found; is GST_PLUGIN_PATH set?\n");
        return 2;
    }
    gst_object_ref_sink(src);
    g_object_set(src, "serial", serial, NULL);
    VelaProp* prop = VELA_PROP(src);

    int status = 0;
    if (argc > 3 && !set_property(prop, argv[2], argv[3]))
    {
        status = 1;
    }

    gchar* name = NULL;
    gchar* identifier = NULL;
    gchar* connection = NULL;
    if (vela_prop_get_vela_device_info(prop, serial, &name, &identifier, &connection))
    {
        printf("device %s: name=\"%s\" identifier=\"%s\" connection=%s\n", serial, name, identifier,
               connection);
    }
    else
    {
        printf("device %s: no device info\n", serial);
        status = 1;
    }
    g_free(name);
    g_free(identifier);
    g_free(connection);

    GSList* names = vela_prop_get_vela_property_names(prop);
    printf("%u properties\n", g_slist_length(names));
    for (GSList* n = names; n != NULL; n = n->next)
    {
        print_property(prop, (const char*)n->data);
    }
    g_slist_free_full(names, g_free);

    gst_object_unref(src);
    return status;
}
