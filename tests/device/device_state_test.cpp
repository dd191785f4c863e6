// The device state's frame hand-over, counters, properties, device-lost watch and the
// lifetime of frames handed out. Frames come from a camera the test drives by hand.

#include "device_state_impl.h"
#include "fake_camera.h"
#include "manual_clock.h"
#include "virt_camera.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace
{

using device_test::fake_camera;
using gst_korsa::device_state;
using gst_korsa::device_state_hooks;
using gst_korsa::gst_buffer_desc;
using korsa_cam::prop_values;

const img::img_type small = img::make_img_type(img::fcc::BGDP, {640, 32});

device_state_hooks hooks_for(std::shared_ptr<korsa_cam::camera_itf> cam,
                             std::string serial = "FAKE01")
{
    device_state_hooks hooks;
    hooks.open_camera = [cam, serial](const std::string&) {
        return korsa_cam::camera_create_info{cam, serial};
    };
    return hooks;
}

class DeviceState : public ::testing::Test
{
protected:
    void open_and_stream(int max_queued)
    {
        ds = std::make_unique<device_state>(hooks_for(cam));
        ds->max_queued_buffers = max_queued;
        ASSERT_FALSE(ds->open("FAKE01"));
        ASSERT_TRUE(ds->setup_stream(small, 30.0).has_value());
        ASSERT_FALSE(ds->start_stream());
    }

    std::unique_ptr<gst_buffer_desc> take()
    {
        auto [desc, flushing] = ds->wait_for_next_img();
        EXPECT_FALSE(flushing);
        return std::move(desc);
    }

    static korsa_cam::frame_info numbered(uint64_t n, bool incomplete = false)
    {
        korsa_cam::frame_info info;
        info.frame_number = n;
        info.is_incomplete = incomplete;
        return info;
    }

    std::shared_ptr<fake_camera> cam = std::make_shared<fake_camera>();
    std::unique_ptr<device_state> ds;
};

TEST_F(DeviceState, QueueBoundCountsHeldFramesAndDropsGoStraightBack)
{
    open_and_stream(2);
    EXPECT_EQ(cam->setup_buffer_count(), 2);
    ASSERT_TRUE(cam->deliver(numbered(0)));
    ASSERT_TRUE(cam->deliver(numbered(1)));
    auto first = take();
    auto second = take();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->buffer.frame.frame_number, 0u);
    EXPECT_EQ(second->buffer.frame.frame_number, 1u);
    EXPECT_EQ(ds->buffers_out(), 2);

    // Both held downstream: every further frame is a drop and back at the camera at once.
    for (uint64_t n = 2; n < 5; ++n)
    {
        ASSERT_TRUE(cam->deliver(numbered(n)));
    }
    EXPECT_EQ(ds->drop_info().qum_drops, 3u);
    EXPECT_EQ(cam->returned(), 3);
    EXPECT_EQ(cam->lent_count(), 2);

    gst_korsa::destroy_gst_buffer(first.release());
    EXPECT_EQ(ds->buffers_out(), 1);
    ASSERT_TRUE(cam->deliver(numbered(5)));
    EXPECT_EQ(ds->drop_info().qum_drops, 3u);
    auto next = take();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->buffer.frame.frame_number, 5u);
    ds->requeue_buffer(std::move(next));
    ds->requeue_buffer(std::move(second));
    EXPECT_EQ(ds->buffers_out(), 0);
    EXPECT_EQ(cam->lent_count(), 0);
    EXPECT_EQ(cam->bad_returns(), 0);
}

TEST_F(DeviceState, BoundOfZeroDropsEveryFrame)
{
    open_and_stream(0);
    for (uint64_t n = 0; n < 4; ++n)
    {
        ASSERT_TRUE(cam->deliver(numbered(n)));
    }
    EXPECT_EQ(ds->drop_info().qum_drops, 4u);
    EXPECT_EQ(ds->drop_info().pck_drops, 0u);
    EXPECT_EQ(cam->returned(), 4);
    EXPECT_EQ(ds->buffers_out(), 0);
}

TEST_F(DeviceState, IncompleteFramesAreDroppedOnlyWhenAsked)
{
    open_and_stream(2);
    ds->drop_incomplete = true;
    ASSERT_TRUE(cam->deliver(numbered(0, true)));
    EXPECT_EQ(ds->drop_info().pck_drops, 1u);
    EXPECT_EQ(cam->returned(), 1);

    ds->drop_incomplete = false;
    ASSERT_TRUE(cam->deliver(numbered(1, true)));
    auto frame = take();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->buffer.frame.frame_number, 1u);
    EXPECT_TRUE(frame->buffer.frame.is_incomplete);
    EXPECT_EQ(ds->drop_info().pck_drops, 1u);
    ds->requeue_buffer(std::move(frame));
}

