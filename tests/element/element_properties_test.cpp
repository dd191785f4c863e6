#include "gst_src_impl.h"
#include "test_support.h"
#include "vela_prop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using test_support::make_src;
using test_support::pop_errors;

namespace {

GParamSpec* find_prop(GstElement* e, const char* name)
{
    return g_object_class_find_property(G_OBJECT_GET_CLASS(e), name);
}

constexpr GParamFlags rw = G_PARAM_READWRITE;

struct expected_spec
{
    const char* name;
    GType type;
    const char* nick;
    const char* blurb;
    bool construct;
};

// Collects GObject's own warnings (range checks) instead of printing them.
struct gobject_warnings
{
    std::vector<std::string> messages;
    guint handler = 0;
    gobject_warnings()
    {
        handler = g_log_set_handler(
            "GLib-GObject", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
            [](const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
                static_cast<gobject_warnings*>(self)->messages.emplace_back(message);
            },
            this);
    }
    ~gobject_warnings() { g_log_remove_handler("GLib-GObject", handler); }
};

} // namespace

TEST(ElementRegistration, MetadataPadTemplateAndFactory)
{
    GstElementFactory* factory = gst_element_factory_find("velakorsasrc");
    ASSERT_NE(factory, nullptr);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
                 "Korsa Cam Video Source");
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS),
                 "Source/Video");
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_DESCRIPTION),
                 "Korsa Cam based source");
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE);

    const GList* templates = gst_element_factory_get_static_pad_templates(factory);
    ASSERT_EQ(g_list_length(const_cast<GList*>(templates)), 1u);
    auto* tmpl = static_cast<GstStaticPadTemplate*>(templates->data);
    EXPECT_STREQ(tmpl->name_template, "src");
    EXPECT_EQ(tmpl->direction, GST_PAD_SRC);
    EXPECT_EQ(tmpl->presence, GST_PAD_ALWAYS);
    EXPECT_STREQ(tmpl->static_caps.string, "ANY");
    gst_object_unref(factory);

    const GstPluginDesc* desc = gst_velakorsasrc_plugin_desc();
    EXPECT_STREQ(desc->name, "velakorsasrc");
    EXPECT_STREQ(desc->description, "velakorsa Video Source");
    EXPECT_STREQ(desc->version, "1.2.0");
    EXPECT_STREQ(desc->source, "velakorsa");
    EXPECT_STREQ(desc->package, "velakorsa");
    EXPECT_EQ(desc->major_version, 1);
    EXPECT_EQ(desc->minor_version, 14);

    GType type = g_type_from_name("GstVelaKorsaSrc");
    ASSERT_NE(type, G_TYPE_INVALID);
    EXPECT_TRUE(g_type_is_a(type, GST_TYPE_PUSH_SRC));
    EXPECT_TRUE(g_type_is_a(type, VELA_TYPE_PROP));
    EXPECT_NE(_gst_debug_get_category("velakorsasrc"), nullptr);
}

