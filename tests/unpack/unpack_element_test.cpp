// The velakorsaunpack element in a harness: every packed code the cameras send comes out as
// the stock format with exact pixels, the input's stride from its video meta, the output's in
// its own meta; negotiation both ways; bad buffers dropped with a warning, caps without a size
// refused.

#include "packing_reference.h"

#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace unpack_test;

struct harness
{
    GstHarness* h = gst_harness_new("velakorsaunpack");
    GstBus* bus = gst_bus_new();
    harness() { gst_element_set_bus(h->element, bus); }
    ~harness()
    {
        gst_element_set_bus(h->element, nullptr);
        gst_object_unref(bus);
        gst_harness_teardown(h);
    }
    harness(const harness&) = delete;
    harness& operator=(const harness&) = delete;

    // Texts of the warnings posted since the last call.
    std::vector<std::string> warnings()
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
};

// A buffer over a heap block exactly as long as the bytes, so a read past them is caught by
// AddressSanitizer rather than landing in an allocator's slack.
GstBuffer* exact_buffer(const std::vector<uint8_t>& bytes)
{
    gpointer block = g_malloc(bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    return gst_buffer_new_wrapped_full(static_cast<GstMemoryFlags>(0), block, bytes.size(), 0,
                                       bytes.size(), block, g_free);
}

void add_stride_meta(GstBuffer* buffer, guint width, guint height, gint stride, gsize offset = 0)
{
    gsize offsets[GST_VIDEO_MAX_PLANES] = {offset};
    gint strides[GST_VIDEO_MAX_PLANES] = {stride};
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_UNKNOWN,
                                   width, height, 1, offsets, strides);
}

std::string caps_field(GstHarness* h, const char* field)
{
    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    if (caps == nullptr)
    {
        return "(no caps)";
    }
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    std::string out;
    if (std::string(field) == "name")
    {
        out = gst_structure_get_name(s);
    }
    else if (const GValue* v = gst_structure_get_value(s, field); v != nullptr)
    {
        gchar* text = gst_value_serialize(v);
        out = text;
        g_free(text);
    }
    gst_caps_unref(caps);
    return out;
}

struct camera_code
{
    const char* media;
    const char* format;
    unsigned bits;
    const char* out_media;
    const char* out_format; // as chosen with a downstream that takes anything
};

// Every MIPI-packed code of the cameras' format table.
const camera_code camera_codes[] = {
    {"video/x-bayer", "bggr10m", 10, "video/x-bayer", "bggr"},
    {"video/x-bayer", "gbrg10m", 10, "video/x-bayer", "gbrg"},
    {"video/x-bayer", "grbg10m", 10, "video/x-bayer", "grbg"},
    {"video/x-bayer", "rggb10m", 10, "video/x-bayer", "rggb"},
    {"video/x-bayer", "bggr12m", 12, "video/x-bayer", "bggr"},
    {"video/x-bayer", "gbrg12m", 12, "video/x-bayer", "gbrg"},
    {"video/x-bayer", "grbg12m", 12, "video/x-bayer", "grbg"},
    {"video/x-bayer", "rggb12m", 12, "video/x-bayer", "rggb"},
    {"video/x-bayer", "pwl-rggb12m", 12, "video/x-bayer", "rggb"},
    {"video/x-raw", "GRAY10m", 10, "video/x-raw", "GRAY16_LE"},
    {"video/x-raw", "GRAY12m", 12, "video/x-raw", "GRAY16_LE"},
};

std::string caps_of(const camera_code& c, int width, int height)
{
    return std::string(c.media) + ",format=" + c.format + ",width=" + std::to_string(width) +
           ",height=" + std::to_string(height) + ",framerate=30/1";
}

