// The element streaming the virtual camera through real pipelines.
#include "fake_camera.h"
#include "gst_src_impl.h"
#include "test_support.h"
#include "virt_camera.h"

#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

using test_support::make_src;
using test_support::pop_errors;
using test_support::use_opener;

namespace {

std::vector<std::string> structures_of(GstCaps* caps)
{
    std::vector<std::string> out;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
    {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        gint w = 0, h = 0;
        if (gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h))
        {
            out.push_back(std::to_string(w) + "x" + std::to_string(h));
        }
        else
        {
            out.push_back("range");
        }
    }
    return out;
}

struct harness
{
    GstHarness* h;
    explicit harness(const char* launch) : h(gst_harness_new_parse(launch)) {}
    ~harness() { gst_harness_teardown(h); }
    GstElement* src() const { return h->element; }
    GstVelaKorsaSrc* velasrc() const
    {
        // The parse harness wraps the element in a bin when it is a launch line.
        GstElement* e = h->element;
        if (GST_IS_BIN(e))
        {
            GstElement* inner = gst_bin_get_by_name(GST_BIN(e), "src");
            gst_object_unref(inner); // still owned by the bin
            return GST_VELAKORSASRC(inner);
        }
        return GST_VELAKORSASRC(e);
    }
};

std::string current_caps(GstHarness* h)
{
    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    if (caps == nullptr)
    {
        return "";
    }
    gchar* text = gst_caps_to_string(caps);
    std::string out = text;
    g_free(text);
    gst_caps_unref(caps);
    return out;
}

} // namespace

namespace {

struct open_case
{
    std::error_code ec;
    const char* text;
    bool has_debug;
};

} // namespace

TEST(ElementStreaming, VirtualCameraCapsAreTheFixedSizesThenTheRange)
{
    GstElement* e = make_src();
    g_object_set(e, "serial", "virt", nullptr);
    GstPad* pad = gst_element_get_static_pad(e, "src");
    // The filter is ignored: the camera's caps come back whole.
    GstCaps* filter = gst_caps_from_string("video/x-raw,format=GRAY8");
    GstCaps* caps = gst_pad_query_caps(pad, nullptr);
    GstCaps* unfiltered = GST_BASE_SRC_GET_CLASS(e)->get_caps(GST_BASE_SRC(e), filter);
    EXPECT_TRUE(gst_caps_is_equal(caps, unfiltered));
    const std::vector<std::string> expected = {"1920x1080", "1440x1080", "1280x720", "960x720",
                                               "720x480",   "640x480",   "range"};
    EXPECT_EQ(structures_of(caps), expected);
    gchar* text = gst_caps_to_string(caps);
    EXPECT_NE(std::string(text).find("format=(string)bggr12m"), std::string::npos);
    EXPECT_NE(std::string(text).find("framerate=(fraction)[ 5/1, 60/1 ]"), std::string::npos);
    g_free(text);
    gst_caps_unref(caps);
    gst_caps_unref(unfiltered);
    gst_caps_unref(filter);
    gst_object_unref(pad);
    gst_object_unref(e);
}

TEST(ElementStreaming, AnythingDownstreamGetsTheLargestSizeAndRate)
{
    harness t("velakorsasrc name=src serial=virt");
    gst_harness_play(t.h);
    GstBuffer* buf = gst_harness_pull(t.h);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(current_caps(t.h), "video/x-bayer, format=(string)bggr12m, width=(int)1920, "
                                 "height=(int)1080, framerate=(fraction)60/1");
    EXPECT_EQ(gst_buffer_get_size(buf), 3110400u);
    gst_buffer_unref(buf);
}

TEST(ElementStreaming, CapsfilterChoosesTheRequestedSize)
{
    harness t("velakorsasrc name=src serial=virt ! capsfilter caps=video/x-bayer,width=1280,"
              "height=720");
    gst_harness_play(t.h);
    GstBuffer* buf = gst_harness_pull(t.h);
    ASSERT_NE(buf, nullptr);
    const std::string caps = current_caps(t.h);
    EXPECT_NE(caps.find("width=(int)1280, height=(int)720"), std::string::npos) << caps;
    EXPECT_EQ(gst_buffer_get_size(buf), 1280u * 12 / 8 * 720);
    gst_buffer_unref(buf);
}