TEST(ElementProperties, TextsTypesAndFlagsAreExact)
{
    GstElement* e = make_src();
    ASSERT_NE(e, nullptr);

    const expected_spec specs[] = {
        {"serial", G_TYPE_STRING, "Camera serial", "Serial of the camera", false},
        {"type", G_TYPE_STRING, "velaprop device connection type",
         "VelaProp::get_vela_device_info based device connection type", false},
        {"max-queued-gst-buffers", G_TYPE_INT, "Number of buffers queued in gst",
         "To prevent hardware buffer underruns, this number of hardware buffers can be queued in "
         "gstreamer. If you see source buffer drops, increase this or prevent too many pending "
         "buffers.",
         false},
        {"do-timestamp", G_TYPE_BOOLEAN, "Do timestamp", "Apply current stream time to buffers",
         true},
        {"drop-incomplete-buffer", G_TYPE_BOOLEAN, "Drop incomplete buffers",
         "Drop all buffers that are incomplete.", false},
        {"show-overlay", G_TYPE_BOOLEAN, "Show overlay", "Enable/Disable frameinfo overlay.", true},
    };
    for (const auto& s : specs)
    {
        GParamSpec* p = find_prop(e, s.name);
        ASSERT_NE(p, nullptr) << s.name;
        EXPECT_EQ(G_PARAM_SPEC_VALUE_TYPE(p), s.type) << s.name;
        EXPECT_STREQ(g_param_spec_get_nick(p), s.nick);
        EXPECT_STREQ(g_param_spec_get_blurb(p), s.blurb);
        EXPECT_EQ(p->flags & rw, rw) << s.name;
        EXPECT_EQ((p->flags & G_PARAM_CONSTRUCT) != 0, s.construct) << s.name;
        EXPECT_EQ(p->owner_type, GST_TYPE_VELAKORSASRC) << s.name;
    }

    auto* queued = G_PARAM_SPEC_INT(find_prop(e, "max-queued-gst-buffers"));
    EXPECT_EQ(queued->minimum, 0);
    EXPECT_EQ(queued->maximum, 256);
    EXPECT_EQ(queued->default_value, 2);
    EXPECT_TRUE(G_PARAM_SPEC_BOOLEAN(find_prop(e, "drop-incomplete-buffer"))->default_value);
    EXPECT_TRUE(G_PARAM_SPEC_BOOLEAN(find_prop(e, "do-timestamp"))->default_value);
    EXPECT_EQ(G_PARAM_SPEC_STRING(find_prop(e, "serial"))->default_value, nullptr);

    // Without the debug switch the register access properties do not exist.
    EXPECT_EQ(find_prop(e, "sensor-debug-addr"), nullptr);
    EXPECT_EQ(find_prop(e, "sensor-debug-value"), nullptr);
    gst_object_unref(e);
}

TEST(ElementProperties, FreshElementDefaults)
{
    GstElement* e = make_src();
    gchar* serial = nullptr;
    gchar* type = nullptr;
    gint queued = -1;
    gboolean drop = TRUE, overlay = TRUE, do_ts = FALSE;
    g_object_get(e, "serial", &serial, "type", &type, "max-queued-gst-buffers", &queued,
                 "drop-incomplete-buffer", &drop, "show-overlay", &overlay, "do-timestamp", &do_ts,
                 nullptr);
    EXPECT_STREQ(serial, "");
    EXPECT_STREQ(type, "korsa");
    EXPECT_EQ(queued, 2);
    // Declared TRUE but not a construct property: a new element really drops nothing.
    EXPECT_FALSE(drop);
    EXPECT_FALSE(overlay);
    EXPECT_TRUE(do_ts);
    EXPECT_TRUE(gst_base_src_is_live(GST_BASE_SRC(e)));
    g_free(serial);
    g_free(type);
    gst_object_unref(e);
}

TEST(ElementProperties, SwitchesWriteThroughToTheDeviceState)
{
    GstElement* e = make_src();
    auto* src = GST_VELAKORSASRC(e);
    g_object_set(e, "drop-incomplete-buffer", TRUE, "show-overlay", TRUE, "max-queued-gst-buffers",
                 7, "do-timestamp", FALSE, nullptr);
    EXPECT_TRUE(src->device_state.drop_incomplete);
    EXPECT_TRUE(src->device_state.show_overlay);
    EXPECT_EQ(src->device_state.max_queued_buffers, 7);
    EXPECT_FALSE(gst_base_src_get_do_timestamp(GST_BASE_SRC(e)));
    gst_object_unref(e);
}

TEST(ElementProperties, TypeAcceptsOnlyTheConnectionType)
{
    GstElement* e = make_src();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(e, bus);

    g_object_set(e, "type", "korsa", nullptr);
    EXPECT_TRUE(pop_errors(bus).empty());

    for (const char* bad : {"usb", "KORSA", static_cast<const char*>(nullptr)})
    {
        g_object_set(e, "type", bad, nullptr);
        auto errors = pop_errors(bus);
        ASSERT_EQ(errors.size(), 1u) << (bad ? bad : "NULL");
        EXPECT_EQ(errors[0].domain, GST_RESOURCE_ERROR);
        EXPECT_EQ(errors[0].code, GST_RESOURCE_ERROR_WRITE);
        EXPECT_EQ(errors[0].text, "Invalid property 'type' parameter");
        // Nothing is stored: it still reads the connection type.
        gchar* type = nullptr;
        g_object_get(e, "type", &type, nullptr);
        EXPECT_STREQ(type, "korsa");
        g_free(type);
    }
    gst_element_set_bus(e, nullptr);
    gst_object_unref(bus);
    gst_object_unref(e);
}