// Checks the pulled buffer's video meta and pixels against the reference.
void expect_unpacked(GstBuffer* out, unsigned bits, size_t sample_bytes, size_t width,
                     size_t height, const std::vector<uint16_t>& px)
{
    const GstVideoMeta* meta = gst_buffer_get_video_meta(out);
    ASSERT_NE(meta, nullptr);
    const size_t stride = (width * sample_bytes + 3) / 4 * 4;
    EXPECT_EQ(meta->stride[0], static_cast<gint>(stride));
    EXPECT_EQ(meta->width, width);
    EXPECT_EQ(meta->height, height);
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(out, &map, GST_MAP_READ));
    EXPECT_EQ(map.size, stride * height);
    for (size_t y = 0; y < height && map.size >= stride * height; ++y)
    {
        const uint8_t* line = map.data + y * stride;
        for (size_t x = 0; x < width; ++x)
        {
            const uint16_t v = px[y * width + x];
            if (sample_bytes == 2)
            {
                ASSERT_EQ(line[2 * x] | (line[2 * x + 1] << 8), expect_16bit(bits, width, x, v))
                    << "at " << x << "," << y;
            }
            else
            {
                ASSERT_EQ(line[x], expect_8bit(bits, v)) << "at " << x << "," << y;
            }
        }
    }
    gst_buffer_unmap(out, &map);
}

// Width 22 leaves a cut group at the end of every 10-bit line; the input's lines are padded
// and only the video meta tells by how much.
TEST(UnpackElement, EveryCameraCodeBecomesItsStockFormatWithExactPixels)
{
    constexpr int width = 22;
    constexpr int height = 3;
    for (const auto& c : camera_codes)
    {
        SCOPED_TRACE(c.format);
        harness t;
        gst_harness_set_src_caps_str(t.h, caps_of(c, width, height).c_str());
        const auto px = test_pixels(c.bits, width, height);
        const size_t stride = line_bytes(c.bits, width) + 5;
        GstBuffer* in = exact_buffer(pack_frame(c.bits, px, width, height, stride));
        add_stride_meta(in, width, height, static_cast<gint>(stride));
        GST_BUFFER_PTS(in) = 42 * GST_MSECOND;
        ASSERT_EQ(gst_harness_push(t.h, in), GST_FLOW_OK);

        GstBuffer* out = gst_harness_pull(t.h);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(caps_field(t.h, "name"), c.out_media);
        EXPECT_EQ(caps_field(t.h, "format"), c.out_format);
        EXPECT_EQ(caps_field(t.h, "width"), std::to_string(width));
        EXPECT_EQ(caps_field(t.h, "height"), std::to_string(height));
        EXPECT_EQ(caps_field(t.h, "framerate"), "30/1");
        EXPECT_EQ(GST_BUFFER_PTS(out), 42 * GST_MSECOND);
        const size_t sample = std::string(c.out_format) == "GRAY16_LE" ? 2 : 1;
        expect_unpacked(out, c.bits, sample, width, height, px);
        gst_buffer_unref(out);
        EXPECT_TRUE(t.warnings().empty());
    }
}

