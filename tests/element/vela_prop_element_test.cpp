// The element's property interface: camera properties and device identity through VelaProp.
#include "fake_camera.h"
#include "gst_src_impl.h"
#include "test_support.h"
#include "vela_prop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using test_support::make_src;
using test_support::pop_errors;

namespace {

std::vector<std::string> to_vector(GSList* list)
{
    std::vector<std::string> out;
    for (GSList* l = list; l != nullptr; l = l->next)
    {
        out.emplace_back(static_cast<const char*>(l->data));
    }
    g_slist_free_full(list, g_free);
    return out;
}

struct out_values
{
    GValue v[9] = {G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT,
                   G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT};
    GValue& value = v[0];
    GValue& min = v[1];
    GValue& max = v[2];
    GValue& def = v[3];
    GValue& step = v[4];
    GValue& type = v[5];
    GValue& flags = v[6];
    GValue& category = v[7];
    GValue& group = v[8];
    ~out_values()
    {
        for (auto& x : v)
        {
            if (G_IS_VALUE(&x))
            {
                g_value_unset(&x);
            }
        }
    }
    gboolean get(VelaProp* p, const char* name)
    {
        return vela_prop_get_vela_property(p, name, &value, &min, &max, &def, &step, &type, &flags,
                                           &category, &group);
    }
};

// An element on the virtual camera.
struct virt_element
{
    GstElement* e = make_src();
    virt_element() { g_object_set(e, "serial", "virt", nullptr); }
    ~virt_element() { gst_object_unref(e); }
    VelaProp* prop() const { return VELA_PROP(e); }
    GstVelaKorsaSrc* src() const { return GST_VELAKORSASRC(e); }
};

// An element whose open camera is the property test camera.
struct fake_element : virt_element
{
    std::shared_ptr<test_support::property_camera> cam =
        std::make_shared<test_support::property_camera>();
    fake_element()
    {
        auto camera = cam;
        test_support::use_opener(
            e, [camera](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
                return korsa_cam::camera_create_info{camera, "FAKE01"};
            });
        g_object_set(e, "serial", "FAKE01", nullptr);
    }
};

gboolean set_int(VelaProp* p, const char* name, int v)
{
    GValue g = G_VALUE_INIT;
    g_value_init(&g, G_TYPE_INT);
    g_value_set_int(&g, v);
    const gboolean ok = vela_prop_set_vela_property(p, name, &g);
    g_value_unset(&g);
    return ok;
}

gboolean set_string(VelaProp* p, const char* name, const char* v)
{
    GValue g = G_VALUE_INIT;
    g_value_init(&g, G_TYPE_STRING);
    g_value_set_string(&g, v);
    const gboolean ok = vela_prop_set_vela_property(p, name, &g);
    g_value_unset(&g);
    return ok;
}

} // namespace

TEST(VelaPropElement, VirtualCameraListsItsPropertiesWithoutDebugOnes)
{
    virt_element t;
    EXPECT_EQ(to_vector(vela_prop_get_vela_property_names(t.prop())),
              (std::vector<std::string>{"ExposureTime", "Gain", "Stripes"}));
    gchar* type = vela_prop_get_vela_property_type(t.prop(), "ShowOverlay");
    EXPECT_STREQ(type, "boolean"); // hidden from the list, still reachable by name
    g_free(type);
    type = vela_prop_get_vela_property_type(t.prop(), "ExposureTime");
    EXPECT_STREQ(type, "double");
    g_free(type);
    EXPECT_EQ(vela_prop_get_vela_property_type(t.prop(), "exposuretime"), nullptr);
}

