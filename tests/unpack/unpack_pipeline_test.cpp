// The virtual camera through velakorsaunpack, bayer2rgb and pngenc into PNG files, read back
// with pngdec: every picture shows the level the camera put into that frame, or its stripes.

#include "vela_prop.h"

#include <glib/gstdio.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int width = 640;
constexpr int height = 480;
constexpr int frames = 6;

// The camera draws its status line at row 320; these rows are left out of the checks.
bool in_text_band(int y)
{
    return y >= 300 && y < 360;
}

struct rgb_image
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // rows of width * 3 bytes
    uint8_t at(int x, int y, int c) const
    {
        return pixels[(static_cast<size_t>(y) * width + x) * 3 + c];
    }
};

bool read_file(const std::string& path, std::vector<uint8_t>& out)
{
    gchar* data = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(path.c_str(), &data, &size, nullptr))
    {
        return false;
    }
    out.assign(data, data + size);
    g_free(data);
    return true;
}

// Decodes a PNG with the stock decoder into packed RGB.
rgb_image decode_png(const std::vector<uint8_t>& png)
{
    rgb_image img;
    GstHarness* h =
        gst_harness_new_parse("pngdec ! videoconvert ! capsfilter caps=video/x-raw,format=RGB");
    gst_harness_set_src_caps_str(h, "image/png,framerate=0/1");
    gpointer bytes = g_malloc(png.size());
    std::memcpy(bytes, png.data(), png.size());
    gst_harness_push(h, gst_buffer_new_wrapped(bytes, png.size()));
    gst_harness_push_event(h, gst_event_new_eos());
    GstBuffer* out = gst_harness_try_pull(h);
    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    GstVideoInfo info;
    GstVideoFrame frame;
    if (out != nullptr && caps != nullptr && gst_video_info_from_caps(&info, caps) &&
        gst_video_frame_map(&frame, &info, out, GST_MAP_READ))
    {
        img.width = GST_VIDEO_FRAME_WIDTH(&frame);
        img.height = GST_VIDEO_FRAME_HEIGHT(&frame);
        const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        for (int y = 0; y < img.height; ++y)
        {
            img.pixels.insert(img.pixels.end(), data + y * stride,
                              data + y * stride + img.width * 3);
        }
        gst_video_frame_unmap(&frame);
    }
    if (caps != nullptr)
    {
        gst_caps_unref(caps);
    }
    if (out != nullptr)
    {
        gst_buffer_unref(out);
    }
    gst_harness_teardown(h);
    return img;
}

struct recorded_levels
{
    std::mutex mtx; // guards levels; the probe runs on the streaming thread
    std::vector<uint8_t> levels;
};

// The first byte of every frame the camera pushes: its flat level (also with stripes, where
// it is 0xFF).
GstPadProbeReturn record_level(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer data)
{
    auto* rec = static_cast<recorded_levels*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    uint8_t first = 0;
    if (gst_buffer_extract(buffer, 0, &first, 1) == 1)
    {
        std::lock_guard lock(rec->mtx);
        rec->levels.push_back(first);
    }
    return GST_PAD_PROBE_OK;
}