TEST_F(DeviceState, FlushingReturnsQueuedFramesInOrderAndWakesTheTaker)
{
    open_and_stream(3);
    for (uint64_t n = 0; n < 3; ++n)
    {
        ASSERT_TRUE(cam->deliver(numbered(n)));
    }
    EXPECT_EQ(ds->buffers_out(), 3);
    const auto delivered = cam->delivered_ids();

    ds->set_flushing_state(true);
    EXPECT_EQ(cam->returned_ids(), delivered);
    EXPECT_EQ(ds->buffers_out(), 0);
    auto [none, flushing] = ds->wait_for_next_img();
    EXPECT_FALSE(none);
    EXPECT_TRUE(flushing);
    ASSERT_TRUE(cam->deliver(numbered(3)));
    EXPECT_EQ(ds->drop_info().qum_drops, 1u);

    // A taker already waiting is woken by flushing.
    ds->set_flushing_state(false);
    auto waiter = std::async(std::launch::async, [&] { return ds->wait_for_next_img(); });
    ds->set_flushing_state(true);
    auto [woken, woken_flushing] = waiter.get();
    EXPECT_FALSE(woken);
    EXPECT_TRUE(woken_flushing);

    ds->set_flushing_state(false);
    ASSERT_TRUE(cam->deliver(numbered(4)));
    auto frame = take();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->buffer.frame.frame_number, 4u);
    ds->requeue_buffer(std::move(frame));
}

TEST_F(DeviceState, StopStreamWakesAWaitingTakerWithEndOfStream)
{
    open_and_stream(3);
    ASSERT_TRUE(cam->deliver(numbered(0)));
    auto held = take();
    ASSERT_TRUE(held);
    auto waiter = std::async(std::launch::async, [&] { return ds->wait_for_next_img(); });
    ds->stop_stream();
    auto [none, flushing] = waiter.get();
    EXPECT_FALSE(none);
    EXPECT_FALSE(flushing); // end of stream, not flushing
    EXPECT_FALSE(cam->deliver(numbered(1)));

    // The frame still held comes back after the stop.
    ds->requeue_buffer(std::move(held));
    EXPECT_EQ(cam->lent_count(), 0);
    EXPECT_EQ(cam->returned(), cam->delivered());
}

TEST_F(DeviceState, StoppingReturnsFramesStillQueued)
{
    open_and_stream(3);
    ASSERT_TRUE(cam->deliver(numbered(0)));
    ASSERT_TRUE(cam->deliver(numbered(1)));
    ds->stop_stream();
    EXPECT_EQ(cam->returned_ids(), cam->delivered_ids());
    EXPECT_EQ(cam->lent_count(), 0);

    // Restarting counts afresh; a frame of the earlier stream released late lowers only its
    // own stream's count.
    ASSERT_FALSE(ds->start_stream());
    ASSERT_TRUE(cam->deliver(numbered(2)));
    auto frame = take();
    ds->stop_stream();
    ASSERT_FALSE(ds->start_stream());
    ASSERT_TRUE(cam->deliver(numbered(3)));
    EXPECT_EQ(ds->buffers_out(), 1);
    gst_korsa::destroy_gst_buffer(frame.release());
    EXPECT_EQ(ds->buffers_out(), 1);
}

TEST_F(DeviceState, FrameRateIsMeasuredOverThreeSecondWindows)
{
    int64_t now = 5'000'000'000;
    auto hooks = hooks_for(cam);
    hooks.now_us = [&now] { return now; };
    ds = std::make_unique<device_state>(hooks);
    ds->max_queued_buffers = 0; // dropped frames count too
    ASSERT_FALSE(ds->open("FAKE01"));
    ASSERT_TRUE(ds->setup_stream(small, 30.0).has_value());
    ASSERT_FALSE(ds->start_stream());

    // 30 frames per second. The first window opens with its first frame counted and closes
    // at the 91st (3.0 s later); the following ones count 90 frames per 3 s.
    auto deliver_for = [&](int frames)
    {
        for (int i = 0; i < frames; ++i)
        {
            now += 33'334;
            ASSERT_TRUE(cam->deliver());
        }
    };
    ASSERT_TRUE(cam->deliver());
    deliver_for(89);
    EXPECT_EQ(ds->measured_fps(), 0.0);
    deliver_for(1);
    EXPECT_NEAR(ds->measured_fps(), 91.0 / 3.0, 0.01);
    deliver_for(89);
    EXPECT_NEAR(ds->measured_fps(), 91.0 / 3.0, 0.01);
    deliver_for(1);
    EXPECT_NEAR(ds->measured_fps(), 30.0, 0.01);

    // A new stream starts measuring from scratch.
    ds->stop_stream();
    ASSERT_FALSE(ds->start_stream());
    EXPECT_EQ(ds->measured_fps(), 0.0);
}

