#include "mmal_test_support.h"
#include "pi_rawcam.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

using mmal::pi::csi_settings;
using mmal::pi::raspirawcam_component;
using mmal_test::log_capture;
using mmal_test::sim_stats;

namespace {

csi_settings make_settings(int32_t width = 640, uint32_t height = 480, uint32_t depth = 10)
{
    csi_settings s;
    s.width = width;
    s.height = height;
    s.bayer = mmal::bayer_order::rggb;
    s.bit_depth = depth;
    s.fps = 30.0;
    return s;
}

MMAL_PORT_T* out()
{
    return korsa_vc_sim_rawcam_output();
}

MMAL_PARAMETER_CAMERA_RX_CONFIG_T rx_config()
{
    MMAL_PARAMETER_CAMERA_RX_CONFIG_T cfg{};
    cfg.hdr = {MMAL_PARAMETER_CAMERA_RX_CONFIG, sizeof cfg};
    EXPECT_EQ(mmal_port_parameter_get(out(), &cfg.hdr), MMAL_SUCCESS);
    return cfg;
}

MMAL_PARAMETER_CAMERA_RX_TIMING_T rx_timing()
{
    MMAL_PARAMETER_CAMERA_RX_TIMING_T t{};
    t.hdr = {MMAL_PARAMETER_CAMERA_RX_TIMING, sizeof t};
    EXPECT_EQ(mmal_port_parameter_get(out(), &t.hdr), MMAL_SUCCESS);
    return t;
}

// Collects delivered frames; holds their headers until the test gives them back.
struct consumer
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<MMAL_BUFFER_HEADER_T*> held;
    std::vector<int64_t> pts;
    std::vector<uint32_t> numbers;
    std::vector<uint32_t> lengths;
    std::vector<uint32_t> flags;
    bool data_is_mapping = true;
    raspirawcam_component* requeue_to = nullptr; // requeue at once when set

    void operator()(mmal::buffer_header& b)
    {
        std::lock_guard lock(m);
        data_is_mapping = data_is_mapping && b.data() == b.get()->user_data &&
                          b.data() != static_cast<void*>(b.get()->data);
        pts.push_back(b.pts());
        lengths.push_back(b.length());
        flags.push_back(b.mmal_flags());
        numbers.push_back(korsa_vc_sim_frame_number(b.data()));
        if (requeue_to != nullptr)
        {
            EXPECT_FALSE(requeue_to->requeue_buffer(b.release()));
        }
        else
        {
            held.push_back(b.release());
        }
        cv.notify_all();
    }
};

class Rawcam : public mmal_test::sim_test
{};

} // namespace

TEST_F(Rawcam, NativeDepthDeliversAsReceivedWithPackedEncoding)
{
    raspirawcam_component cam;
    EXPECT_EQ(cam.stride(), 0u);
    ASSERT_FALSE(cam.setup(make_settings(1920, 1080, 10), 2, 0));
    const auto cfg = rx_config();
    EXPECT_EQ(cfg.unpack, MMAL_CAMERA_RX_CONFIG_UNPACK_NONE);
    EXPECT_EQ(cfg.pack, MMAL_CAMERA_RX_CONFIG_PACK_NONE);
    EXPECT_EQ(out()->format->encoding, MMAL_FOURCC('p', 'R', 'A', 'A'));
    EXPECT_EQ(out()->format->es->video.width, 1920u);
    EXPECT_EQ(out()->format->es->video.crop.width, 1920);
    EXPECT_EQ(out()->format->es->video.crop.height, 1080);
    EXPECT_EQ(out()->format->es->video.frame_rate.num, 30 * 65536);
    EXPECT_EQ(out()->format->es->video.frame_rate.den, 65536);
    MMAL_BOOL_T zero_copy = 0;
    mmal_port_parameter_get_boolean(out(), MMAL_PARAMETER_ZERO_COPY, &zero_copy);
    EXPECT_EQ(zero_copy, 1);
    // 1920 RAW10 pixels are 2400 bytes; the buffer gets 20 bytes per column on top.
    EXPECT_EQ(cam.stride(), 2400u);
    EXPECT_EQ(out()->buffer_size, out()->buffer_size_recommended + 38400u);
    EXPECT_EQ(out()->buffer_num, out()->buffer_num_recommended + 2u);
    EXPECT_EQ(sim_stats().live_vcsm_handles, out()->buffer_num);
    EXPECT_FALSE(cam.streaming());
}

