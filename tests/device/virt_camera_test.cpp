// The virtual camera: frame pacing, dropped slots, patterns, status text, properties and the
// lifetime of its buffers. Timing runs on a hand-advanced clock, so nothing here sleeps.

#include "log_capture.h"
#include "manual_clock.h"
#include "overlay.h"
#include "virt_camera.h"
#include "wait_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using gst_korsa::virt_cam;
using korsa_cam::buffer_desc;
using korsa_cam::prop_values;

constexpr int64_t ms = 1'000'000; // in nanoseconds
const img::img_type vga = img::make_img_type(img::fcc::BGDP, {640, 480});

// Rows covered by the status text (drawn at row 320 with scale 2: 18 rows).
bool in_status_rows(int64_t row)
{
    return row >= 320 && row < 338;
}

class VirtCam : public ::testing::Test
{
protected:
    VirtCam()
    {
        auto c = std::make_unique<device_test::manual_clock>();
        clock = c.get();
        cam = std::make_shared<virt_cam>(std::move(c));
    }

    // Sets up, starts and waits until the generator waits for its first deadline. Frames
    // are collected on the generator thread and, with `give_back`, returned at once.
    void stream(img::img_type type, double fps, int buffer_count, bool give_back = false)
    {
        auto callback = [this, give_back](buffer_desc d) {
            if (inspect)
            {
                inspect(d);
            }
            {
                std::lock_guard lock(m);
                frames.push_back(d);
            }
            cv.notify_all();
            if (give_back)
            {
                cam->reenqueue_buffer(d.buffer_id);
            }
        };
        ASSERT_TRUE(cam->setup_stream(type, fps, callback, buffer_count).has_value());
        ASSERT_FALSE(cam->start_streaming());
        clock->wait_for_waits(1);
    }

    std::vector<buffer_desc> delivered()
    {
        std::lock_guard lock(m);
        return frames;
    }

    device_test::manual_clock* clock = nullptr;
    std::shared_ptr<virt_cam> cam;
    std::function<void(const buffer_desc&)> inspect;
    std::mutex m;
    std::condition_variable cv;
    std::vector<buffer_desc> frames;
};

TEST(VirtCamPeriod, TruncatesToWholeMilliseconds)
{
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(30.0), 33);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(0.9), 1111);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(1000.0), 1);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(1000.1), 0);
    // Rates that give no period get the longest one instead of undefined arithmetic.
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(0.0), gst_korsa::virt_cam_max_period_ms);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(-30.0), gst_korsa::virt_cam_max_period_ms);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(std::nan("")), gst_korsa::virt_cam_max_period_ms);
}

TEST_F(VirtCam, HeldBuffersTurnSlotsIntoDropsAndTheNextFrameIdJumps)
{
    test_support::log_capture log;
    stream(vga, 30.0, -4); // -4 + 5 = one buffer
    clock->tick();
    ASSERT_EQ(delivered().size(), 1u);
    for (int i = 0; i < 3; ++i)
    {
        clock->tick();
    }
    EXPECT_EQ(delivered().size(), 1u);
    EXPECT_EQ(log.lines_starting_with("dropped frame#="),
              (std::vector<std::string>{"dropped frame#=   2", "dropped frame#=   3",
                                        "dropped frame#=   4"}));

    cam->reenqueue_buffer(delivered()[0].buffer_id);
    clock->tick();
    const auto f = delivered();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].frame.frame_number, 0u);
    EXPECT_EQ(f[0].frame.frame_id, 1u);
    EXPECT_EQ(f[1].frame.frame_number, 1u);
    EXPECT_EQ(f[1].frame.frame_id, 5u);
    // Every wait is one truncated period; capture times are clock nanoseconds.
    for (int64_t p : clock->periods())
    {
        EXPECT_EQ(p, 33 * ms);
    }
    EXPECT_EQ(f[1].frame.cam_time - f[0].frame.cam_time, 4 * 33 * ms);
    EXPECT_EQ(f[1].image.pitch, 960);
    EXPECT_EQ(f[1].image.type, vga);
}