TEST(UnpackElement, MonoBecomesGray8WhereDownstreamTakesOnlyThat)
{
    constexpr int width = 16;
    constexpr int height = 2;
    harness t;
    gst_harness_set_sink_caps_str(t.h, "video/x-raw,format=GRAY8");
    gst_harness_set_src_caps_str(t.h, caps_of(camera_codes[10], width, height).c_str());
    const auto px = test_pixels(12, width, height);
    // No video meta: the lines are taken as unpadded.
    ASSERT_EQ(gst_harness_push(
                  t.h, exact_buffer(pack_frame(12, px, width, height, line_bytes(12, width)))),
              GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(t.h);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(caps_field(t.h, "format"), "GRAY8");
    expect_unpacked(out, 12, 1, width, height, px);
    gst_buffer_unref(out);
}

std::string caps_text(GstCaps* caps)
{
    gchar* text = gst_caps_to_string(caps);
    std::string out = text;
    g_free(text);
    return out;
}

// What upstream may send follows from what downstream takes: the colour order stays, the
// size passes through.
TEST(UnpackElement, UpstreamIsOfferedTheFormatsThatBecomeWhatDownstreamTakes)
{
    harness t;
    gst_harness_set_sink_caps_str(t.h, "video/x-bayer,format=rggb,width=640,height=480");
    GstCaps* upstream = gst_pad_peer_query_caps(t.h->srcpad, nullptr);
    const std::string text = caps_text(upstream);
    gst_caps_unref(upstream);
    for (const char* f : {"rggb10m", "rggb12m", "pwl-rggb12m", "width=(int)640", "height=(int)480"})
    {
        EXPECT_NE(text.find(f), std::string::npos) << f << " missing in " << text;
    }
    for (const char* f : {"bggr", "gbrg", "grbg", "GRAY", "video/x-raw"})
    {
        EXPECT_EQ(text.find(f), std::string::npos) << f << " unexpected in " << text;
    }
}

// A buffer that does not hold the frame its caps and meta describe is dropped: nothing comes
// out, nothing is read past it, and the run of bad buffers posts one warning.
TEST(UnpackElement, BuffersThatDoNotHoldTheirFrameAreDroppedWithAWarning)
{
    constexpr int width = 64;
    constexpr int height = 4;
    const size_t line = line_bytes(12, width); // 96
    harness t;
    gst_harness_set_src_caps_str(t.h, caps_of(camera_codes[4], width, height).c_str());
    const auto px = test_pixels(12, width, height);
    const auto frame = pack_frame(12, px, width, height, line);

    auto short_frame = frame;
    short_frame.pop_back();
    GstBuffer* too_short = exact_buffer(short_frame);
    ASSERT_EQ(gst_harness_push(t.h, too_short), GST_FLOW_OK);
    EXPECT_EQ(gst_harness_try_pull(t.h), nullptr);
    const auto first = t.warnings();
    ASSERT_EQ(first.size(), 1U);
    EXPECT_NE(first[0].find("Buffer is shorter than the frame"), std::string::npos) << first[0];

    // A padded stride the buffer does not hold, a stride below the line, a negative stride and
    // a first line past the end: dropped as well, no further warning in the same run.
    GstBuffer* padded = exact_buffer(frame);
    add_stride_meta(padded, width, height, static_cast<gint>(line + 4));
    GstBuffer* narrow = exact_buffer(frame);
    add_stride_meta(narrow, width, height, static_cast<gint>(line - 1));
    GstBuffer* negative = exact_buffer(frame);
    add_stride_meta(negative, width, height, -static_cast<gint>(line));
    GstBuffer* beyond = exact_buffer(frame);
    add_stride_meta(beyond, width, height, static_cast<gint>(line), frame.size() + 1);
    for (GstBuffer* bad : {padded, narrow, negative, beyond})
    {
        ASSERT_EQ(gst_harness_push(t.h, bad), GST_FLOW_OK);
        EXPECT_EQ(gst_harness_try_pull(t.h), nullptr);
    }
    EXPECT_TRUE(t.warnings().empty());

    // A good frame passes and ends the run; the next bad one warns again.
    ASSERT_EQ(gst_harness_push(t.h, exact_buffer(frame)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_try_pull(t.h);
    ASSERT_NE(out, nullptr);
    expect_unpacked(out, 12, 1, width, height, px);
    gst_buffer_unref(out);
    GstBuffer* narrow_again = exact_buffer(frame);
    add_stride_meta(narrow_again, width, height, static_cast<gint>(line - 1));
    ASSERT_EQ(gst_harness_push(t.h, narrow_again), GST_FLOW_OK);
    const auto second = t.warnings();
    ASSERT_EQ(second.size(), 1U);
    EXPECT_NE(second[0].find("Line stride is smaller"), std::string::npos) << second[0];
}

TEST(UnpackElement, CapsWithoutASizeAreRefused)
{
    harness t;
    gst_harness_play(t.h);
    ASSERT_TRUE(gst_harness_push_event(t.h, gst_event_new_stream_start("unpack-test")));
    // Caps are sticky: the pad keeps the event, the element's refusal shows on the data.
    gst_harness_push_event(
        t.h, gst_event_new_caps(gst_caps_from_string("video/x-bayer,format=bggr12m")));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    gst_harness_push_event(t.h, gst_event_new_segment(&segment));
    EXPECT_EQ(gst_harness_push(t.h, exact_buffer(std::vector<uint8_t>(96, 0x10))),
              GST_FLOW_NOT_NEGOTIATED);
    EXPECT_EQ(gst_harness_try_pull(t.h), nullptr);
    GstMessage* msg = gst_bus_pop_filtered(t.bus, GST_MESSAGE_ERROR);
    ASSERT_NE(msg, nullptr);
    GError* err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    EXPECT_STREQ(err->message,
                 "Cannot unpack these caps: Frame width or height is missing or zero");
    g_error_free(err);
    gst_message_unref(msg);
}

} // namespace