TEST_F(Rawcam, OutputDepthEightUnpacksAndPacks)
{
    raspirawcam_component cam;
    ASSERT_FALSE(cam.setup(make_settings(640, 480, 10), 0, 8));
    const auto cfg = rx_config();
    EXPECT_EQ(cfg.unpack, MMAL_CAMERA_RX_CONFIG_UNPACK_10);
    EXPECT_EQ(cfg.pack, MMAL_CAMERA_RX_CONFIG_PACK_8);
    EXPECT_EQ(out()->format->encoding, MMAL_FOURCC('R', 'G', 'G', 'B'));
    EXPECT_EQ(cam.stride(), 640u);
    // Asking for the native depth is the same as asking for nothing.
    ASSERT_FALSE(cam.setup(make_settings(640, 480, 12), 0, 12));
    EXPECT_EQ(rx_config().unpack, MMAL_CAMERA_RX_CONFIG_UNPACK_NONE);
    EXPECT_EQ(out()->format->encoding, MMAL_FOURCC('p', 'R', '1', '2'));
}

TEST_F(Rawcam, ZeroFieldsKeepTheReceiverValues)
{
    raspirawcam_component cam;
    ASSERT_FALSE(cam.setup(make_settings(), 0, 0));
    const auto kept = rx_config();
    const auto kept_timing = rx_timing();
    EXPECT_EQ(kept.data_lanes, 2u);
    EXPECT_EQ(kept.image_id, 0x2Bu);
    EXPECT_EQ(kept.embedded_data_lines, 0u);

    auto s = make_settings();
    s.data_lanes = 4;
    s.image_id = 0x2C;
    s.embedded_data_lines = 2;
    s.term_override = true;
    ASSERT_FALSE(cam.setup(s, 0, 0));
    const auto set = rx_config();
    EXPECT_EQ(set.data_lanes, 4u);
    EXPECT_EQ(set.image_id, 0x2Cu);
    EXPECT_EQ(set.embedded_data_lines, 2u);
    const auto t = rx_timing();
    EXPECT_EQ(t.term1, 1u);
    EXPECT_EQ(t.term2, 1u);
    EXPECT_EQ(t.timing3, kept_timing.timing3);
    EXPECT_NE(kept_timing.term1, 1u); // the override really changed something
}

TEST_F(Rawcam, FrameRateIsRoundedToSixteenBitFraction)
{
    raspirawcam_component cam;
    auto s = make_settings();
    s.fps = 29.97; // 1964113.92 / 65536
    ASSERT_FALSE(cam.setup(s, 0, 0));
    EXPECT_EQ(out()->format->es->video.frame_rate.num, 1964114);
    s.fps = 1.0 + 0.5 / 65536.0; // exactly half way: away from zero
    ASSERT_FALSE(cam.setup(s, 0, 0));
    EXPECT_EQ(out()->format->es->video.frame_rate.num, 65537);
}

TEST_F(Rawcam, FourteenBitCommitFailureClosesAndReturnsTheError)
{
    log_capture log;
    raspirawcam_component cam;
    const std::error_code ec = cam.setup(make_settings(640, 480, 14), 0, 0);
    EXPECT_EQ(ec, std::error_code(EINVAL, std::generic_category()));
    EXPECT_TRUE(log.has(spdlog::level::err, "14 is not not one of the handled bit depths\n"));
    const auto warn = log.starting_with("Failed to setup raspi rawcam. Ex=Failed to commit format");
    ASSERT_EQ(warn.size(), 1u);
    EXPECT_EQ(warn[0].level, spdlog::level::warn);
    EXPECT_EQ(warn[0].file, "src/mmal_lib/pi_rawcam");
    EXPECT_EQ(sim_stats().live_components, 0u);
    EXPECT_EQ(cam.stride(), 0u);
    EXPECT_EQ(cam.start([](mmal::buffer_header&) {}), std::errc::bad_file_descriptor);
}