TEST_F(VirtCam, FlatLevelRisesByOnePerDeliveredFrame)
{
    std::vector<int> mismatches;
    inspect = [&](const buffer_desc& d) {
        const auto level = static_cast<std::byte>(d.frame.frame_number & 0xFF);
        int bad = 0;
        for (int64_t i = 0; i < d.image.type.buffer_length; ++i)
        {
            bad += !in_status_rows(i / 960) && d.image.data[i] != level ? 1 : 0;
        }
        mismatches.push_back(bad);
    };
    stream(vga, 30.0, 0, true);
    for (int i = 0; i < 3; ++i)
    {
        clock->tick();
    }
    cam->stop_streaming();
    EXPECT_EQ(mismatches, (std::vector<int>{0, 0, 0}));
}

TEST_F(VirtCam, StripesAreSixteenPixelRunsOverEachLinesPayload)
{
    ASSERT_FALSE(cam->set_property("Stripes", prop_values::from_bool(true)));
    stream(img::make_img_type(img::fcc::BGDP, {1920, 1080}), 30.0, 0);
    clock->tick();
    ASSERT_EQ(delivered().size(), 1u);
    const buffer_desc frame = delivered()[0];
    ASSERT_EQ(frame.image.pitch, 2880);
    int bad_runs = 0;
    for (int64_t y = 0; y < 1080; ++y)
    {
        const std::byte* line = frame.image.data + y * 2880;
        for (int run = 0; run < 120 && !in_status_rows(y); ++run) // the last run is black
        {
            const std::vector<std::byte> want(24, run % 2 == 0 ? std::byte{0xFF} : std::byte{0});
            bad_runs += std::memcmp(line + run * 24, want.data(), 24) != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(bad_runs, 0);
}

TEST_F(VirtCam, StatusTextShowsTheCurrentUncheckedValues)
{
    // Outside the ranges, and still taken.
    ASSERT_FALSE(cam->set_property("Gain", prop_values::from_double(100.0)));
    ASSERT_FALSE(cam->set_property("ExposureTime", prop_values::from_double(2.5)));
    stream(vga, 30.0, 0);
    clock->tick();
    ASSERT_EQ(delivered().size(), 1u);

    std::vector<std::byte> expected(vga.buffer_length, std::byte{0});
    const std::string text = "virt-cam, exp=2.5 gain=100";
    img_lib::overlay::render_text({vga, expected.data(), 960}, {10, 320}, 2, text.data(),
                                  static_cast<unsigned>(text.size()), {0, 255, 0, 255},
                                  {255, 255, 255, 255});
    EXPECT_EQ(std::memcmp(delivered()[0].image.data, expected.data(), expected.size()), 0);
}

TEST_F(VirtCam, ClosingWhileStreamingStopsFirstAndKeepsLentBuffersUntilReturned)
{
    stream(vga, 30.0, 0);
    clock->tick();
    ASSERT_EQ(delivered().size(), 1u);
    const buffer_desc held = delivered()[0];
    EXPECT_EQ(cam->allocated_buffers(), 5u);

    cam->close_stream();
    EXPECT_FALSE(cam->is_streaming());
    // The four free buffers are gone; the lent one is still valid memory.
    EXPECT_EQ(cam->allocated_buffers(), 1u);
    std::memset(held.image.data, 0x5A, held.image.type.buffer_length);
    // A new setup keeps it too, and it is freed when it comes back, once.
    ASSERT_TRUE(cam->setup_stream(vga, 30.0, nullptr, 0).has_value());
    EXPECT_EQ(cam->allocated_buffers(), 6u);
    cam->reenqueue_buffer(held.buffer_id);
    cam->reenqueue_buffer(held.buffer_id);
    int foreign = 0;
    cam->reenqueue_buffer(&foreign);
    EXPECT_EQ(cam->allocated_buffers(), 5u);
}

TEST(VirtCamSteadyClock, AtPeriodZeroFramesFollowEachOtherAsBuffersComeBack)
{
    auto cam = gst_korsa::create_virt_cam();
    std::mutex m;
    std::condition_variable cv;
    std::vector<korsa_cam::frame_info> frames;
    auto callback = [&](buffer_desc d) {
        cam->reenqueue_buffer(d.buffer_id);
        std::lock_guard lock(m);
        frames.push_back(d.frame);
        cv.notify_all();
    };
    ASSERT_TRUE(cam->setup_stream(vga, 2000.0, callback, 0).has_value());
    ASSERT_FALSE(cam->start_streaming());
    EXPECT_FALSE(cam->start_streaming()); // already streaming: nothing happens
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(
            cv.wait_for(lock, std::chrono::seconds(30), [&] { return frames.size() >= 20; }));
    }
    cam->stop_streaming();
    for (std::size_t i = 0; i < frames.size(); ++i)
    {
        EXPECT_EQ(frames[i].frame_number, i);
        EXPECT_EQ(frames[i].frame_id, i + 1); // no slot dropped
    }
}

TEST(VirtCamSteadyClock, AtPeriodZeroWithEveryBufferHeldTheGeneratorWaitsForOneToComeBack)
{
    test_support::log_capture log;
    auto cam = gst_korsa::create_virt_cam();
    test_wait::latch second;
    std::mutex m;
    std::vector<buffer_desc> held;
    auto callback = [&](buffer_desc d) {
        std::lock_guard lock(m);
        held.push_back(d); // kept: the only buffer stays out
        if (held.size() == 2)
        {
            second.set();
        }
    };
    ASSERT_TRUE(cam->setup_stream(vga, 2000.0, callback, -4).has_value()); // one buffer
    ASSERT_FALSE(cam->start_streaming());
    // The generator has delivered the only buffer and found none for the next slot.
    ASSERT_TRUE(log.wait_for_lines_starting_with("dropped frame#=", 1));
    buffer_desc first;
    {
        std::lock_guard lock(m);
        ASSERT_EQ(held.size(), 1u);
        first = held[0];
    }
    // It must not keep its lock while it waits for a buffer to come back.
    test_wait::must_return("reenqueue_buffer", [&] { cam->reenqueue_buffer(first.buffer_id); });
    ASSERT_TRUE(second.wait());
    ASSERT_TRUE(log.wait_for_lines_starting_with("dropped frame#=", 2));
    test_wait::must_return("stop_streaming", [&] { cam->stop_streaming(); });
    std::lock_guard lock(m);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[1].frame.frame_number, 1u);
    // Slots without a buffer still count, each one logged: the gap in frame ids is exactly
    // the slots reported as dropped before the second frame.
    std::size_t dropped_before = 0;
    for (const auto& line : log.lines_starting_with("dropped frame#="))
    {
        dropped_before += std::stoul(line.substr(15)) < held[1].frame.frame_id ? 1 : 0;
    }
    EXPECT_GE(dropped_before, 1u);
    EXPECT_EQ(held[1].frame.frame_id - held[0].frame.frame_id - 1, dropped_before);
}

