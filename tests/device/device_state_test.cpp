// The device state's frame hand-over, counters, properties, device-lost watch and the
// lifetime of frames handed out. Frames come from a camera the test drives by hand.

#include "device_state_impl.h"
#include "fake_camera.h"
#include "manual_clock.h"
#include "virt_camera.h"
#include "wait_helpers.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>

namespace {

using device_test::fake_camera;
using gst_korsa::destroy_gst_buffer;
using gst_korsa::device_state;
using gst_korsa::device_state_hooks;
using gst_korsa::gst_buffer_desc_ptr;
using korsa_cam::prop_values;

const img::img_type small = img::make_img_type(img::fcc::BGDP, {640, 32});

korsa_cam::frame_info numbered(uint64_t n, bool incomplete = false)
{
    korsa_cam::frame_info info;
    info.frame_number = n;
    info.is_incomplete = incomplete;
    return info;
}

class DeviceState : public ::testing::Test
{
protected:
    DeviceState()
    {
        hooks.open_camera = [this](const std::string&) {
            return korsa_cam::camera_create_info{cam, "FAKE01"};
        };
    }

    void open_and_stream(int max_queued)
    {
        ds = std::make_unique<device_state>(hooks);
        ds->max_queued_buffers = max_queued;
        ASSERT_FALSE(ds->open("FAKE01"));
        ASSERT_TRUE(ds->setup_stream(small, 30.0).has_value());
        ASSERT_FALSE(ds->start_stream());
    }

    gst_buffer_desc_ptr take()
    {
        auto [desc, flushing] = ds->wait_for_next_img();
        EXPECT_FALSE(flushing);
        return std::move(desc);
    }

    std::size_t returned() const { return cam->returned_ids().size(); }