TEST(VelaPropElement, RealPropertyRoundTripsWithItsRange)
{
    virt_element t;
    GValue v = G_VALUE_INIT;
    g_value_init(&v, G_TYPE_DOUBLE);
    g_value_set_double(&v, 1234.5);
    ASSERT_TRUE(vela_prop_set_vela_property(t.prop(), "ExposureTime", &v));
    g_value_unset(&v);

    out_values o;
    ASSERT_TRUE(o.get(t.prop(), "ExposureTime"));
    EXPECT_DOUBLE_EQ(g_value_get_double(&o.value), 1234.5);
    EXPECT_DOUBLE_EQ(g_value_get_double(&o.min), 10.0);
    EXPECT_DOUBLE_EQ(g_value_get_double(&o.max), 1000000.0);
    EXPECT_DOUBLE_EQ(g_value_get_double(&o.def), 33000.0);
    EXPECT_DOUBLE_EQ(g_value_get_double(&o.step), 1.0);
    EXPECT_STREQ(g_value_get_string(&o.type), "double");
    EXPECT_EQ(g_value_get_int(&o.flags), 0);
    EXPECT_STREQ(g_value_get_string(&o.category), "Exposure");
    EXPECT_STREQ(g_value_get_string(&o.group), "ExposureTime");
}

TEST(VelaPropElement, EmptyCategoryAndGroupReadUnknown)
{
    virt_element t;
    out_values o;
    ASSERT_TRUE(o.get(t.prop(), "Stripes"));
    EXPECT_STREQ(g_value_get_string(&o.category), "Unknown");
    EXPECT_STREQ(g_value_get_string(&o.group), "Unknown");
    EXPECT_STREQ(g_value_get_string(&o.type), "boolean");
    EXPECT_FALSE(g_value_get_boolean(&o.value));
    EXPECT_TRUE(g_value_get_boolean(&o.max));
}

TEST(VelaPropElement, ShowOverlaySwitchesTheOverlay)
{
    virt_element t;
    GValue v = G_VALUE_INIT;
    g_value_init(&v, G_TYPE_BOOLEAN);
    g_value_set_boolean(&v, TRUE);
    ASSERT_TRUE(vela_prop_set_vela_property(t.prop(), "ShowOverlay", &v));
    g_value_unset(&v);
    gboolean overlay = FALSE;
    g_object_get(t.e, "show-overlay", &overlay, nullptr);
    EXPECT_TRUE(overlay);
    out_values o;
    ASSERT_TRUE(o.get(t.prop(), "ShowOverlay"));
    EXPECT_TRUE(g_value_get_boolean(&o.value));
    EXPECT_EQ(g_value_get_int(&o.flags), 0);
}

TEST(VelaPropElement, DeviceSerialsAndInfoWithBackend)
{
    virt_element t;
    EXPECT_EQ(to_vector(vela_prop_get_vela_device_serials(t.prop())),
              (std::vector<std::string>{"virt"}));
    EXPECT_EQ(to_vector(vela_prop_get_vela_device_serials_backend(t.prop())),
              (std::vector<std::string>{"virt-korsa"}));

    gchar *name = nullptr, *identifier = nullptr, *connection = nullptr;
    ASSERT_TRUE(vela_prop_get_vela_device_info(t.prop(), "virt", &name, &identifier, &connection));
    EXPECT_STREQ(name, "Virtual camera device");
    EXPECT_STREQ(identifier, "virt");
    EXPECT_STREQ(connection, "korsa");
    g_free(name);
    g_free(identifier);
    g_free(connection);

    EXPECT_TRUE(vela_prop_get_vela_device_info(t.prop(), "virt-korsa", nullptr, nullptr, nullptr));
    EXPECT_FALSE(vela_prop_get_vela_device_info(t.prop(), "virt-other", nullptr, nullptr, nullptr));
    EXPECT_FALSE(vela_prop_get_vela_device_info(t.prop(), "other", nullptr, nullptr, nullptr));
    EXPECT_FALSE(vela_prop_get_vela_device_info(t.prop(), "", nullptr, nullptr, nullptr));
    EXPECT_FALSE(vela_prop_get_vela_device_info(t.prop(), nullptr, nullptr, nullptr, nullptr));
}