class UnpackPipeline : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gchar* dir = g_dir_make_tmp("unpack-pipeline-XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        dir_ = dir;
        g_free(dir);
    }
    void TearDown() override
    {
        for (int i = 0; i < frames; ++i)
        {
            g_remove(png_path(i).c_str());
        }
        g_rmdir(dir_.c_str());
    }

    std::string png_path(int i) const
    {
        gchar* name = g_strdup_printf("frame-%02d.png", i);
        std::string p = dir_ + "/" + name;
        g_free(name);
        return p;
    }

    // Streams `frames` frames into PNG files; returns the level of each pushed frame.
    std::vector<uint8_t> run(bool stripes)
    {
        const std::string launch =
            "velakorsasrc name=src serial=virt num-buffers=" + std::to_string(frames) +
            " ! video/x-bayer,width=" + std::to_string(width) +
            ",height=" + std::to_string(height) +
            ",framerate=60/1 ! velakorsaunpack ! bayer2rgb ! videoconvert ! pngenc"
            " ! multifilesink sync=false location=" +
            dir_ + "/frame-%02d.png";
        GError* error = nullptr;
        GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
        EXPECT_EQ(error, nullptr) << (error != nullptr ? error->message : "");
        if (pipeline == nullptr)
        {
            return {};
        }
        GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        if (stripes)
        {
            GValue on = G_VALUE_INIT;
            g_value_init(&on, G_TYPE_BOOLEAN);
            g_value_set_boolean(&on, TRUE);
            EXPECT_TRUE(vela_prop_set_vela_property(VELA_PROP(src), "Stripes", &on));
            g_value_unset(&on);
        }
        recorded_levels rec;
        GstPad* pad = gst_element_get_static_pad(src, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, record_level, &rec, nullptr);
        gst_object_unref(pad);
        gst_object_unref(src);

        EXPECT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 120 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        EXPECT_NE(msg, nullptr) << "no end of stream";
        if (msg != nullptr)
        {
            EXPECT_EQ(GST_MESSAGE_TYPE(msg), GST_MESSAGE_EOS);
            gst_message_unref(msg);
        }
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        std::lock_guard lock(rec.mtx);
        return rec.levels;
    }

    std::string dir_;
};

// Channel values outside the camera's text band that differ from `expected(x)`; columns where
// it gives -1 are not checked. `checked` counts the values compared.
template <typename Expected>
int mismatches(const rgb_image& img, Expected expected, int& checked)
{
    int wrong = 0;
    for (int y = 0; y < img.height; ++y)
    {
        for (int x = 0; x < img.width && !in_text_band(y); ++x)
        {
            const int want = expected(x);
            for (int c = 0; c < 3 && want >= 0; ++c, ++checked)
            {
                wrong += img.at(x, y, c) != want;
            }
        }
    }
    return wrong;
}

TEST_F(UnpackPipeline, EachPictureShowsTheLevelTheCameraPutIntoItsFrame)
{
    const auto levels = run(false);
    ASSERT_EQ(levels.size(), static_cast<size_t>(frames));
    // The level rises by one per delivered frame, so a later frame is not black.
    EXPECT_GT(levels.back(), 0);
    for (int i = 0; i < frames; ++i)
    {
        SCOPED_TRACE("picture " + std::to_string(i) + ", level " + std::to_string(levels[i]));
        std::vector<uint8_t> png;
        ASSERT_TRUE(read_file(png_path(i), png));
        const rgb_image img = decode_png(png);
        ASSERT_EQ(img.width, width);
        ASSERT_EQ(img.height, height);
        int checked = 0;
        EXPECT_EQ(mismatches(
                      img, [&](int) { return levels[i]; }, checked),
                  0);
    }
}

// Stripes are 16 pixels of white then 16 of black from the left edge; the demosaic blends at
// the edges between them, so the middle of each stripe is checked.
TEST_F(UnpackPipeline, StripesShowAsSixteenPixelWhiteAndBlackColumns)
{
    ASSERT_EQ(run(true).size(), static_cast<size_t>(frames));
    std::vector<uint8_t> png;
    ASSERT_TRUE(read_file(png_path(frames - 1), png));
    const rgb_image img = decode_png(png);
    ASSERT_EQ(img.width, width);
    ASSERT_EQ(img.height, height);
    int checked = 0;
    const auto stripe = [](int x) {
        const int in_pair = x % 32;
        return in_pair >= 2 && in_pair < 14 ? 255 : in_pair >= 18 && in_pair < 30 ? 0 : -1;
    };
    EXPECT_EQ(mismatches(img, stripe, checked), 0);
    EXPECT_GT(checked, width * 3);
}

} // namespace