TEST(ElementProperties, QueuedBuffersOutOfRangeIsRefusedByGObject)
{
    GstElement* e = make_src();
    {
        gobject_warnings warnings;
        g_object_set(e, "max-queued-gst-buffers", 257, nullptr);
        g_object_set(e, "max-queued-gst-buffers", -1, nullptr);
        EXPECT_EQ(warnings.messages.size(), 2u);
    }
    gint queued = 0;
    g_object_get(e, "max-queued-gst-buffers", &queued, nullptr);
    EXPECT_EQ(queued, 2);
    g_object_set(e, "max-queued-gst-buffers", 256, nullptr);
    g_object_get(e, "max-queued-gst-buffers", &queued, nullptr);
    EXPECT_EQ(queued, 256);
    gst_object_unref(e);
}

TEST(ElementProperties, EmptyOrNullSerialLeavesNoCamera)
{
    GstElement* e = make_src();
    g_object_set(e, "serial", nullptr, nullptr);
    g_object_set(e, "serial", "", nullptr);
    gchar* serial = nullptr;
    g_object_get(e, "serial", &serial, nullptr);
    EXPECT_STREQ(serial, "");
    g_free(serial);
    EXPECT_FALSE(GST_VELAKORSASRC(e)->device_state.is_open());
    gst_object_unref(e);
}

TEST(EnvSwitch, ShowOverlayDefault)
{
    const char* expected = std::getenv("EXPECT_SHOW_OVERLAY");
    ASSERT_NE(expected, nullptr) << "run through ctest, which sets the switch";
    GstElement* e = make_src();
    gboolean overlay = FALSE;
    g_object_get(e, "show-overlay", &overlay, nullptr);
    EXPECT_EQ(overlay != FALSE, std::string(expected) == "1");
    EXPECT_EQ(GST_VELAKORSASRC(e)->device_state.show_overlay, std::string(expected) == "1");
    gst_object_unref(e);
}

TEST(EnvSwitch, DebugProperties)
{
    GstElement* e = make_src();
    GParamSpec* addr = find_prop(e, "sensor-debug-addr");
    GParamSpec* value = find_prop(e, "sensor-debug-value");
    ASSERT_NE(addr, nullptr);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(g_param_spec_get_nick(addr), "Sensor Register Address");
    EXPECT_STREQ(g_param_spec_get_blurb(addr), "Sensor Register Address for read/write operation");
    EXPECT_EQ(G_PARAM_SPEC_INT(addr)->maximum, 65535);
    EXPECT_TRUE(addr->flags & G_PARAM_CONSTRUCT);
    EXPECT_STREQ(g_param_spec_get_nick(value), "Sensor Register Value");
    EXPECT_STREQ(g_param_spec_get_blurb(value), "Sensor Register Value");
    EXPECT_EQ(G_PARAM_SPEC_INT(value)->maximum, 255);
    EXPECT_FALSE(value->flags & G_PARAM_CONSTRUCT);
    EXPECT_TRUE(GST_VELAKORSASRC(e)->device_state.debug_properties_enabled);

    // Without a camera the register value reads -1 and writing it does nothing.
    g_object_set(e, "sensor-debug-addr", 0x3000, "sensor-debug-value", 5, nullptr);
    gint addr_v = 0, value_v = 0;
    g_object_get(e, "sensor-debug-addr", &addr_v, "sensor-debug-value", &value_v, nullptr);
    EXPECT_EQ(addr_v, 0x3000);
    EXPECT_EQ(value_v, -1);
    gst_object_unref(e);
}