TEST(ElementStreaming, BuffersWrapTheCameraMemoryReadOnlyWithStride)
{
    harness t("velakorsasrc name=src");
    auto cam = std::make_shared<test_support::recording_camera>(gst_korsa::create_virt_cam());
    use_opener(GST_ELEMENT(t.velasrc()),
               [cam](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
                   return korsa_cam::camera_create_info{cam, "virt"};
               });
    gst_harness_play(t.h);
    std::set<const void*> addresses;
    for (int i = 0; i < 20; ++i)
    {
        GstBuffer* buf = gst_harness_pull(t.h);
        ASSERT_NE(buf, nullptr);
        EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_LIVE));
        ASSERT_EQ(gst_buffer_n_memory(buf), 1u);
        GstMemory* mem = gst_buffer_peek_memory(buf, 0);
        EXPECT_TRUE(GST_MEMORY_IS_READONLY(mem));
        GstVideoMeta* meta = gst_buffer_get_video_meta(buf);
        ASSERT_NE(meta, nullptr);
        EXPECT_EQ(meta->width, 1920u);
        EXPECT_EQ(meta->height, 1080u);
        EXPECT_EQ(meta->n_planes, 1u);
        EXPECT_EQ(meta->stride[0], 2880);
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(buf, &map, GST_MAP_READ));
        // The very memory the camera filled, not a copy of it.
        EXPECT_TRUE(cam->delivered(map.data));
        EXPECT_EQ(map.size, 3110400u);
        addresses.insert(map.data);
        gst_buffer_unmap(buf, &map);
        gst_buffer_unref(buf);
    }
    // Twenty frames came out of the camera's few capture buffers.
    EXPECT_LE(addresses.size(), 7u);
}

TEST(ElementStreaming, LatencyNeedsANegotiatedRate)
{
    GstElement* e = make_src();
    GstQuery* q = gst_query_new_latency();
    EXPECT_FALSE(gst_element_query(e, q)); // no camera open
    g_object_set(e, "serial", "virt", nullptr);
    EXPECT_FALSE(gst_element_query(e, q)); // open, but no caps negotiated yet
    GstCaps* caps = gst_caps_from_string("video/x-bayer,format=bggr12m,width=640,height=480,"
                                         "framerate=30/1");
    ASSERT_TRUE(GST_BASE_SRC_GET_CLASS(e)->set_caps(GST_BASE_SRC(e), caps));
    gst_caps_unref(caps);
    ASSERT_TRUE(gst_element_query(e, q));
    gboolean live = FALSE;
    GstClockTime min = 0, max = 0;
    gst_query_parse_latency(q, &live, &min, &max);
    EXPECT_TRUE(live);
    EXPECT_EQ(min, 33333333u);
    EXPECT_EQ(max, GST_CLOCK_TIME_NONE);
    gst_query_unref(q);
    GST_VELAKORSASRC(e)->device_state.stop_stream();
    gst_object_unref(e);
}

TEST(ElementStreaming, CapsWithoutFramerateClipTheStoredRate)
{
    GstElement* e = make_src();
    g_object_set(e, "serial", "virt", nullptr);
    GstCaps* caps = gst_caps_from_string("video/x-bayer,format=bggr12m,width=640,height=480");
    auto* klass = GST_BASE_SRC_GET_CLASS(e);
    ASSERT_TRUE(klass->set_caps(GST_BASE_SRC(e), caps));
    // 30 lies inside the virtual camera's 5..60, so nothing is clipped.
    EXPECT_EQ(GST_VELAKORSASRC(e)->fps_numerator, 30);
    EXPECT_EQ(GST_VELAKORSASRC(e)->fps_denominator, 1);
    gst_caps_unref(caps);

    caps = gst_caps_from_string("video/x-bayer,format=bggr12m,width=640,height=480,"
                                "framerate=100/1");
    ASSERT_TRUE(klass->set_caps(GST_BASE_SRC(e), caps));
    EXPECT_EQ(GST_VELAKORSASRC(e)->fps_numerator, 60);
    gst_caps_unref(caps);

    caps = gst_caps_from_string("video/x-bayer,format=nonsense,width=640,height=480");
    EXPECT_FALSE(klass->set_caps(GST_BASE_SRC(e), caps));
    gst_caps_unref(caps);
    caps = gst_caps_from_string("video/x-bayer,format=bggr12m,width=0,height=480");
    EXPECT_FALSE(klass->set_caps(GST_BASE_SRC(e), caps));
    gst_caps_unref(caps);
    GST_VELAKORSASRC(e)->device_state.stop_stream();
    gst_object_unref(e);
}

