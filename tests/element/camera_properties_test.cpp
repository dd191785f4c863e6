// The element's "camera-properties": camera properties from a launch line, applied on every
// open and at once while open, bad entries reported one by one, the current state read back.
#include "fake_camera.h"
#include "gst_src_impl.h"
#include "overlay.h"
#include "test_support.h"

#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using test_support::make_src;

namespace {

// Counts GLib criticals and warnings while alive (they would otherwise only be printed).
class glib_log_counter
{
public:
    glib_log_counter()
    {
        previous_ = g_log_set_default_handler(
            [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
                auto* self = static_cast<glib_log_counter*>(data);
                if ((level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0)
                {
                    ++self->count;
                }
                g_log_default_handler(domain, level, message, nullptr);
            },
            this);
    }
    ~glib_log_counter() { g_log_set_default_handler(previous_, nullptr); }
    int count = 0;

private:
    GLogFunc previous_;
};

std::vector<std::string> pop_warnings(GstBus* bus)
{
    std::vector<std::string> out;
    while (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_WARNING))
    {
        GError* err = nullptr;
        gst_message_parse_warning(msg, &err, nullptr);
        out.emplace_back(err->message);
        g_error_free(err);
        gst_message_unref(msg);
    }
    return out;
}

// An element on the property test camera, with a bus to post on.
struct fake_element
{
    GstElement* e = make_src();
    GstBus* bus = gst_bus_new();
    std::shared_ptr<test_support::property_camera> cam =
        std::make_shared<test_support::property_camera>();
    int opens = 0;