TEST_F(DeviceState, LostDeviceIsReportedOnceFromTheWatcherThread)
{
    auto hooks = hooks_for(cam);
    hooks.poll_interval = std::chrono::milliseconds(1);
    ds = std::make_unique<device_state>(hooks);
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> reports;
    std::string thread_name;
    cam->on_reachability_test = [&]
    {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        std::lock_guard lock(m);
        thread_name = name;
    };
    ds->device_lost_callback = [&](const std::string& serial)
    {
        std::lock_guard lock(m);
        reports.push_back(serial);
        cv.notify_all();
    };
    cam->reachable = false;
    ASSERT_FALSE(ds->open("FAKE01"));
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return !reports.empty(); }));
    }
    ds->close(); // joins the watcher: nothing can be reported after this
    EXPECT_EQ(reports, std::vector<std::string>{"FAKE01"});
    EXPECT_EQ(cam->reachable_calls.load(), 1);
    EXPECT_EQ(thread_name, "korsa-devlost");
}

TEST_F(DeviceState, ReachableCameraIsPolledUntilClose)
{
    auto hooks = hooks_for(cam);
    hooks.poll_interval = std::chrono::milliseconds(1);
    ds = std::make_unique<device_state>(hooks);
    std::promise<void> polled_twice;
    std::atomic<int> calls{0};
    cam->on_reachability_test = [&]
    {
        if (++calls == 2)
        {
            polled_twice.set_value();
        }
    };
    bool lost = false;
    ds->device_lost_callback = [&](const std::string&) { lost = true; };
    ASSERT_FALSE(ds->open("FAKE01"));
    polled_twice.get_future().wait();
    ds->close();
    EXPECT_FALSE(lost);
}

TEST_F(DeviceState, OpenTakesTheSerialOfTheCameraActuallyOpened)
{
    std::string requested = "unset";
    device_state_hooks hooks;
    hooks.open_camera = [&](const std::string& serial)
    {
        requested = serial;
        return korsa_cam::camera_create_info{cam, "SN4711"};
    };
    ds = std::make_unique<device_state>(hooks);
    ASSERT_FALSE(ds->open(""));
    EXPECT_EQ(requested, "");
    EXPECT_EQ(ds->serial, "SN4711");
    EXPECT_TRUE(ds->is_open());
    ds->close();
    EXPECT_EQ(ds->serial, "");
    EXPECT_FALSE(ds->is_open());
}