TEST(VelaPropElement, MenusTakeExactTextsOrIndexes)
{
    fake_element t;
    EXPECT_EQ(to_vector(vela_prop_get_vela_menu_entries(t.prop(), "TriggerMode")),
              (std::vector<std::string>{"Off", "On"}));
    EXPECT_TRUE(to_vector(vela_prop_get_vela_menu_entries(t.prop(), "Level")).empty());

    ASSERT_TRUE(set_string(t.prop(), "TriggerMode", "On"));
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 1);
    ASSERT_TRUE(set_int(t.prop(), "TriggerMode", 0));
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 0);
    ASSERT_TRUE(set_int(t.prop(), "TriggerMode", 1));
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 1);

    EXPECT_FALSE(set_string(t.prop(), "TriggerMode", "on"));
    EXPECT_FALSE(set_string(t.prop(), "TriggerMode", "Off "));
    EXPECT_FALSE(set_int(t.prop(), "TriggerMode", 2));
    EXPECT_FALSE(set_int(t.prop(), "TriggerMode", -1));
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 1);

    out_values o;
    ASSERT_TRUE(o.get(t.prop(), "TriggerMode"));
    EXPECT_STREQ(g_value_get_string(&o.value), "On");
    EXPECT_EQ(g_value_get_int(&o.max), 1);
    EXPECT_STREQ(g_value_get_string(&o.type), "enum");
}

TEST(VelaPropElement, IntegerButtonAndHiddenProperties)
{
    fake_element t;
    const auto names = to_vector(vela_prop_get_vela_property_names(t.prop()));
    EXPECT_EQ(names, (std::vector<std::string>{"TriggerMode", "Level", "Ratio", "Flag", "Reset",
                                               "Broken"}));

    out_values o;
    ASSERT_TRUE(o.get(t.prop(), "Level"));
    EXPECT_EQ(g_value_get_int(&o.value), -7);
    EXPECT_EQ(g_value_get_int(&o.min), -100);
    EXPECT_EQ(g_value_get_int(&o.max), 100);
    EXPECT_EQ(g_value_get_int(&o.def), 3);
    EXPECT_EQ(g_value_get_int(&o.step), 2);
    EXPECT_EQ(g_value_get_int(&o.flags), 4);
    EXPECT_STREQ(g_value_get_string(&o.category), "Unknown");
    ASSERT_TRUE(set_int(t.prop(), "Level", 42));
    EXPECT_EQ(t.cam->stored("Level").as_int(), 42);
    // The camera's own refusal surfaces as FALSE.
    EXPECT_FALSE(set_int(t.prop(), "Level", 1000));

    out_values b;
    ASSERT_TRUE(b.get(t.prop(), "Reset"));
    for (GValue* v : {&b.value, &b.min, &b.max, &b.def, &b.step})
    {
        ASSERT_TRUE(G_VALUE_HOLDS_BOOLEAN(v));
        EXPECT_FALSE(g_value_get_boolean(v));
    }
    EXPECT_EQ(t.cam->reset_presses, 0);
    EXPECT_TRUE(set_string(t.prop(), "Reset", "anything"));
    EXPECT_EQ(t.cam->reset_presses, 1);
}

