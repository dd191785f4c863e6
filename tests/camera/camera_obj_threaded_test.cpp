// The camera object's locking against the receiver's threads: a frame callback still running
// when the stream stops or closes, frames coming back from other threads while streams are
// set up and closed, and the device state's lock order on top of it.

#include "camera_test_support.h"
#include "device_state_impl.h"
#include "wait_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <random>
#include <thread>

using camera_test::make_camera;
using mmal_test::sim_stats;

namespace {

const img::img_type small_bgap = img::make_img_type(img::fcc::BGAP, {64, 16});

struct disable_latch
{
    test_wait::latch disabling;
    static void fire(MMAL_PORT_T*, void* self)
    {
        static_cast<disable_latch*>(self)->disabling.set();
    }
};

enum class ending
{
    stop,
    close
};

class CameraInTransit
    : public mmal_test::sim_test,
      public ::testing::WithParamInterface<std::tuple<ending, korsa_vc_sim_flush_thread>>
{};

} // namespace

// A frame callback is running when stop or close starts; once the disable is under way it
// hands its frame back, which takes the camera's stream lock. The stop or close waits for
// that callback, so it must not hold the lock meanwhile (it would deadlock here). The frame
// ends in its pool, and nothing is left of the stream after close.
TEST_P(CameraInTransit, FrameReturnedFromACallbackInTransitDoesNotDeadlock)
{
    const auto [how, flush] = GetParam();
    korsa_vc_sim_set_flush_thread(flush);
    auto [cam, sensor] = make_camera();
    korsa_cam::impl::camera_obj* raw = cam.get();
    disable_latch obs;
    korsa_vc_sim_set_disable_observer(&disable_latch::fire, &obs);
    test_wait::latch entered;
    std::atomic<bool> returned{false};
    ASSERT_TRUE(cam->setup_stream(
        small_bgap, 30.0,
        [&](korsa_cam::buffer_desc d) {
            entered.set();
            EXPECT_TRUE(obs.disabling.wait());
            raw->reenqueue_buffer(d.buffer_id);
            returned = true;
        },
        2));
    ASSERT_FALSE(cam->start_streaming());
    MMAL_PORT_T* port = camera_test::receiver_port();
    auto ticker = std::async(std::launch::async, [port] { return korsa_vc_sim_tick(port); });
    ASSERT_TRUE(entered.wait());
    test_wait::must_return(how == ending::stop ? "stop_streaming" : "close_stream", [&] {
        if (how == ending::stop)
        {
            cam->stop_streaming();
        }
        else
        {
            cam->close_stream();
        }
    });
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(ticker.get(), 1);
    if (how == ending::stop)
    {
        EXPECT_EQ(sim_stats().free_headers, sim_stats().live_headers);
        cam->close_stream();
    }
    EXPECT_EQ(sim_stats().live_pools, 0u);
    EXPECT_EQ(cam->retired_pool_count(), 0u);
    korsa_vc_sim_set_disable_observer(nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Camera, CameraInTransit,
    ::testing::Combine(::testing::Values(ending::stop, ending::close),
                       ::testing::Values(KORSA_VC_SIM_FLUSH_ON_DISABLING_THREAD,
                                         KORSA_VC_SIM_FLUSH_ON_CALLBACK_THREAD)));

namespace {

class CameraThreads : public mmal_test::sim_test
{};

// Frames handed to other threads, which give them back after a while, in any order.
class returning_consumers
{
public:
    returning_consumers(korsa_cam::camera_itf& cam, int threads) : cam_(cam)
    {
        for (int i = 0; i < threads; ++i)
        {
            threads_.emplace_back([this, i] { run(static_cast<unsigned>(i)); });
        }
    }
    ~returning_consumers()
    {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_)
        {
            t.join();
        }
    }
    void take(korsa_cam::buffer_id_type id)
    {
        {
            std::lock_guard lock(m_);
            pending_.push_back(id);
            ++taken_;
        }
        cv_.notify_one();
    }
    uint64_t taken()
    {
        std::lock_guard lock(m_);
        return taken_;
    }

private:
    void run(unsigned seed)
    {
        std::mt19937 rng(seed);
        std::unique_lock lock(m_);
        for (;;)
        {
            cv_.wait(lock, [this] { return done_ || !pending_.empty(); });
            if (pending_.empty())
            {
                return; // done, and everything given back
            }
            const std::size_t pick = rng() % pending_.size();
            const auto id = pending_[pick];
            pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(pick));
            lock.unlock();
            std::this_thread::yield();
            cam_.reenqueue_buffer(id);
            lock.lock();
        }
    }

    korsa_cam::camera_itf& cam_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<korsa_cam::buffer_id_type> pending_;
    uint64_t taken_ = 0;
    bool done_ = false;
    std::vector<std::thread> threads_;
};

} // namespace