TEST_F(Rawcam, PlatformFailuresCloseAndMapTheirCodes)
{
    raspirawcam_component cam;
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_COMPONENT_CREATE, 0, MMAL_ENOMEM);
    EXPECT_EQ(cam.setup(make_settings(), 0, 0).value(), ENOMEM);
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_PARAMETER_GET, 1, MMAL_EIO);
    EXPECT_EQ(cam.setup(make_settings(), 0, 0).value(), EIO);
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_COMPONENT_ENABLE, 0, MMAL_ENOSPC);
    EXPECT_EQ(cam.setup(make_settings(), 0, 0).value(), ENOSPC);
    // A pool that cannot be built is not a system error: connection aborted.
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_VCSM_LOCK, 2, MMAL_SUCCESS);
    EXPECT_EQ(cam.setup(make_settings(), 0, 0).value(), ECONNABORTED);
    EXPECT_EQ(sim_stats().live_components, 0u);
    EXPECT_EQ(sim_stats().live_vcsm_handles, 0u);
    // And the receiver still works afterwards.
    EXPECT_FALSE(cam.setup(make_settings(), 0, 0));
}

TEST_F(Rawcam, AbsurdSettingsAreRefusedWithoutLeaks)
{
    raspirawcam_component cam;
    std::vector<csi_settings> bad;
    auto s = make_settings();
    for (int32_t w : {0, -5, 100000, std::numeric_limits<int32_t>::max()})
    {
        s = make_settings();
        s.width = w;
        bad.push_back(s);
    }
    for (uint32_t h : {0u, 100000u, std::numeric_limits<uint32_t>::max()})
    {
        s = make_settings();
        s.height = h;
        bad.push_back(s);
    }
    for (double fps : {0.0, -30.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e9})
    {
        s = make_settings();
        s.fps = fps;
        bad.push_back(s);
    }
    for (uint32_t depth : {0u, 9u, 14u})
    {
        s = make_settings();
        s.bit_depth = depth;
        bad.push_back(s);
    }
    s = make_settings();
    s.data_lanes = 7;
    bad.push_back(s);
    for (size_t i = 0; i < bad.size(); ++i)
    {
        const std::error_code ec = cam.setup(bad[i], 0, 0);
        EXPECT_EQ(ec, std::error_code(EINVAL, std::generic_category())) << "case " << i;
        EXPECT_EQ(sim_stats().live_components, 0u) << "case " << i;
        EXPECT_EQ(sim_stats().live_vcsm_handles, 0u) << "case " << i;
    }
    // Buffer counts that cannot be represented or allocated.
    EXPECT_EQ(cam.setup(make_settings(), std::numeric_limits<unsigned>::max(), 0),
              std::errc::value_too_large);
    EXPECT_EQ(cam.setup(make_settings(), 100000, 0), std::errc::connection_aborted);
    EXPECT_EQ(sim_stats().live_vcsm_handles, 0u);
}

TEST_F(Rawcam, LifecycleCallsOutOfOrderAreHarmless)
{
    raspirawcam_component cam;
    cam.stop();
    cam.close();
    EXPECT_EQ(cam.start([](mmal::buffer_header&) {}), std::errc::bad_file_descriptor);
    ASSERT_FALSE(cam.setup(make_settings(), 0, 0));
    cam.stop(); // before start
    EXPECT_FALSE(cam.streaming());
    consumer c;
    c.requeue_to = &cam;
    ASSERT_FALSE(cam.start(std::ref(c)));
    EXPECT_TRUE(cam.streaming());
    // A second start neither fails the running stream nor pauses it.
    EXPECT_EQ(cam.start([](mmal::buffer_header&) {}), std::errc::already_connected);
    EXPECT_EQ(korsa_vc_sim_tick(out()), 1);
    cam.stop();
    EXPECT_FALSE(cam.streaming());
    EXPECT_EQ(korsa_vc_sim_tick(out()), 0);
    cam.close();
    cam.close();
    EXPECT_EQ(c.numbers.size(), 1u);
}