TEST(ElementStreaming, SerialIsRefusedOutsideNull)
{
    GstElement* e = make_src();
    g_object_set(e, "serial", "virt", nullptr);
    ASSERT_EQ(gst_element_set_state(e, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    g_object_set(e, "serial", "other", "max-queued-gst-buffers", 9, nullptr);
    gchar* serial = nullptr;
    gint queued = 0;
    g_object_get(e, "serial", &serial, "max-queued-gst-buffers", &queued, nullptr);
    EXPECT_STREQ(serial, "virt");
    EXPECT_EQ(queued, 2);
    g_free(serial);
    gst_element_set_state(e, GST_STATE_NULL);
    gst_object_unref(e);
}

TEST(ElementStreaming, OpenFailurePostsOneErrorAndFailsTheStateChange)
{
    GstElement* e = make_src();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(e, bus);
    g_object_set(e, "serial", "no-such-camera", nullptr);
    EXPECT_EQ(gst_element_set_state(e, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    auto errors = pop_errors(bus);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(errors[0].code, GST_RESOURCE_ERROR_WRITE);
    EXPECT_EQ(errors[0].text.rfind("Failed to open camera", 0), 0u) << errors[0].text;
    gst_element_set_state(e, GST_STATE_NULL);
    gst_element_set_bus(e, nullptr);
    gst_object_unref(bus);
    gst_object_unref(e);
}

TEST(ElementStreaming, SeekingIsRefusedWithoutHarm)
{
    harness t("velakorsasrc name=src serial=virt");
    gst_harness_play(t.h);
    GstBuffer* buf = gst_harness_pull(t.h);
    ASSERT_NE(buf, nullptr);
    gst_buffer_unref(buf);
    EXPECT_FALSE(
        gst_element_seek_simple(t.src(), GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, GST_SECOND));
    buf = gst_harness_pull(t.h);
    ASSERT_NE(buf, nullptr);
    gst_buffer_unref(buf);
}

TEST(ElementStreaming, UnlockWakesCreateWithFlushingAndUnlockStopRearmsIt)
{
    GstElement* e = make_src();
    // No frame may be queued, so create can only end by flushing or by the stream stopping.
    g_object_set(e, "serial", "virt", "max-queued-gst-buffers", 0, nullptr);
    GstCaps* caps = gst_caps_from_string("video/x-bayer,format=bggr12m,width=640,height=480,"
                                         "framerate=60/1");
    auto* base_class = GST_BASE_SRC_GET_CLASS(e);
    auto* push_class = GST_PUSH_SRC_GET_CLASS(e);
    ASSERT_TRUE(base_class->set_caps(GST_BASE_SRC(e), caps));
    gst_caps_unref(caps);

    GstFlowReturn first = GST_FLOW_OK;
    GstBuffer* out = nullptr;
    std::thread waiter([&] { first = push_class->create(GST_PUSH_SRC(e), &out); });
    base_class->unlock(GST_BASE_SRC(e));
    waiter.join();
    EXPECT_EQ(first, GST_FLOW_FLUSHING);

    base_class->unlock_stop(GST_BASE_SRC(e));
    GstFlowReturn second = GST_FLOW_OK;
    std::thread waiter2([&] { second = push_class->create(GST_PUSH_SRC(e), &out); });
    // Flushing is off again, so only the end of the stream releases it now.
    base_class->stop(GST_BASE_SRC(e));
    waiter2.join();
    EXPECT_EQ(second, GST_FLOW_EOS);
    EXPECT_EQ(out, nullptr);
    gst_object_unref(e);
}

TEST(ElementStreaming, LostDevicePostsTwoErrorsThenEndOfStream)
{
    harness t("velakorsasrc name=src serial=virt");
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(t.src(), bus);
    gst_harness_play(t.h);
    GstBuffer* buf = gst_harness_pull(t.h);
    ASSERT_NE(buf, nullptr);
    gst_buffer_unref(buf);

    // What the device-lost watcher does when the camera stops answering, from its own thread.
    std::thread watcher([&] { t.velasrc()->device_state.device_lost_callback("virt"); });
    watcher.join();

    auto errors = pop_errors(bus);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(errors[0].code, GST_RESOURCE_ERROR_NOT_FOUND);
    EXPECT_EQ(errors[0].text, "Device lost (virt)");
    EXPECT_EQ(errors[0].detail_serial, "");
    EXPECT_EQ(errors[1].code, GST_RESOURCE_ERROR_NOT_FOUND);
    EXPECT_EQ(errors[1].text, "Device lost");
    EXPECT_EQ(errors[1].detail_serial, "virt");

    // Frames already on their way may still arrive; the stream then ends.
    bool eos = false;
    while (!eos)
    {
        GstEvent* ev = gst_harness_pull_event(t.h);
        ASSERT_NE(ev, nullptr);
        eos = GST_EVENT_TYPE(ev) == GST_EVENT_EOS;
        gst_event_unref(ev);
    }
    gst_element_set_bus(t.src(), nullptr);
    gst_object_unref(bus);
}

TEST(ElementStreaming, EachOpenFailureGetsItsOwnElementError)
{
    using korsa_cam::status;
    const open_case cases[] = {
        {korsa_cam::make_error_code(status::i2c_bus_open_failed),
         "Failed to open camera, because the i2c bus was unavailable. Is the Pi configured to "
         "allow access to the camera?",
         true},
        {korsa_cam::make_error_code(status::camera_in_use),
         "Failed to open camera, because it is already in use.", false},
        {korsa_cam::make_error_code(status::stream_caps_unavailable),
         "Failed to fetch device caps.", false},
        // Same value as camera_in_use but another category: not that row of the table.
        {std::error_code(7, std::generic_category()), "Failed to open camera.", true},
    };
    for (const auto& c : cases)
    {
        GstElement* e = make_src();
        GstBus* bus = gst_bus_new();
        gst_element_set_bus(e, bus);
        use_opener(e, [&c](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
            return c.ec;
        });
        EXPECT_EQ(gst_element_set_state(e, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
        auto errors = pop_errors(bus);
        ASSERT_EQ(errors.size(), 1u) << c.text;
        EXPECT_EQ(errors[0].domain, GST_RESOURCE_ERROR);
        EXPECT_EQ(errors[0].code, GST_RESOURCE_ERROR_WRITE);
        EXPECT_EQ(errors[0].text, c.text);
        if (c.has_debug)
        {
            EXPECT_EQ(errors[0].debug.find("Underlying error value: " + c.ec.message()) !=
                          std::string::npos,
                      true)
                << errors[0].debug;
        }
        else
        {
            EXPECT_EQ(errors[0].debug.find("Underlying"), std::string::npos) << errors[0].debug;
        }
        gst_element_set_state(e, GST_STATE_NULL);
        gst_element_set_bus(e, nullptr);
        gst_object_unref(bus);
        gst_object_unref(e);
    }
}

TEST(ElementStreaming, CameraWithoutStreamTypesFailsWithCapsUnavailable)
{
    GstElement* e = make_src();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(e, bus);
    auto cam = std::make_shared<test_support::property_camera>();
    cam->offer_no_stream_types = true;
    use_opener(e, [cam](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
        return korsa_cam::camera_create_info{cam, "FAKE01"};
    });
    EXPECT_EQ(gst_element_set_state(e, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    auto errors = pop_errors(bus);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "Failed to fetch device caps.");
    gst_element_set_state(e, GST_STATE_NULL);
    gst_element_set_bus(e, nullptr);
    gst_object_unref(bus);
    gst_object_unref(e);
}

TEST(ElementStreaming, MissingFramerateSetsUpAt30AndStoresTheClippedRate)
{
    GstElement* e = make_src();
    auto cam = std::make_shared<test_support::property_camera>();
    cam->fps_list = {5.0, 25.0};
    use_opener(e, [cam](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
        return korsa_cam::camera_create_info{cam, "FAKE01"};
    });
    g_object_set(e, "serial", "FAKE01", nullptr);
    ASSERT_TRUE(GST_VELAKORSASRC(e)->device_state.is_open());

    GstCaps* caps = gst_caps_from_string("video/x-bayer,format=rggb,width=64,height=64");
    ASSERT_TRUE(GST_BASE_SRC_GET_CLASS(e)->set_caps(GST_BASE_SRC(e), caps));
    gst_caps_unref(caps);
    EXPECT_DOUBLE_EQ(cam->setup_fps, 30.0);
    EXPECT_EQ(GST_VELAKORSASRC(e)->fps_numerator, 25);
    EXPECT_EQ(GST_VELAKORSASRC(e)->fps_denominator, 1);

    caps = gst_caps_from_string("video/x-bayer,format=rggb,width=64,height=64,framerate=1/1");
    ASSERT_TRUE(GST_BASE_SRC_GET_CLASS(e)->set_caps(GST_BASE_SRC(e), caps));
    gst_caps_unref(caps);
    EXPECT_DOUBLE_EQ(cam->setup_fps, 1.0);
    EXPECT_EQ(GST_VELAKORSASRC(e)->fps_numerator, 5);
    gst_object_unref(e);
}