TEST_F(DeviceState, FailedOpenReturnsTheErrorAndLeavesNothingOpen)
{
    device_state_hooks hooks;
    hooks.open_camera = [](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info>
    { return korsa_cam::make_error_code(korsa_cam::status::camera_in_use); };
    ds = std::make_unique<device_state>(hooks);
    EXPECT_EQ(ds->open("X"), korsa_cam::make_error_code(korsa_cam::status::camera_in_use));
    EXPECT_FALSE(ds->is_open());
    EXPECT_EQ(ds->serial, "");
}

TEST(DeviceStateClosed, AnswersEmptyOrBadFileDescriptor)
{
    device_state ds;
    const auto ebadf = std::make_error_code(std::errc::bad_file_descriptor);
    EXPECT_EQ(ds.start_stream(), ebadf);
    EXPECT_EQ(ds.setup_stream(small, 30.0).error(), ebadf);
    EXPECT_EQ(ds.sensor_debug_set(1, 2), ebadf);
    EXPECT_EQ(ds.sensor_debug_get(1), -1);
    EXPECT_TRUE(ds.get_device_list().empty());
    EXPECT_TRUE(ds.get_available_stream_types().empty());
    EXPECT_TRUE(ds.get_available_fps(small).empty());
    auto [none, flushing] = ds.wait_for_next_img();
    EXPECT_FALSE(none);
    EXPECT_FALSE(flushing);
    ds.stop_stream();
    ds.close_stream();
    ds.requeue_buffer(korsa_cam::buffer_id_type{nullptr});
    gst_korsa::destroy_gst_buffer(nullptr);
}

TEST_F(DeviceState, ShowOverlayIsAPropertyOfItsOwnAndDrawsIntoTakenFrames)
{
    open_and_stream(2);
    const auto& list = ds->get_property_list();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Gain");
    EXPECT_EQ(list[1].name, "ShowOverlay");
    EXPECT_EQ(list[1].type, korsa_cam::property_type::boolean);
    EXPECT_EQ(list[1].category, "Special");
    EXPECT_EQ(list[1].group, "ShowOverlay");
    EXPECT_EQ(list[1].flags, korsa_cam::property_flag_debug);
    const auto range = ds->get_property_range("ShowOverlay").value();
    EXPECT_EQ(range.flags, 0);
    EXPECT_FALSE(range.min.as_bool());
    EXPECT_TRUE(range.max.as_bool());
    EXPECT_EQ(range.step.as_int(), 1);

    // Without the overlay, the frame stays as the camera filled it.
    ASSERT_TRUE(cam->deliver());
    auto plain = take();
    const int64_t pitch = plain->buffer.image.pitch;
    const std::byte* under_text = plain->buffer.image.data + 10 * pitch + 15;
    EXPECT_EQ(*under_text, std::byte{0x33});
    ds->requeue_buffer(std::move(plain));

    ASSERT_FALSE(ds->set_property("ShowOverlay", prop_values::from_bool(true)));
    EXPECT_TRUE(ds->get_property("ShowOverlay").value().as_bool());
    EXPECT_TRUE(ds->show_overlay);
    ASSERT_TRUE(cam->deliver());
    auto drawn = take();
    // Row 10 is the red border row of the first line: luma 76 in each pixel's high byte.
    EXPECT_EQ(drawn->buffer.image.data[10 * pitch + 15], std::byte{76});
    ds->requeue_buffer(std::move(drawn));

    // Other names go to the camera unchanged.
    ASSERT_FALSE(ds->set_property("Gain", prop_values::from_double(2.0)));
    EXPECT_EQ(ds->get_property("Gain").value().as_double(), 2.0);
    EXPECT_EQ(ds->get_property("gain").error(), std::make_error_code(std::errc::invalid_argument));
}

// Frames handed out may come back after their stream, their device state or the element
// is gone. With the virtual camera the memory they point at must stay valid until then and
// be freed afterwards.
class FrameLifetime : public ::testing::Test
{
protected:
    FrameLifetime()
    {
        auto c = std::make_unique<device_test::manual_clock>();
        clock = c.get();
        cam = std::make_shared<gst_korsa::virt_cam>(std::move(c));
        // Hands out the fixture's camera without keeping a reference of its own.
        device_state_hooks hooks;
        hooks.open_camera = [this](const std::string&) {
            return korsa_cam::camera_create_info{cam, "virt"};
        };
        ds = std::make_unique<device_state>(hooks);
    }

    std::unique_ptr<gst_buffer_desc> stream_and_take()
    {
        EXPECT_FALSE(ds->open("virt"));
        EXPECT_TRUE(
            ds->setup_stream(img::make_img_type(img::fcc::BGDP, {640, 480}), 30.0).has_value());
        EXPECT_FALSE(ds->start_stream());
        clock->wait_for_waits(1);
        clock->tick();
        auto [frame, flushing] = ds->wait_for_next_img();
        EXPECT_TRUE(frame);
        return std::move(frame);
    }

    // Touches every byte: AddressSanitizer reports it if the memory was freed.
    static void touch(const gst_buffer_desc& frame)
    {
        std::memset(frame.buffer.image.data, 0x11, frame.buffer.image.type.buffer_length);
    }

    device_test::manual_clock* clock = nullptr;
    std::shared_ptr<gst_korsa::virt_cam> cam;
    std::unique_ptr<device_state> ds;
};

TEST_F(FrameLifetime, ReleasedAfterCloseStream)
{
    auto frame = stream_and_take();
    ds->close_stream();
    EXPECT_FALSE(cam->is_streaming());
    EXPECT_EQ(cam->allocated_buffers(), 1u);
    touch(*frame);
    gst_korsa::destroy_gst_buffer(frame.release());
    EXPECT_EQ(cam->allocated_buffers(), 0u);
}

TEST_F(FrameLifetime, ReleasedAfterTheDeviceStateClosedWhileStreaming)
{
    auto frame = stream_and_take();
    ds->close(); // still streaming: stops, closes and lets go of the camera
    std::weak_ptr<gst_korsa::virt_cam> watch = cam;
    cam.reset();
    ASSERT_FALSE(watch.expired()); // the frame keeps its camera
    touch(*frame);
    gst_korsa::destroy_gst_buffer(frame.release());
    EXPECT_TRUE(watch.expired());
}

TEST_F(FrameLifetime, ReleasedAfterTheDeviceStateWasDestroyed)
{
    auto frame = stream_and_take();
    std::weak_ptr<gst_korsa::virt_cam> watch = cam;
    cam.reset();
    ds.reset();
    ASSERT_FALSE(watch.expired());
    touch(*frame);
    gst_korsa::destroy_gst_buffer(frame.release());
    EXPECT_TRUE(watch.expired());
}

} // namespace