    std::shared_ptr<fake_camera> cam = std::make_shared<fake_camera>();
    device_state_hooks hooks;
    std::unique_ptr<device_state> ds;
};

TEST_F(DeviceState, QueueBoundCountsHeldFramesAndDropsGoStraightBack)
{
    open_and_stream(2);
    EXPECT_EQ(cam->setup_buffer_count, 2);
    ASSERT_TRUE(cam->deliver(numbered(0)));
    ASSERT_TRUE(cam->deliver(numbered(1)));
    auto first = take();
    auto second = take();
    EXPECT_EQ(first->buffer.frame.frame_number, 0u);
    EXPECT_EQ(second->buffer.frame.frame_number, 1u);
    EXPECT_EQ(ds->buffers_out(), 2);

    // Both held downstream: every further frame is a drop and back at the camera at once.
    for (uint64_t n = 2; n < 5; ++n)
    {
        ASSERT_TRUE(cam->deliver(numbered(n)));
    }
    EXPECT_EQ(ds->drop_info().qum_drops, 3u);
    EXPECT_EQ(returned(), 3u);
    EXPECT_EQ(cam->lent_count(), 2);

    destroy_gst_buffer(first.release());
    EXPECT_EQ(ds->buffers_out(), 1);
    ASSERT_TRUE(cam->deliver(numbered(5)));
    auto next = take();
    EXPECT_EQ(next->buffer.frame.frame_number, 5u);
    ds->requeue_buffer(std::move(next));
    ds->requeue_buffer(std::move(second));
    EXPECT_EQ(ds->drop_info().qum_drops, 3u);
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
    EXPECT_EQ(returned(), 4u);
}

TEST_F(DeviceState, IncompleteFramesAreDroppedOnlyWhenAsked)
{
    open_and_stream(2);
    ds->drop_incomplete = true;
    ASSERT_TRUE(cam->deliver(numbered(0, true)));
    EXPECT_EQ(ds->drop_info().pck_drops, 1u);
    EXPECT_EQ(returned(), 1u);

    ds->drop_incomplete = false;
    ASSERT_TRUE(cam->deliver(numbered(1, true)));
    auto frame = take();
    EXPECT_EQ(frame->buffer.frame.frame_number, 1u);
    EXPECT_TRUE(frame->buffer.frame.is_incomplete);
    EXPECT_EQ(ds->drop_info().pck_drops, 1u);
}

TEST_F(DeviceState, FlushingReturnsQueuedFramesInOrderAndWakesTheTaker)
{
    open_and_stream(3);
    for (uint64_t n = 0; n < 3; ++n)
    {
        ASSERT_TRUE(cam->deliver(numbered(n)));
    }
    ds->set_flushing_state(true);
    EXPECT_EQ(cam->returned_ids(), cam->delivered_ids());
    EXPECT_EQ(ds->buffers_out(), 0);
    EXPECT_EQ(ds->wait_for_next_img(), std::make_pair(gst_buffer_desc_ptr(), true));
    ASSERT_TRUE(cam->deliver(numbered(3)));
    EXPECT_EQ(ds->drop_info().qum_drops, 1u);

    ds->set_flushing_state(false);
    auto waiter = std::async(std::launch::async, [&] { return ds->wait_for_next_img(); });
    ds->set_flushing_state(true);
    EXPECT_EQ(waiter.get(), std::make_pair(gst_buffer_desc_ptr(), true));

    ds->set_flushing_state(false);
    ASSERT_TRUE(cam->deliver(numbered(4)));
    EXPECT_EQ(take()->buffer.frame.frame_number, 4u);
}

TEST_F(DeviceState, StopStreamWakesTheTakerAndEveryFrameStillComesBack)
{
    open_and_stream(3);
    ASSERT_TRUE(cam->deliver(numbered(0)));
    auto held = take();
    auto waiter = std::async(std::launch::async, [&] { return ds->wait_for_next_img(); });
    ds->stop_stream();
    // End of stream, not flushing.
    EXPECT_EQ(waiter.get(), std::make_pair(gst_buffer_desc_ptr(), false));
    EXPECT_FALSE(cam->deliver(numbered(1)));
    ds->requeue_buffer(std::move(held)); // released after the stop

    // A frame still queued at a stop goes back to the camera at once.
    ASSERT_FALSE(ds->start_stream());
    ASSERT_TRUE(cam->deliver(numbered(2)));
    ds->stop_stream();
    EXPECT_EQ(cam->lent_count(), 0);
    EXPECT_EQ(cam->returned_ids(), cam->delivered_ids());
    EXPECT_EQ(cam->bad_returns(), 0);
}

TEST_F(DeviceState, EachStreamCountsItsOwnFrames)
{
    open_and_stream(1);
    ASSERT_TRUE(cam->deliver(numbered(0)));
    auto old = take();
    ds->stop_stream();
    ASSERT_FALSE(ds->start_stream());
    ASSERT_TRUE(cam->deliver(numbered(1)));
    EXPECT_EQ(ds->buffers_out(), 1);
    // A frame of the earlier stream released late must not open a slot in this one.
    destroy_gst_buffer(old.release());
    EXPECT_EQ(ds->buffers_out(), 1);
    ASSERT_TRUE(cam->deliver(numbered(2)));
    EXPECT_EQ(ds->drop_info().qum_drops, 1u);
}

TEST_F(DeviceState, FrameRateIsMeasuredOverThreeSecondWindows)
{
    int64_t now = 5'000'000'000;
    hooks.now_us = [&now] { return now; };
    open_and_stream(0); // dropped frames count too
    auto deliver_for = [&](int frames) {
        for (int i = 0; i < frames; ++i)
        {
            now += 33'334;
            ASSERT_TRUE(cam->deliver());
        }
    };
    // The first window opens with its first frame counted and closes 3 s later at the 91st;
    // the following ones count 90 frames per 3 s.
    ASSERT_TRUE(cam->deliver());
    deliver_for(89);
    EXPECT_EQ(ds->measured_fps(), 0.0);
    deliver_for(1);
    EXPECT_NEAR(ds->measured_fps(), 91.0 / 3.0, 0.01);
    deliver_for(90);
    EXPECT_NEAR(ds->measured_fps(), 30.0, 0.01);

    ds->stop_stream();
    ASSERT_FALSE(ds->start_stream());
    EXPECT_EQ(ds->measured_fps(), 0.0);
}

TEST_F(DeviceState, LostDeviceIsReportedOnceFromTheWatcherThread)
{
    hooks.poll_interval = std::chrono::milliseconds(1);
    ds = std::make_unique<device_state>(hooks);
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> reports;
    char thread_name[32] = {};
    cam->on_reachability_test = [&] {
        pthread_getname_np(pthread_self(), thread_name, sizeof(thread_name));
    };
    ds->device_lost_callback = [&](const std::string& serial) {
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
    EXPECT_STREQ(thread_name, "korsa-devlost");
}

TEST_F(DeviceState, OpenTakesTheSerialOfTheCameraActuallyOpenedAndCloseKeepsIt)
{
    std::string requested = "unset";
    hooks.open_camera = [&](const std::string& serial) {
        requested = serial;
        return korsa_cam::camera_create_info{cam, "SN4711"};
    };
    device_state ds(hooks);
    ASSERT_FALSE(ds.open(""));
    EXPECT_EQ(requested, "");
    EXPECT_EQ(ds.serial, "SN4711");
    ds.close();
    EXPECT_FALSE(ds.is_open());
    // The next run opens the same camera again.
    EXPECT_EQ(ds.serial, "SN4711");
    ASSERT_FALSE(ds.open(ds.serial));
    EXPECT_EQ(requested, "SN4711");

    hooks.open_camera = [](const std::string&) -> korsa_cam::result<korsa_cam::camera_create_info> {
        return korsa_cam::make_error_code(korsa_cam::status::camera_in_use);
    };
    device_state failing(hooks);
    EXPECT_EQ(failing.open("X"), korsa_cam::make_error_code(korsa_cam::status::camera_in_use));
    EXPECT_FALSE(failing.is_open());
    // Not any camera the library would pick next time, but the one asked for.
    EXPECT_EQ(failing.serial, "X");
}

// A loss report may run into the application: an element error whose bus handler sets the
// pipeline to NULL closes this device state, on the watcher thread itself or on another
// thread that holds a lock the report then waits for (the element's state lock).
TEST_F(DeviceState, CloseFromInsideTheLossReportReturns)
{
    hooks.poll_interval = std::chrono::milliseconds(1);
    ds = std::make_unique<device_state>(hooks);
    test_wait::latch closed;
    ds->device_lost_callback = [&](const std::string&) {
        ds->close();
        closed.set();
    };
    cam->reachable = false;
    ASSERT_FALSE(ds->open("FAKE01"));
    if (!closed.wait())
    {
        test_wait::deadlocked("close on the watcher thread");
    }
    EXPECT_FALSE(ds->is_open());
    EXPECT_EQ(ds->serial, "FAKE01");
    // Open again: a new watcher, and the old one is not joined by mistake.
    cam->reachable = true;
    ASSERT_FALSE(ds->open("FAKE01"));
    ds->close();
}

TEST_F(DeviceState, CloseDoesNotWaitForALossReportThatWaitsForTheClosingThread)
{
    hooks.poll_interval = std::chrono::milliseconds(1);
    test_wait::latch stopping;
    hooks.watcher_stopping = [&] { stopping.set(); };
    ds = std::make_unique<device_state>(hooks);

    std::mutex state_lock; // what the element's state lock is to a real report
    test_wait::latch reporting;
    test_wait::latch reported;
    ds->device_lost_callback = [&](const std::string&) {
        reporting.set();
        {
            std::lock_guard wait_for_the_closer(state_lock);
        }
        reported.set();
    };

    std::unique_lock closer_holds(state_lock);
    cam->reachable = false;
    ASSERT_FALSE(ds->open("FAKE01"));
    ASSERT_TRUE(reporting.wait());
    test_wait::must_return("close during a loss report", [&] { ds->close(); });
    EXPECT_TRUE(stopping.is_set());
    EXPECT_FALSE(reported.is_set());
    closer_holds.unlock();
    // The report finishes on its own, after close, and only once.
    ASSERT_TRUE(reported.wait());
    ds.reset();
    EXPECT_EQ(cam->reachable_calls.load(), 1);
}

TEST(DeviceStateClosed, AnswersEmptyOrBadFileDescriptor)
{
    device_state ds;
    const auto ebadf = std::make_error_code(std::errc::bad_file_descriptor);
    EXPECT_EQ(ds.start_stream(), ebadf);
    EXPECT_EQ(ds.setup_stream(small, 30.0).error(), ebadf);
    EXPECT_EQ(ds.sensor_debug_get(1), -1);
    EXPECT_TRUE(ds.get_device_list().empty());
    EXPECT_TRUE(ds.get_available_fps(small).empty());
    EXPECT_EQ(ds.wait_for_next_img(), std::make_pair(gst_buffer_desc_ptr(), false));
    ds.stop_stream();
    ds.requeue_buffer(korsa_cam::buffer_id_type{nullptr});
    destroy_gst_buffer(nullptr);
}

TEST_F(DeviceState, ShowOverlayIsAPropertyOfItsOwnAndDrawsIntoTakenFrames)
{
    open_and_stream(2);
    const auto snapshot = ds->get_property_list();
    const auto& list = *snapshot;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Gain");
    EXPECT_EQ(list[1].name, "ShowOverlay");
    EXPECT_EQ(list[1].category, "Special");
    EXPECT_EQ(list[1].flags, korsa_cam::property_flag_debug);
    EXPECT_TRUE(ds->get_property_range("ShowOverlay").value().max.as_bool());

    // Row 10 from column 10 is the overlay's red border: luma 76 in each high byte.
    const int64_t at = 10 * 960 + 15;
    ASSERT_TRUE(cam->deliver());
    EXPECT_EQ(take()->buffer.image.data[at], std::byte{0x33});
    ASSERT_FALSE(ds->set_property("ShowOverlay", prop_values::from_bool(true)));
    EXPECT_TRUE(ds->get_property("ShowOverlay").value().as_bool());
    ASSERT_TRUE(cam->deliver());
    EXPECT_EQ(take()->buffer.image.data[at], std::byte{76});

    // Other names go to the camera unchanged.
    ASSERT_FALSE(ds->set_property("Gain", prop_values::from_double(2.0)));
    EXPECT_EQ(ds->get_property("Gain").value().as_double(), 2.0);
    EXPECT_EQ(ds->get_property("gain").error(), std::make_error_code(std::errc::invalid_argument));
}

// Frames handed out may come back after their stream, their device state or the element is
// gone. With the virtual camera the memory they point at must stay valid until then and be
// freed afterwards. Touching every byte lets AddressSanitizer catch freed memory.
class FrameLifetime : public ::testing::Test
{
protected:
    FrameLifetime()
    {
        auto c = std::make_unique<device_test::manual_clock>();
        clock = c.get();
        cam = std::make_shared<gst_korsa::virt_cam>(std::move(c));
        device_state_hooks hooks; // hands out the fixture's camera, keeps no reference
        hooks.open_camera = [this](const std::string&) {
            return korsa_cam::camera_create_info{cam, "virt"};
        };
        ds = std::make_unique<device_state>(hooks);
        EXPECT_FALSE(ds->open("virt"));
        EXPECT_TRUE(ds->setup_stream(img::make_img_type(img::fcc::BGDP, {640, 480}), 30.0));
        EXPECT_FALSE(ds->start_stream());
        clock->wait_for_waits(1);
        clock->tick();
        frame = ds->wait_for_next_img().first;
        EXPECT_TRUE(frame);
        watch = cam;
    }

    void touch_and_release()
    {
        std::memset(frame->buffer.image.data, 0x11, frame->buffer.image.type.buffer_length);
        destroy_gst_buffer(frame.release());
    }

    device_test::manual_clock* clock = nullptr;
    std::shared_ptr<gst_korsa::virt_cam> cam;
    std::weak_ptr<gst_korsa::virt_cam> watch;
    std::unique_ptr<device_state> ds;
    gst_buffer_desc_ptr frame;
};

TEST_F(FrameLifetime, ReleasedAfterCloseStream)
{
    ds->close_stream();
    EXPECT_FALSE(cam->is_streaming());
    EXPECT_EQ(cam->allocated_buffers(), 1u);
    touch_and_release();
    EXPECT_EQ(cam->allocated_buffers(), 0u);
}

TEST_F(FrameLifetime, ReleasedAfterTheDeviceStateClosedWhileStreaming)
{
    ds->close(); // stops, closes and lets go of the camera
    cam.reset();
    ASSERT_FALSE(watch.expired()); // the frame keeps its camera
    touch_and_release();
    EXPECT_TRUE(watch.expired());
}

TEST_F(FrameLifetime, ReleasedAfterTheDeviceStateWasDestroyed)
{
    cam.reset();
    ds.reset();
    ASSERT_FALSE(watch.expired());
    touch_and_release();
    EXPECT_TRUE(watch.expired());
}

} // namespace