// Set up, start, take frames, give them back, stop, close: every frame distinct and in
// order, every header accounted for, every VCSM block freed.
TEST_F(Rawcam, StreamingDeliversOrderedFramesAndLosesNothing)
{
    raspirawcam_component cam;
    ASSERT_FALSE(cam.setup(make_settings(64, 16, 10), 1, 0));
    const uint32_t buffers = out()->buffer_num;
    const uint32_t full = cam.stride() * 16;
    consumer c;
    ASSERT_FALSE(cam.start(std::ref(c)));
    EXPECT_EQ(sim_stats().free_headers, 0u);

    constexpr size_t frames = 12;
    while (c.numbers.size() < frames)
    {
        ASSERT_EQ(korsa_vc_sim_tick(out()), 1);
        // The consumer keeps up to two frames, as a downstream element would.
        if (c.held.size() > 2)
        {
            EXPECT_FALSE(cam.requeue_buffer(c.held.front()));
            c.held.erase(c.held.begin());
        }
    }
    // With every buffer held, the receiver has nothing to fill.
    while (c.held.size() < buffers)
    {
        ASSERT_EQ(korsa_vc_sim_tick(out()), 1);
    }
    EXPECT_EQ(korsa_vc_sim_tick(out()), 0);
    for (MMAL_BUFFER_HEADER_T* h : c.held)
    {
        EXPECT_FALSE(cam.requeue_buffer(h));
    }
    c.held.clear();
    ASSERT_EQ(korsa_vc_sim_tick(out()), 1);
    cam.requeue_buffer(c.held.back());
    c.held.clear();

    ASSERT_GE(c.numbers.size(), frames);
    for (size_t i = 0; i < c.numbers.size(); ++i)
    {
        EXPECT_EQ(c.numbers[i], i);
        EXPECT_EQ(c.lengths[i], full);
        EXPECT_EQ(c.flags[i] & MMAL_BUFFER_HEADER_FLAG_FRAME_END,
                  MMAL_BUFFER_HEADER_FLAG_FRAME_END);
        if (i > 0)
        {
            EXPECT_GT(c.pts[i], c.pts[i - 1]);
        }
    }
    EXPECT_TRUE(c.data_is_mapping);
    cam.stop();
    EXPECT_EQ(sim_stats().free_headers, buffers);
    cam.close();
    EXPECT_EQ(sim_stats().vcsm_frees, buffers);
}

TEST_F(Rawcam, SpecialBuffersPassThroughUnchanged)
{
    raspirawcam_component cam;
    ASSERT_FALSE(cam.setup(make_settings(64, 16, 10), 0, 0));
    consumer c;
    c.requeue_to = &cam;
    ASSERT_FALSE(cam.start(std::ref(c)));
    ASSERT_EQ(korsa_vc_sim_inject(out(), KORSA_VC_SIM_SHORT_FRAME, 100), 0);
    ASSERT_EQ(korsa_vc_sim_inject(out(), KORSA_VC_SIM_SIDE_INFO, 0), 0);
    ASSERT_EQ(korsa_vc_sim_inject(out(), KORSA_VC_SIM_CORRUPTED_FRAME, 0), 0);
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_EQ(korsa_vc_sim_tick(out()), 1);
    }
    ASSERT_EQ(c.lengths.size(), 4u);
    EXPECT_EQ(c.lengths[0], 100u);
    EXPECT_EQ(c.flags[1], MMAL_BUFFER_HEADER_FLAG_CODECSIDEINFO);
    EXPECT_NE(c.flags[2] & MMAL_BUFFER_HEADER_FLAG_CORRUPTED, 0u);
    EXPECT_EQ(c.lengths[2], cam.stride() * 16);
    // The side-information buffer does not count as a frame.
    EXPECT_EQ(c.numbers[0], 0u);
    EXPECT_EQ(c.numbers[2], 1u);
    EXPECT_EQ(c.numbers[3], 2u);
    cam.close();
}

