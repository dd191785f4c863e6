// The virtual camera: frame pacing, dropped slots, patterns, status text, properties and the
// lifetime of its buffers. Timing runs on a hand-advanced clock, so nothing here sleeps.

#include "log_capture.h"
#include "manual_clock.h"
#include "overlay.h"
#include "virt_camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

namespace
{

using device_test::log_capture;
using device_test::manual_clock;
using gst_korsa::virt_cam;
using korsa_cam::buffer_desc;
using korsa_cam::prop_values;

constexpr int64_t ms = 1'000'000; // in nanoseconds

// Collects frames on the generator thread; optionally hands each one straight back.
struct frame_sink
{
    explicit frame_sink(std::shared_ptr<virt_cam> cam = nullptr, bool give_back = false)
        : camera(std::move(cam)), give_back(give_back)
    {
    }

    korsa_cam::frame_callback callback()
    {
        return [this](buffer_desc d)
        {
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
                camera->reenqueue_buffer(d.buffer_id);
            }
        };
    }

    std::vector<buffer_desc> all()
    {
        std::lock_guard lock(m);
        return frames;
    }

    void wait_for(std::size_t n)
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return frames.size() >= n; }))
            << "only " << frames.size() << " of " << n << " frames arrived";
    }

    std::shared_ptr<virt_cam> camera;
    bool give_back;
    std::function<void(const buffer_desc&)> inspect;
    std::mutex m;
    std::condition_variable cv;
    std::vector<buffer_desc> frames;
};

class VirtCam : public ::testing::Test
{
protected:
    VirtCam()
    {
        auto c = std::make_unique<manual_clock>();
        clock = c.get();
        cam = std::make_shared<virt_cam>(std::move(c));
    }

    // Sets up, starts and waits until the generator waits for its first deadline.
    void stream(img::img_type type, double fps, int buffer_count, frame_sink& sink)
    {
        auto pitch = cam->setup_stream(type, fps, sink.callback(), buffer_count);
        ASSERT_TRUE(pitch.has_value());
        ASSERT_FALSE(cam->start_streaming());
        clock->wait_for_waits(1);
    }

    manual_clock* clock = nullptr;
    std::shared_ptr<virt_cam> cam;
};

const img::img_type vga = img::make_img_type(img::fcc::BGDP, {640, 480});
const img::img_type full_hd = img::make_img_type(img::fcc::BGDP, {1920, 1080});

// Rows covered by the status text (drawn at row 320 with scale 2: 18 rows).
bool in_status_rows(int64_t row)
{
    return row >= 320 && row < 338;
}

TEST(VirtCamPeriod, TruncatesToWholeMilliseconds)
{
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(30.0), 33);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(0.9), 1111);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(1000.0), 1);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(1000.1), 0);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(5000.0), 0);
    // Rates that give no period get the longest one instead of undefined arithmetic.
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(0.0), gst_korsa::virt_cam_max_period_ms);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(-30.0), gst_korsa::virt_cam_max_period_ms);
    EXPECT_EQ(gst_korsa::virt_cam_period_ms(std::nan("")), gst_korsa::virt_cam_max_period_ms);
}

TEST_F(VirtCam, WaitsOneTruncatedPeriodPerSlotMeasuredAfterTheWork)
{
    frame_sink sink(cam, true);
    stream(vga, 30.0, 2, sink);
    clock->tick();
    clock->tick();
    const auto periods = clock->periods();
    ASSERT_EQ(periods.size(), 3u);
    for (int64_t p : periods)
    {
        EXPECT_EQ(p, 33 * ms);
    }
    cam->stop_streaming();

    frame_sink slow(cam, true);
    auto c = std::make_unique<manual_clock>();
    manual_clock* slow_clock = c.get();
    auto slow_cam = std::make_shared<virt_cam>(std::move(c));
    ASSERT_TRUE(slow_cam->setup_stream(vga, 0.9, slow.callback(), 2).has_value());
    ASSERT_FALSE(slow_cam->start_streaming());
    slow_clock->wait_for_waits(1);
    EXPECT_EQ(slow_clock->periods().at(0), 1111 * ms);
}

TEST_F(VirtCam, HeldBuffersTurnSlotsIntoDropsAndTheNextFrameIdJumps)
{
    log_capture log;
    frame_sink sink;
    stream(vga, 30.0, -4, sink); // -4 + 5 = one buffer
    clock->tick();
    ASSERT_EQ(sink.all().size(), 1u);

    for (int i = 0; i < 3; ++i)
    {
        clock->tick();
    }
    EXPECT_EQ(sink.all().size(), 1u);
    const auto drops = log.lines_starting_with("dropped frame#=");
    EXPECT_EQ(drops, (std::vector<std::string>{"dropped frame#=   2", "dropped frame#=   3",
                                               "dropped frame#=   4"}));

    cam->reenqueue_buffer(sink.all()[0].buffer_id);
    clock->tick();
    const auto frames = sink.all();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frame.frame_number, 0u);
    EXPECT_EQ(frames[0].frame.frame_id, 1u);
    EXPECT_EQ(frames[1].frame.frame_number, 1u);
    EXPECT_EQ(frames[1].frame.frame_id, 5u);
    EXPECT_FALSE(frames[1].frame.is_incomplete);
    // Capture times are clock nanoseconds: four periods lie between the two frames.
    EXPECT_EQ(frames[1].frame.cam_time - frames[0].frame.cam_time, 4 * 33 * ms);
    EXPECT_EQ(frames[1].image.pitch, 960);
    EXPECT_EQ(frames[1].image.type, vga);
    cam->stop_streaming();
}