TEST(VelaPropElement, WrongValueTypesAndOddNamesFailCleanly)
{
    fake_element t;
    EXPECT_FALSE(set_string(t.prop(), "Ratio", "0.5"));
    EXPECT_FALSE(set_int(t.prop(), "Flag", 1));
    EXPECT_FALSE(set_string(t.prop(), "Level", "3"));
    GValue unset = G_VALUE_INIT;
    EXPECT_FALSE(vela_prop_set_vela_property(t.prop(), "Level", &unset));
    GValue obj = G_VALUE_INIT;
    g_value_init(&obj, G_TYPE_OBJECT);
    EXPECT_FALSE(vela_prop_set_vela_property(t.prop(), "TriggerMode", &obj));
    g_value_unset(&obj);
    EXPECT_EQ(t.cam->stored("Level").as_int(), -7);

    out_values o;
    EXPECT_FALSE(o.get(t.prop(), "Lev\xffl"));
    EXPECT_FALSE(o.get(t.prop(), ""));
    EXPECT_FALSE(G_IS_VALUE(&o.type));
    EXPECT_FALSE(vela_prop_get_vela_property(t.prop(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(vela_prop_get_vela_property_type(t.prop(), nullptr), nullptr);
    EXPECT_EQ(vela_prop_get_vela_menu_entries(t.prop(), nullptr), nullptr);

    // Only some out-values asked for, or none at all: the property must still exist.
    GValue only_value = G_VALUE_INIT;
    EXPECT_TRUE(vela_prop_get_vela_property(t.prop(), "Ratio", &only_value, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_DOUBLE_EQ(g_value_get_double(&only_value), 0.25);
    g_value_unset(&only_value);
    EXPECT_TRUE(vela_prop_get_vela_property(t.prop(), "Flag", nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(vela_prop_get_vela_property(t.prop(), "Nope", nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST(VelaPropElement, MenuIndexOutsideTheEntriesFromTheCameraIsRefused)
{
    fake_element t;
    out_values o;
    EXPECT_FALSE(o.get(t.prop(), "Broken"));
    EXPECT_FALSE(G_IS_VALUE(&o.value));
}

TEST(VelaPropElement, CameraThatCannotOpenPostsTheErrorOncePerCall)
{
    GstElement* e = make_src();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(e, bus);
    g_object_set(e, "serial", "no-such-camera", nullptr);
    pop_errors(bus); // setting the serial only logs its failure
    VelaProp* p = VELA_PROP(e);

    EXPECT_EQ(vela_prop_get_vela_property_names(p), nullptr);
    EXPECT_EQ(pop_errors(bus).size(), 1u);
    GValue v = G_VALUE_INIT;
    EXPECT_FALSE(vela_prop_get_vela_property(p, "Gain", &v, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(pop_errors(bus).size(), 1u);
    EXPECT_FALSE(set_int(p, "Gain", 1));
    EXPECT_EQ(pop_errors(bus).size(), 1u);
    EXPECT_EQ(vela_prop_get_vela_device_serials(p), nullptr);
    auto errors = pop_errors(bus);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.rfind("Failed to open camera", 0), 0u) << errors[0].text;
    gst_element_set_bus(e, nullptr);
    gst_object_unref(bus);
    gst_object_unref(e);
}

TEST(EnvSwitch, DebugPropertiesListShowOverlay)
{
    virt_element t;
    EXPECT_EQ(to_vector(vela_prop_get_vela_property_names(t.prop())),
              (std::vector<std::string>{"ExposureTime", "Gain", "Stripes", "ShowOverlay"}));
}

#include <gst/check/gstharness.h>

TEST(VelaPropElement, ShowOverlayDrawsIntoTheNextFrames)
{
    GstHarness* h = gst_harness_new_parse("velakorsasrc name=src serial=virt");
    GstElement* src = gst_bin_get_by_name(GST_BIN(h->element), "src");
    ASSERT_NE(src, nullptr);

    // A frame's first line region without and with the overlay: a flat level, then text.
    auto line_is_flat = [](GstBuffer* buf, int row) {
        GstMapInfo map;
        EXPECT_TRUE(gst_buffer_map(buf, &map, GST_MAP_READ));
        const guint8* line = map.data + static_cast<gsize>(row) * 2880;
        bool flat = true;
        for (int i = 0; i < 1000; ++i)
        {
            flat = flat && line[i] == map.data[0];
        }
        gst_buffer_unmap(buf, &map);
        return flat;
    };
    gst_harness_play(h);
    GstBuffer* plain = gst_harness_pull(h);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(line_is_flat(plain, 14));
    gst_buffer_unref(plain);

    GValue on = G_VALUE_INIT;
    g_value_init(&on, G_TYPE_BOOLEAN);
    g_value_set_boolean(&on, TRUE);
    ASSERT_TRUE(vela_prop_set_vela_property(VELA_PROP(src), "ShowOverlay", &on));
    g_value_unset(&on);

    // Frames already queued were taken before the switch; a few frames later it shows.
    bool overlay_seen = false;
    for (int i = 0; i < 10 && !overlay_seen; ++i)
    {
        GstBuffer* buf = gst_harness_pull(h);
        ASSERT_NE(buf, nullptr);
        overlay_seen = !line_is_flat(buf, 14);
        gst_buffer_unref(buf);
    }
    EXPECT_TRUE(overlay_seen);
    gst_object_unref(src);
    gst_harness_teardown(h);
}
