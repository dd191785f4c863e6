// Many threads at once: a producer at full speed, a streaming thread taking frames, several
// threads releasing them, and a controller that flushes and restarts the stream over and
// over. Afterwards every frame the camera lent must have come back exactly once.

#include "device_state_impl.h"
#include "fake_camera.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using device_test::fake_camera;
using gst_korsa::gst_buffer_desc_ptr;

// Frames on their way to the releasing threads, like buffers sitting in a pipeline queue.
class release_queue
{
public:
    void push(gst_buffer_desc_ptr frame)
    {
        {
            std::lock_guard lock(m_);
            frames_.push_back(std::move(frame));
        }
        cv_.notify_one();
    }

    // Empty pointer once closed and drained.
    gst_buffer_desc_ptr pop()
    {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return !frames_.empty() || closed_; });
        if (frames_.empty())
        {
            return nullptr;
        }
        auto frame = std::move(frames_.front());
        frames_.pop_front();
        return frame;
    }

    void close()
    {
        {
            std::lock_guard lock(m_);
            closed_ = true;
        }
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<gst_buffer_desc_ptr> frames_;
    bool closed_ = false;
};

TEST(DeviceStateStress, EveryFrameReturnsExactlyOnceUnderFlushingAndRestarts)
{
    auto cam = std::make_shared<fake_camera>(6);
    gst_korsa::device_state_hooks hooks;
    hooks.open_camera = [cam](const std::string&) {
        return korsa_cam::camera_create_info{cam, "FAKE01"};
    };
    gst_korsa::device_state ds(hooks);
    ds.max_queued_buffers = 3;
    ds.show_overlay = true; // draws into every frame taken, as the element would
    ASSERT_FALSE(ds.open("FAKE01"));
    ASSERT_TRUE(ds.setup_stream(img::make_img_type(img::fcc::BGDP, {640, 32}), 30.0).has_value());
    ASSERT_FALSE(ds.start_stream());

    std::atomic<bool> done{false};
    std::atomic<long> taken{0};
    release_queue releases;

    std::thread producer([&] {
        uint64_t n = 0;
        while (!done)
        {
            korsa_cam::frame_info info;
            info.frame_number = n;
            info.is_incomplete = n % 7 == 0;
            if (cam->deliver(info))
            {
                ++n;
            }
            else
            {
                std::this_thread::yield();
            }
        }
    });
    std::thread streaming([&] {
        while (!done)
        {
            auto [frame, flushing] = ds.wait_for_next_img();
            if (frame)
            {
                ++taken;
                // Half come back through the device state, half through the GstBuffer hook.
                releases.push(std::move(frame));
            }
            else
            {
                std::this_thread::yield();
            }
        }
    });
    std::vector<std::thread> releasers;
    for (int i = 0; i < 3; ++i)
    {
        releasers.emplace_back([&, i] {
            while (auto frame = releases.pop())
            {
                if (i == 0)
                {
                    ds.requeue_buffer(std::move(frame));
                }
                else
                {
                    gst_korsa::destroy_gst_buffer(frame.release());
                }
            }
        });
    }

    for (int round = 0; round < 300; ++round)
    {
        ds.drop_incomplete = round % 2 == 0;
        ds.set_flushing_state(true);
        ds.set_flushing_state(false);
        if (round % 10 == 9)
        {
            ds.stop_stream();
            ASSERT_FALSE(ds.start_stream());
        }
        // Let frames flow between rounds: wait for progress instead of for time.
        const long before = taken;
        while (taken == before && round % 3 == 0)
        {
            std::this_thread::yield();
        }
    }

    ds.stop_stream(); // wakes the streaming thread with end of stream
    done = true;
    producer.join();
    streaming.join();
    releases.close();
    for (auto& t : releasers)
    {
        t.join();
    }
    ds.close();

    EXPECT_GE(taken.load(), 100); // every third round waited for one more frame
    EXPECT_EQ(cam->bad_returns(), 0);
    EXPECT_EQ(cam->lent_count(), 0);
    EXPECT_EQ(cam->returned_ids().size(), cam->delivered_ids().size());
    const auto drops = ds.drop_info();
    EXPECT_GT(drops.pck_drops + drops.qum_drops, 0u);
}

} // namespace