TEST_F(VirtCam, StartingWithoutSetupOnlyDropsSlots)
{
    log_capture log;
    ASSERT_FALSE(cam->start_streaming());
    clock->wait_for_waits(1);
    clock->tick();
    clock->tick();
    EXPECT_EQ(log.lines_starting_with("dropped frame#=").size(), 2u);
    cam->stop_streaming();
    EXPECT_FALSE(cam->is_streaming());
}

TEST_F(VirtCam, FlatLevelRisesByOnePerDeliveredFrame)
{
    frame_sink sink(cam, true);
    std::vector<int> mismatches;
    sink.inspect = [&](const buffer_desc& d)
    {
        const auto level = static_cast<std::byte>(d.frame.frame_number & 0xFF);
        int bad = 0;
        for (int64_t y = 0; y < 480; ++y)
        {
            if (in_status_rows(y))
            {
                continue;
            }
            const std::byte* line = d.image.data + y * d.image.pitch;
            for (int64_t x = 0; x < d.image.pitch; ++x)
            {
                bad += line[x] != level ? 1 : 0;
            }
        }
        mismatches.push_back(bad);
    };
    stream(vga, 30.0, 0, sink);
    for (int i = 0; i < 3; ++i)
    {
        clock->tick();
    }
    cam->stop_streaming();
    EXPECT_EQ(mismatches, (std::vector<int>{0, 0, 0}));
    const auto frames = sink.all();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].frame.frame_number, 2u);
}