TEST_F(Rawcam, RequeueAfterStopReleasesTheHeader)
{
    raspirawcam_component cam;
    ASSERT_FALSE(cam.setup(make_settings(64, 16, 10), 0, 0));
    consumer c;
    ASSERT_FALSE(cam.start(std::ref(c)));
    ASSERT_EQ(korsa_vc_sim_tick(out()), 1);
    ASSERT_EQ(c.held.size(), 1u);
    cam.stop();
    const uint64_t total = sim_stats().live_headers;
    EXPECT_EQ(sim_stats().free_headers, total - 1);
    EXPECT_FALSE(cam.requeue_buffer(c.held[0]));
    EXPECT_EQ(sim_stats().free_headers, total);
    cam.close();
}

TEST_F(Rawcam, ForeignOrStaleHeadersAreRefusedUntouched)
{
    raspirawcam_component a;
    raspirawcam_component b;
    ASSERT_FALSE(a.setup(make_settings(64, 16, 10), 0, 0));
    MMAL_PORT_T* a_out = out();
    ASSERT_FALSE(b.setup(make_settings(64, 16, 10), 0, 0));
    consumer ca, cb;
    ASSERT_FALSE(a.start(std::ref(ca)));
    ASSERT_FALSE(b.start(std::ref(cb)));
    ASSERT_EQ(korsa_vc_sim_tick(a_out), 1);
    ASSERT_EQ(korsa_vc_sim_tick(out()), 1);

    EXPECT_EQ(b.requeue_buffer(ca.held[0]), std::errc::invalid_argument);
    EXPECT_EQ(b.requeue_buffer(nullptr), std::errc::invalid_argument);
    // Still a's to give back.
    EXPECT_FALSE(a.requeue_buffer(ca.held[0]));

    // After close the header's pool is gone; the receiver must not touch it.
    b.close();
    EXPECT_EQ(b.requeue_buffer(cb.held[0]), std::errc::bad_file_descriptor);
    a.close();
    // The one header b had lent out was still out when its pool went.
    EXPECT_EQ(sim_stats().headers_out_at_pool_destroy, 1u);
    korsa_vc_sim_reset_counters();
}

// close() while a frame callback is running: the close waits for the callback, the
// callback's own requeue lands on a stopping port and releases the header, nothing leaks.
TEST_F(Rawcam, CloseDuringDeliveryIsSafe)
{
    raspirawcam_component cam;
    ASSERT_FALSE(cam.setup(make_settings(64, 16, 10), 0, 0));
    std::promise<void> entered;
    std::promise<void> go;
    std::shared_future<void> go_f = go.get_future().share();
    ASSERT_FALSE(cam.start([&](mmal::buffer_header& b) {
        entered.set_value();
        go_f.wait();
        cam.requeue_buffer(b.release());
    }));
    MMAL_PORT_T* port = out();
    auto ticker = std::async(std::launch::async, [port] { return korsa_vc_sim_tick(port); });
    entered.get_future().wait();
    auto closer = std::async(std::launch::async, [&cam] { cam.close(); });
    go.set_value();
    closer.get();
    EXPECT_EQ(ticker.get(), 1);
    EXPECT_FALSE(cam.streaming());
}

TEST_F(Rawcam, TimedDeliveryStreamsOnItsOwnThread)
{
    korsa_vc_sim_set_delivery_mode(KORSA_VC_SIM_DELIVERY_TIMED);
    raspirawcam_component cam;
    auto s = make_settings(64, 16, 10);
    s.fps = 1000.0;
    ASSERT_FALSE(cam.setup(s, 0, 0));
    consumer c;
    c.requeue_to = &cam;
    ASSERT_FALSE(cam.start(std::ref(c)));
    {
        std::unique_lock lock(c.m);
        ASSERT_TRUE(
            c.cv.wait_for(lock, std::chrono::seconds(60), [&] { return c.numbers.size() >= 5; }));
    }
    cam.stop();
    cam.close();
    for (size_t i = 1; i < c.numbers.size(); ++i)
    {
        EXPECT_EQ(c.numbers[i], c.numbers[i - 1] + 1);
        EXPECT_GT(c.pts[i], c.pts[i - 1]);
    }
}