// Streams set up, started, stopped and closed one after another at a high frame rate, while
// two threads give frames back whenever they get to it (before, during and after each close).
// Every buffer comes home exactly once and every pool goes with its last buffer.
TEST_F(CameraThreads, FramesReturnedFromOtherThreadsAcrossStreamCycles)
{
    korsa_vc_sim_set_delivery_mode(KORSA_VC_SIM_DELIVERY_TIMED);
    auto [cam, sensor] = make_camera();
    uint64_t delivered = 0;
    {
        returning_consumers consumers(*cam, 2);
        for (int cycle = 0; cycle < 6; ++cycle)
        {
            test_wait::latch some_frames;
            std::atomic<int> frames{0};
            ASSERT_TRUE(cam->setup_stream(
                small_bgap, 2000.0,
                [&](korsa_cam::buffer_desc d) {
                    consumers.take(d.buffer_id);
                    if (++frames == 20)
                    {
                        some_frames.set();
                    }
                },
                4));
            ASSERT_FALSE(cam->start_streaming());
            ASSERT_TRUE(some_frames.wait());
            if (cycle % 2 == 0)
            {
                cam->stop_streaming();
            }
            cam->close_stream(); // also from streaming: close stops the receiver
            delivered += static_cast<uint64_t>(frames.load());
        }
    }
    EXPECT_GE(delivered, 6u * 20u);
    EXPECT_EQ(cam->retired_pool_count(), 0u);
    EXPECT_EQ(sim_stats().live_pools, 0u);
    EXPECT_EQ(sim_stats().invalid_header_releases, 0u);
    EXPECT_EQ(sim_stats().invalid_sends, 0u);
}

// The device state on the hardware camera: it returns frames under its queue lock (flushing,
// dropping) and the camera calls it from the receiver's thread, so the two locks must always
// be taken in the same order: the device state's before the camera's.
TEST_F(CameraThreads, DeviceStateStreamsFromTheCameraObject)
{
    korsa_vc_sim_set_delivery_mode(KORSA_VC_SIM_DELIVERY_TIMED);
    auto [cam, sensor] = make_camera();
    std::shared_ptr<korsa_cam::camera_itf> shared = cam;
    gst_korsa::device_state_hooks hooks;
    hooks.open_camera = [shared](const std::string&) {
        return korsa_cam::result<korsa_cam::camera_create_info>(
            korsa_cam::camera_create_info{shared, "12345678"});
    };
    gst_korsa::device_state ds(hooks);
    ASSERT_FALSE(ds.open(""));
    EXPECT_EQ(ds.serial, "12345678");
    ds.max_queued_buffers = 2;
    for (int cycle = 0; cycle < 3; ++cycle)
    {
        ds.close_stream();
        ASSERT_TRUE(ds.setup_stream(small_bgap, 1000.0));
        ASSERT_FALSE(ds.start_stream());
        std::vector<gst_korsa::gst_buffer_desc_ptr> held;
        for (int i = 0; i < 10; ++i)
        {
            auto [frame, flushing] = ds.wait_for_next_img();
            ASSERT_TRUE(frame);
            EXPECT_FALSE(flushing);
            EXPECT_EQ(frame->buffer.image.type, small_bgap);
            held.push_back(std::move(frame));
            if (held.size() > 1)
            {
                held.erase(held.begin()); // downstream lets go of the older one
            }
        }
        // Unlock as the element does on a flush: queued frames go back under the queue lock
        // while the receiver keeps delivering.
        ds.set_flushing_state(true);
        auto [none, flushing] = ds.wait_for_next_img();
        EXPECT_FALSE(none);
        EXPECT_TRUE(flushing);
        ds.stop_stream();
        ds.set_flushing_state(false);
        if (cycle == 2)
        {
            // Held downstream past the device's close: valid until released.
            const uint32_t number = korsa_vc_sim_frame_number(held.back()->buffer.image.data);
            ds.close();
            EXPECT_EQ(sim_stats().live_pools, 1u);
            EXPECT_GT(sim_stats().locked_vcsm_handles, 0u);
            // Still the same memory with the same frame in it (freed memory would also be
            // reported by AddressSanitizer here).
            EXPECT_EQ(korsa_vc_sim_frame_number(held.back()->buffer.image.data), number);
        }
        held.clear();
    }
    EXPECT_EQ(sim_stats().live_pools, 0u);
}