TEST_F(VirtCam, StripesAreSixteenPixelRunsOverEachLinesPayload)
{
    ASSERT_FALSE(cam->set_property("Stripes", prop_values::from_bool(true)));
    frame_sink sink;
    auto pitch = cam->setup_stream(full_hd, 30.0, sink.callback(), 0);
    ASSERT_TRUE(pitch.has_value());
    EXPECT_EQ(pitch.value(), 2880);
    ASSERT_FALSE(cam->start_streaming());
    clock->wait_for_waits(1);
    clock->tick();
    ASSERT_EQ(sink.all().size(), 1u);
    const buffer_desc frame = sink.all()[0];

    int bad_runs = 0;
    for (int64_t y = 0; y < 1080; ++y)
    {
        if (in_status_rows(y))
        {
            continue;
        }
        const std::byte* line = frame.image.data + y * 2880;
        for (int run = 0; run < 120; ++run)
        {
            const std::byte want = run % 2 == 0 ? std::byte{0xFF} : std::byte{0x00};
            for (int i = 0; i < 24; ++i)
            {
                if (line[run * 24 + i] != want)
                {
                    ++bad_runs;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(bad_runs, 0);
    cam->stop_streaming();
}

TEST_F(VirtCam, StatusTextShowsTheCurrentUncheckedValues)
{
    // Outside the ranges, and still taken.
    ASSERT_FALSE(cam->set_property("Gain", prop_values::from_double(100.0)));
    ASSERT_FALSE(cam->set_property("ExposureTime", prop_values::from_double(2.5)));
    frame_sink sink;
    stream(vga, 30.0, 0, sink);
    clock->tick();
    ASSERT_EQ(sink.all().size(), 1u);
    const buffer_desc frame = sink.all()[0];

    std::vector<std::byte> expected(vga.buffer_length, std::byte{0});
    img::img_descriptor image{vga, expected.data(), 960};
    const std::string text = "virt-cam, exp=2.5 gain=100";
    img_lib::overlay::render_text(image, {10, 320}, 2, text.data(),
                                  static_cast<unsigned>(text.size()), {0, 255, 0, 255},
                                  {255, 255, 255, 255});
    EXPECT_EQ(std::memcmp(frame.image.data, expected.data(), expected.size()), 0);
    cam->stop_streaming();
}

TEST_F(VirtCam, ClosingWhileStreamingStopsFirstAndKeepsLentBuffersUntilReturned)
{
    frame_sink sink;
    stream(vga, 30.0, 0, sink);
    clock->tick();
    ASSERT_EQ(sink.all().size(), 1u);
    const buffer_desc held = sink.all()[0];
    EXPECT_EQ(cam->allocated_buffers(), 5u);

    cam->close_stream();
    EXPECT_FALSE(cam->is_streaming());
    // The four free buffers are gone; the lent one is still valid memory.
    EXPECT_EQ(cam->allocated_buffers(), 1u);
    std::memset(held.image.data, 0x5A, held.image.type.buffer_length);
    EXPECT_EQ(held.image.data[held.image.type.buffer_length - 1], std::byte{0x5A});

    cam->reenqueue_buffer(held.buffer_id);
    EXPECT_EQ(cam->allocated_buffers(), 0u);
    // A second return or a foreign id is ignored.
    cam->reenqueue_buffer(held.buffer_id);
    int foreign = 0;
    cam->reenqueue_buffer(&foreign);
    EXPECT_EQ(cam->allocated_buffers(), 0u);
}

TEST_F(VirtCam, NewSetupRetiresLentBuffersAndBuffersReturnedAfterStopRest)
{
    frame_sink sink;
    stream(vga, 30.0, 0, sink);
    clock->tick();
    clock->tick();
    ASSERT_EQ(sink.all().size(), 2u);
    cam->stop_streaming();
    // Returned while stopped: kept, but not free until the next setup.
    cam->reenqueue_buffer(sink.all()[1].buffer_id);
    EXPECT_EQ(cam->allocated_buffers(), 5u);

    ASSERT_TRUE(cam->setup_stream(vga, 30.0, sink.callback(), 1).has_value());
    EXPECT_EQ(cam->allocated_buffers(), 6u + 1u); // six new ones and the still lent one
    cam->reenqueue_buffer(sink.all()[0].buffer_id);
    EXPECT_EQ(cam->allocated_buffers(), 6u);
    EXPECT_EQ(cam->setup_stream(vga, 30.0, sink.callback(), -5).value(), 960);
    EXPECT_EQ(cam->allocated_buffers(), 0u);
}

TEST(VirtCamSteadyClock, AtPeriodZeroFramesFollowEachOtherAsBuffersComeBack)
{
    auto cam = std::static_pointer_cast<virt_cam>(gst_korsa::create_virt_cam());
    frame_sink sink(cam, true);
    ASSERT_TRUE(cam->setup_stream(vga, 2000.0, sink.callback(), 0).has_value());
    ASSERT_FALSE(cam->start_streaming());
    EXPECT_FALSE(cam->start_streaming()); // already streaming: nothing happens
    sink.wait_for(20);
    cam->stop_streaming();
    const auto frames = sink.all();
    for (std::size_t i = 0; i < frames.size(); ++i)
    {
        EXPECT_EQ(frames[i].frame.frame_number, i);
        EXPECT_EQ(frames[i].frame.frame_id, i + 1); // no slot dropped
        if (i > 0)
        {
            EXPECT_GE(frames[i].frame.cam_time, frames[i - 1].frame.cam_time);
        }
    }
}

TEST(VirtCamInterface, PropertiesAreExactNamesWithUnenforcedRanges)
{
    auto cam = gst_korsa::create_virt_cam();
    const auto list = cam->get_property_list();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "ExposureTime");
    EXPECT_EQ(list[0].type, korsa_cam::property_type::real);
    EXPECT_EQ(list[0].category, "Exposure");
    EXPECT_EQ(list[0].group, "ExposureTime");
    EXPECT_EQ(list[1].name, "Gain");
    EXPECT_EQ(list[1].group, "Gain");
    EXPECT_EQ(list[2].name, "Stripes");
    EXPECT_EQ(list[2].type, korsa_cam::property_type::boolean);
    EXPECT_EQ(list[2].category, "");

    auto exposure = cam->get_property_range("ExposureTime");
    ASSERT_TRUE(exposure.has_value());
    EXPECT_EQ(exposure.value().min.as_double(), 10.0);
    EXPECT_EQ(exposure.value().max.as_double(), 1000000.0);
    EXPECT_EQ(exposure.value().default_value.as_double(), 33000.0);
    EXPECT_EQ(cam->get_property_range("Gain").value().max.as_double(), 10.0);
    EXPECT_EQ(cam->get_property_range("Stripes").value().max.as_int(), 1);
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
}

TEST(VirtCamInterface, DescribesItselfAndRefusesRegisterAccess)
{
    auto cam = gst_korsa::create_virt_cam();
    const auto info = cam->get_device_info();
    EXPECT_EQ(info.serial, "virt");
    EXPECT_EQ(info.name, "Virtual camera device");
    EXPECT_EQ(info.identifier, "virt");
    const auto types = cam->get_available_stream_types();
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types[0].type, img::fcc::BGDP);
    EXPECT_EQ(types[0].dim_min, (img::dim{640, 480}));
    EXPECT_EQ(types[0].dim_max, (img::dim{1920, 1080}));
    EXPECT_EQ(types[0].dim_step, (img::dim{4, 4}));
    EXPECT_EQ(cam->get_available_fps(img::make_img_type(img::fcc::Y800, {8, 8})),
              (korsa_cam::framerate_data{5.0, 60.0}));
    EXPECT_TRUE(cam->test_reachable());

    std::byte b{};
    std::span<std::byte> data(&b, 1);
    const auto eaddr = std::make_error_code(std::errc::address_not_available);
    EXPECT_EQ(eaddr.value(), 99);
    EXPECT_EQ(cam->read_register(0x3000, data), eaddr);
    EXPECT_EQ(cam->write_register(0x3000, data), eaddr);
}

} // namespace