TEST(VirtCamInterface, PropertiesAreExactNamesWithUnenforcedRanges)
{
    auto cam = gst_korsa::create_virt_cam();
    const auto list = cam->get_property_list();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name + list[1].name + list[2].name, "ExposureTimeGainStripes");
    EXPECT_EQ(list[0].category, "Exposure");
    EXPECT_EQ(list[2].type, korsa_cam::property_type::boolean);

    const auto exposure = cam->get_property_range("ExposureTime").value();
    EXPECT_EQ(exposure.min.as_double(), 10.0);
    EXPECT_EQ(exposure.max.as_double(), 1000000.0);
    EXPECT_EQ(exposure.default_value.as_double(), 33000.0);
    EXPECT_EQ(cam->get_property_range("Gain").value().max.as_double(), 10.0);
    // The initial exposure is not the range default.
    EXPECT_EQ(cam->get_property("ExposureTime").value().as_double(), 10.0);

    const auto einval = std::make_error_code(std::errc::invalid_argument);
    EXPECT_EQ(cam->get_property("exposuretime").error(), einval);
    EXPECT_EQ(cam->get_property_range("Stripes ").error(), einval);
    EXPECT_EQ(cam->set_property("GAIN", prop_values::from_double(3.0)), einval);
    EXPECT_EQ(cam->get_property("Gain").value().as_double(), 0.0);

    prop_values only_high_byte;
    only_high_byte.bytes[7] = 1;
    ASSERT_FALSE(cam->set_property("Stripes", only_high_byte));
    EXPECT_TRUE(cam->get_property("Stripes").value().as_bool());

    std::byte b{};
    std::span<std::byte> data(&b, 1);
    EXPECT_EQ(cam->read_register(0x3000, data).value(), 99);
    EXPECT_EQ(cam->write_register(0x3000, data).value(), 99);
    EXPECT_EQ(cam->get_available_fps(vga), (korsa_cam::framerate_data{5.0, 60.0}));
    EXPECT_EQ(cam->get_device_info().name, "Virtual camera device");
    EXPECT_EQ(cam->get_available_stream_types().at(0).dim_max, (img::dim{1920, 1080}));
}

} // namespace
