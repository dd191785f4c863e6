// The VelaProp public wrappers: argument checks and forwarding to the implementation.
#include "vela_prop.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <string>

namespace {

struct TestImpl
{
    GObject parent;
    int calls;
    std::string last_name;
};
struct TestImplClass
{
    GObjectClass parent_class;
};

TestImpl* impl(VelaProp* p)
{
    return reinterpret_cast<TestImpl*>(p);
}

GSList* names(VelaProp* self)
{
    impl(self)->calls++;
    return g_slist_append(nullptr, g_strdup("ExposureTime"));
}
gchar* type_of(VelaProp* self, const gchar* name)
{
    impl(self)->calls++;
    impl(self)->last_name = name;
    return g_strdup("double");
}
gboolean get_prop(VelaProp* self, const gchar* name, GValue* value, GValue*, GValue*, GValue*,
                  GValue*, GValue*, GValue*, GValue*, GValue*)
{
    impl(self)->calls++;
    impl(self)->last_name = name;
    if (value != nullptr)
    {
        g_value_init(value, G_TYPE_DOUBLE);
        g_value_set_double(value, 1.5);
    }
    return TRUE;
}
gboolean set_prop(VelaProp* self, const gchar* name, const GValue*)
{
    impl(self)->calls++;
    impl(self)->last_name = name;
    return TRUE;
}
gboolean device_info(VelaProp* self, const gchar* serial, gchar** name, gchar**, gchar**)
{
    impl(self)->calls++;
    impl(self)->last_name = serial;
    if (name != nullptr)
    {
        *name = g_strdup("cam");
    }
    return TRUE;
}

void iface_init(gpointer g_iface, gpointer)
{
    auto* iface = static_cast<VelaPropInterface*>(g_iface);
    // Menu entries and the serial lists stay empty to check that empty slots fail cleanly.
    iface->get_vela_property_names = names;
    iface->get_vela_property_type = type_of;
    iface->get_vela_property = get_prop;
    iface->set_vela_property = set_prop;
    iface->get_vela_device_info = device_info;
}

void test_impl_class_init(gpointer, gpointer) {}
void test_impl_init(GTypeInstance* instance, gpointer)
{
    auto* self = reinterpret_cast<TestImpl*>(instance);
    new (&self->last_name) std::string();
    self->calls = 0;
}

GType test_impl_get_type()
{
    static gsize id = 0;
    if (g_once_init_enter(&id))
    {
        GType t = g_type_register_static_simple(
            G_TYPE_OBJECT, "VelaPropTestImpl", sizeof(TestImplClass), test_impl_class_init,
            sizeof(TestImpl), test_impl_init, static_cast<GTypeFlags>(0));
        const GInterfaceInfo info = {iface_init, nullptr, nullptr};
        g_type_add_interface_static(t, VELA_TYPE_PROP, &info);
        g_once_init_leave(&id, t);
    }
    return id;
}

struct test_object
{
    GObject* obj = static_cast<GObject*>(g_object_new(test_impl_get_type(), nullptr));
    ~test_object()
    {
        impl(prop())->last_name.~basic_string();
        g_object_unref(obj);
    }
    VelaProp* prop() { return reinterpret_cast<VelaProp*>(obj); }
};

} // namespace

TEST(VelaPropWrappers, ForwardToTheImplementation)
{
    test_object t;
    GSList* list = vela_prop_get_vela_property_names(t.prop());
    ASSERT_EQ(g_slist_length(list), 1u);
    EXPECT_STREQ(static_cast<char*>(list->data), "ExposureTime");
    g_slist_free_full(list, g_free);

    gchar* type = vela_prop_get_vela_property_type(t.prop(), "Gain");
    EXPECT_STREQ(type, "double");
    EXPECT_EQ(impl(t.prop())->last_name, "Gain");
    g_free(type);

    GValue v = G_VALUE_INIT;
    EXPECT_TRUE(vela_prop_get_vela_property(t.prop(), "Gain", &v, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_DOUBLE_EQ(g_value_get_double(&v), 1.5);
    g_value_unset(&v);

    GValue in = G_VALUE_INIT;
    g_value_init(&in, G_TYPE_INT);
    EXPECT_TRUE(vela_prop_set_vela_property(t.prop(), "Gain", &in));
    g_value_unset(&in);

    gchar* name = nullptr;
    EXPECT_TRUE(vela_prop_get_vela_device_info(t.prop(), "virt", &name, nullptr, nullptr));
    EXPECT_STREQ(name, "cam");
    g_free(name);
    EXPECT_EQ(impl(t.prop())->calls, 5);
}

TEST(VelaPropWrappers, BadArgumentsGetTheFailureValueWithoutCallingThrough)
{
    test_object t;
    VelaProp* p = t.prop();
    EXPECT_EQ(vela_prop_get_vela_property_type(p, nullptr), nullptr);
    EXPECT_FALSE(vela_prop_get_vela_property(p, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(vela_prop_set_vela_property(p, "Gain", nullptr));
    GValue unset = G_VALUE_INIT;
    EXPECT_FALSE(vela_prop_set_vela_property(p, "Gain", &unset));
    EXPECT_FALSE(vela_prop_get_vela_device_info(p, nullptr, nullptr, nullptr, nullptr));

    // An out-value that is already set would be overwritten and leak: refused untouched.
    GValue already = G_VALUE_INIT;
    g_value_init(&already, G_TYPE_INT);
    g_value_set_int(&already, 7);
    EXPECT_FALSE(vela_prop_get_vela_property(p, "Gain", nullptr, &already, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(g_value_get_int(&already), 7);
    g_value_unset(&already);
    EXPECT_EQ(impl(p)->calls, 0);

    // Slots the implementation left empty.
    EXPECT_EQ(vela_prop_get_vela_menu_entries(p, "Gain"), nullptr);
    EXPECT_EQ(vela_prop_get_vela_device_serials(p), nullptr);
    EXPECT_EQ(vela_prop_get_vela_device_serials_backend(p), nullptr);
}

TEST(VelaPropWrappers, NullAndForeignObjectsFail)
{
    GObject* foreign = static_cast<GObject*>(g_object_new(GST_TYPE_BIN, nullptr));
    for (VelaProp* p : {static_cast<VelaProp*>(nullptr), reinterpret_cast<VelaProp*>(foreign)})
    {
        EXPECT_EQ(vela_prop_get_vela_property_names(p), nullptr);
        EXPECT_EQ(vela_prop_get_vela_property_type(p, "Gain"), nullptr);
        GValue v = G_VALUE_INIT;
        EXPECT_FALSE(vela_prop_get_vela_property(p, "Gain", &v, nullptr, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr));
        EXPECT_FALSE(G_IS_VALUE(&v));
        EXPECT_EQ(vela_prop_get_vela_menu_entries(p, "Gain"), nullptr);
        GValue in = G_VALUE_INIT;
        g_value_init(&in, G_TYPE_INT);
        EXPECT_FALSE(vela_prop_set_vela_property(p, "Gain", &in));
        g_value_unset(&in);
        EXPECT_EQ(vela_prop_get_vela_device_serials(p), nullptr);
        EXPECT_EQ(vela_prop_get_vela_device_serials_backend(p), nullptr);
        EXPECT_FALSE(vela_prop_get_vela_device_info(p, "virt", nullptr, nullptr, nullptr));
    }
    g_object_unref(foreign);
}