    fake_element()
    {
        gst_element_set_bus(e, bus);
        auto camera = cam;
        test_support::use_opener(
            e,
            [camera, this](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
                ++opens;
                return korsa_cam::camera_create_info{camera, "FAKE01"};
            });
    }
    ~fake_element()
    {
        gst_element_set_state(e, GST_STATE_NULL);
        gst_object_unref(e);
        gst_object_unref(bus);
    }
    void open() { g_object_set(e, "serial", "FAKE01", nullptr); }
    std::string read() const
    {
        gchar* text = nullptr;
        g_object_get(e, "camera-properties", &text, nullptr);
        std::string out = text != nullptr ? text : "";
        g_free(text);
        return out;
    }
};

bool has_warning(const std::vector<std::string>& warnings, const std::string& text)
{
    for (const auto& w : warnings)
    {
        if (w == text)
        {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(CameraProperties, LaunchLineSetsGainAndExposureSeenInTheFramesStatusLine)
{
    GstHarness* h = gst_harness_new_parse(
        "velakorsasrc serial=virt camera-properties=\"props,Gain=6.0,ExposureTime=10000.0\" "
        "! capsfilter caps=video/x-bayer,format=bggr12m,width=640,height=480,framerate=30/1");
    gst_harness_play(h);
    GstBuffer* buf = gst_harness_pull(h);
    ASSERT_NE(buf, nullptr);
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(buf, &map, GST_MAP_READ));

    // The status line as the virtual camera draws it, rendered here for comparison: text box
    // at (10, 320), scale 2, so 16 rows of 16 pixels a character.
    const img::img_type vga{img::fcc::BGDP, {640, 480}, 640 * 480 * 3 / 2};
    auto status_box_matches = [&](const std::string& text) {
        std::vector<std::byte> expected(vga.buffer_length, std::byte{0});
        img_lib::overlay::render_text({vga, expected.data(), 960}, {10, 320}, 2, text.data(),
                                      static_cast<unsigned>(text.size()), {0, 255, 0, 255},
                                      {255, 255, 255, 255});
        const std::size_t first = 10 * 3 / 2;
        const std::size_t bytes = text.size() * 16 * 3 / 2;
        for (int row = 320; row < 336; ++row)
        {
            const std::size_t at = static_cast<std::size_t>(row) * 960 + first;
            if (at + bytes > map.size ||
                std::memcmp(map.data + at, expected.data() + at, bytes) != 0)
            {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(status_box_matches("virt-cam, exp=10000 gain=6"));
    EXPECT_FALSE(status_box_matches("virt-cam, exp=10 gain=0")); // the camera's defaults
    gst_buffer_unmap(buf, &map);
    gst_buffer_unref(buf);
    gst_harness_teardown(h);
}

TEST(CameraProperties, EveryKindIsConvertedAsMeantAndAppliedInOrder)
{
    fake_element t;
    g_object_set(t.e, "camera-properties",
                 "props,Level=12,Ratio=2,Flag=false,TriggerMode=On,Reset=true,Level=-3", nullptr);
    EXPECT_EQ(t.opens, 0); // nothing opens before the camera is needed
    t.open();
    EXPECT_EQ(t.cam->stored("Level").as_int(), -3); // later entries win
    EXPECT_DOUBLE_EQ(t.cam->stored("Ratio").as_double(), 2.0);
    EXPECT_FALSE(t.cam->stored("Flag").as_bool());
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 1);
    EXPECT_EQ(t.cam->reset_presses, 1);
    EXPECT_TRUE(pop_warnings(t.bus).empty());

    // Indexes, whole reals for integers, strings of numbers, 1/0 for booleans.
    g_object_set(t.e, "camera-properties",
                 "p,TriggerMode=0,Level=(double)7.0,Ratio=(string)0.5,Flag=1", nullptr);
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 0);
    EXPECT_EQ(t.cam->stored("Level").as_int(), 7);
    EXPECT_DOUBLE_EQ(t.cam->stored("Ratio").as_double(), 0.5);
    EXPECT_TRUE(t.cam->stored("Flag").as_bool());
    EXPECT_TRUE(pop_warnings(t.bus).empty());
}

TEST(CameraProperties, BadEntriesWarnOneByOneAndTheRestStillApply)
{
    fake_element t;
    t.open();
    glib_log_counter glib;
    // (A structure holds each name once: a repeated name keeps its first place and its last
    // value, so the cases are spread over two settings.)
    g_object_set(t.e, "camera-properties",
                 "props,Nope=1,Ratio=fast,TriggerMode=on,Broken=5,Level=1.5,Reset=false,Hidden=1,"
                 "Flag=false",
                 nullptr);
    auto warnings = pop_warnings(t.bus);
    EXPECT_EQ(warnings.size(), 7u);
    EXPECT_TRUE(has_warning(warnings,
                            "Camera property 'Nope' not applied: the camera has no such property"));
    EXPECT_TRUE(
        has_warning(warnings, "Camera property 'Ratio' not applied: \"fast\" is not a number"));
    EXPECT_TRUE(has_warning(warnings, "Camera property 'TriggerMode' not applied: 'on' is not "
                                      "one of its entries (Off, On)"));
    EXPECT_TRUE(has_warning(warnings, "Camera property 'Broken' not applied: 5 is neither an "
                                      "entry (A, B) nor an index below 2"));
    EXPECT_TRUE(
        has_warning(warnings, "Camera property 'Level' not applied: 1.5 is not a 32-bit integer"));
    EXPECT_TRUE(has_warning(
        warnings, "Camera property 'Reset' not applied: a button takes only true (a press), "
                  "not FALSE"));
    // A property never listed to users is not settable this way either.
    EXPECT_TRUE(has_warning(
        warnings, "Camera property 'Hidden' not applied: the camera has no such property"));
    // The valid one applied, the others left as they were.
    EXPECT_FALSE(t.cam->stored("Flag").as_bool());
    EXPECT_DOUBLE_EQ(t.cam->stored("Ratio").as_double(), 0.25);
    EXPECT_EQ(t.cam->stored("Level").as_int(), -7);
    EXPECT_EQ(t.cam->reset_presses, 0);

    // The camera's own refusal, with its message, between two entries that apply.
    g_object_set(t.e, "camera-properties", "props,Ratio=4.5,Level=500,TriggerMode=1", nullptr);
    warnings = pop_warnings(t.bus);
    EXPECT_EQ(warnings, (std::vector<std::string>{"Camera property 'Level' not applied: the "
                                                  "camera refused 500: Invalid property value "
                                                  "specified"}));
    EXPECT_DOUBLE_EQ(t.cam->stored("Ratio").as_double(), 4.5);
    EXPECT_EQ(t.cam->stored("TriggerMode").as_int(), 1);
    EXPECT_EQ(glib.count, 0);
}

TEST(CameraProperties, UnparsableTextWarnsAtOnceWithoutACameraAndAgainAtOpen)
{
    fake_element t;
    glib_log_counter glib;
    g_object_set(t.e, "camera-properties", "props,Level=", nullptr);
    auto warnings = pop_warnings(t.bus);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("camera-properties not applied: cannot read 'props,Level=' as a "
                                "structure",
                                0),
              0u);
    t.open(); // the camera still opens
    EXPECT_EQ(t.opens, 1);
    EXPECT_EQ(pop_warnings(t.bus).size(), 1u);
    EXPECT_EQ(glib.count, 0);
}

TEST(CameraProperties, ReadingGivesTheCurrentStateOrTheTextWhenClosed)
{
    fake_element t;
    EXPECT_EQ(t.read(), "");
    g_object_set(t.e, "camera-properties", "props,Level=12", nullptr);
    EXPECT_EQ(t.read(), "props,Level=12");

    t.open();
    // Every listed property with a value, menus by entry; buttons, the hidden property and a
    // menu whose camera answer lies outside its entries are left out.
    const std::string state = t.read();
    GstStructure* s = gst_structure_from_string(state.c_str(), nullptr);
    ASSERT_NE(s, nullptr) << state;
    int level = 0;
    EXPECT_TRUE(gst_structure_get_int(s, "Level", &level));
    EXPECT_EQ(level, 12);
    double ratio = 0;
    EXPECT_TRUE(gst_structure_get_double(s, "Ratio", &ratio));
    EXPECT_DOUBLE_EQ(ratio, 0.25);
    gboolean flag = FALSE;
    EXPECT_TRUE(gst_structure_get_boolean(s, "Flag", &flag));
    EXPECT_STREQ(gst_structure_get_string(s, "TriggerMode"), "Off");
    EXPECT_FALSE(gst_structure_has_field(s, "Reset"));
    EXPECT_FALSE(gst_structure_has_field(s, "Hidden"));
    EXPECT_FALSE(gst_structure_has_field(s, "Broken"));
    gst_structure_free(s);

    // What reading gives can be set back unchanged.
    t.cam->set_property("Level", korsa_cam::prop_values::from_int(-1));
    g_object_set(t.e, "camera-properties", state.c_str(), nullptr);
    EXPECT_EQ(t.cam->stored("Level").as_int(), 12);
    EXPECT_TRUE(pop_warnings(t.bus).empty());
}

TEST(CameraProperties, AppliedAgainOnEveryOpen)
{
    fake_element t;
    g_object_set(t.e, "camera-properties", "props,Level=12", nullptr);
    ASSERT_EQ(gst_element_set_state(t.e, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(t.cam->stored("Level").as_int(), 12);
    ASSERT_EQ(gst_element_set_state(t.e, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);

    t.cam->set_property("Level", korsa_cam::prop_values::from_int(-1));
    ASSERT_EQ(gst_element_set_state(t.e, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(t.opens, 2);
    EXPECT_EQ(t.cam->stored("Level").as_int(), 12);
}

TEST(CameraProperties, WarningsOfALaunchLineWaitForTheBus)
{
    // gst-launch sets properties before the element is in a pipeline: with "serial" first the
    // camera is already open, so the entries apply then, and their warnings reach the
    // pipeline's bus once it exists.
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "velakorsasrc serial=virt camera-properties=\"props,Gain=2.0,Nope=1\" ! fakesink", &error);
    ASSERT_NE(pipeline, nullptr) << (error != nullptr ? error->message : "");
    GstBus* bus = gst_element_get_bus(pipeline);
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    const auto warnings = pop_warnings(bus);
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "Camera property 'Nope' not applied: the camera has no such property"}));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
}

TEST(CameraProperties, WatchersAreToldOfTheNewStateAndMayReadItInTheirHandler)
{
    fake_element t;
    std::vector<std::string> seen;
    auto on_notify = +[](GObject* object, GParamSpec*, gpointer data) {
        // Reading inside the handler must not deadlock on the element mutex.
        gchar* text = nullptr;
        g_object_get(object, "camera-properties", &text, nullptr);
        static_cast<std::vector<std::string>*>(data)->emplace_back(text != nullptr ? text : "");
        g_free(text);
    };
    g_signal_connect(t.e, "notify::camera-properties", G_CALLBACK(on_notify), &seen);
    g_object_set(t.e, "camera-properties", "props,Level=12", nullptr);
    ASSERT_FALSE(seen.empty()); // the plain set notifies (GObject does) with the text
    EXPECT_EQ(seen.back(), "props,Level=12");

    seen.clear();
    ASSERT_EQ(gst_element_set_state(t.e, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    ASSERT_FALSE(seen.empty());
    GstStructure* s = gst_structure_from_string(seen.back().c_str(), nullptr);
    ASSERT_NE(s, nullptr) << seen.back();
    int level = 0;
    EXPECT_TRUE(gst_structure_get_int(s, "Level", &level));
    EXPECT_EQ(level, 12);
    gst_structure_free(s);
}
