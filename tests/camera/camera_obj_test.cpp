// The hardware camera object on the simulated receiver, with a sensor double.

#include "camera_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

using camera_test::frame_keeper;
using camera_test::make_camera;
using camera_test::tick;
using mmal_test::sim_stats;

namespace {

const img::img_type full_hd_bgap = img::make_img_type(img::fcc::BGAP, {1920, 1080});

class CameraObj : public mmal_test::sim_test
{};

} // namespace

// Each filled buffer becomes one frame: the receiver's own memory (the mapping of its shared
// block, no copy), the stream's type and pitch, a running number and the receiver's time.
TEST_F(CameraObj, FramesAreTheReceiversBuffersWithNumberTimeAndType)
{
    auto [cam, sensor] = make_camera();
    frame_keeper keeper;
    auto pitch = cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2);
    ASSERT_TRUE(pitch);
    EXPECT_EQ(pitch.value(), 2400);
    ASSERT_FALSE(cam->start_streaming());
    EXPECT_TRUE(cam->is_streaming());
    ASSERT_EQ(tick(), 1);
    ASSERT_EQ(tick(), 1);

    ASSERT_EQ(keeper.frames.size(), 2u);
    for (uint64_t i = 0; i < 2; ++i)
    {
        const korsa_cam::buffer_desc& f = keeper.frames[i];
        const auto* header = static_cast<MMAL_BUFFER_HEADER_T*>(f.buffer_id);
        EXPECT_EQ(static_cast<void*>(f.image.data), header->user_data);
        EXPECT_EQ(korsa_vc_sim_frame_number(f.image.data), i);
        EXPECT_EQ(f.image.type, full_hd_bgap);
        EXPECT_EQ(f.image.pitch, 2400);
        EXPECT_EQ(f.image.flags, 0u);
        EXPECT_EQ(f.frame.frame_number, i);
        EXPECT_EQ(f.frame.frame_id, 0u);
        EXPECT_EQ(f.frame.cam_time, header->pts);
        EXPECT_FALSE(f.frame.is_incomplete);
    }
    // The simulation's clock in manual delivery: one frame period of 1/30 s in microseconds.
    EXPECT_EQ(keeper.frames[1].frame.cam_time - keeper.frames[0].frame.cam_time, 33333);

    keeper.give_all_back(*cam);
    cam->stop_streaming();
    cam->close_stream();
}

TEST_F(CameraObj, ShortOrCorruptedBuffersAreIncompleteAndSideInformationIsNoFrame)
{
    auto [cam, sensor] = make_camera();
    frame_keeper keeper;
    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
    ASSERT_EQ(full_hd_bgap.buffer_length, 2592000u);
    ASSERT_FALSE(cam->start_streaming());
    MMAL_PORT_T* port = camera_test::receiver_port();
    ASSERT_EQ(korsa_vc_sim_inject(port, KORSA_VC_SIM_SHORT_FRAME, 2591999), 0);
    ASSERT_EQ(korsa_vc_sim_inject(port, KORSA_VC_SIM_SIDE_INFO, 0), 0);
    ASSERT_EQ(korsa_vc_sim_inject(port, KORSA_VC_SIM_CORRUPTED_FRAME, 0), 0);
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_EQ(tick(), 1);
        keeper.give_all_back(*cam);
    }
    // Every buffer is back at the port, the side-information one too: stopping hands them
    // all back from there.
    const uint64_t flushed = sim_stats().buffers_flushed;
    cam->stop_streaming();
    EXPECT_EQ(sim_stats().buffers_flushed - flushed, sim_stats().live_headers);

    ASSERT_EQ(keeper.frames.size(), 3u);
    EXPECT_TRUE(keeper.frames[0].frame.is_incomplete);
    EXPECT_TRUE(keeper.frames[1].frame.is_incomplete);
    EXPECT_FALSE(keeper.frames[2].frame.is_incomplete);
    for (uint64_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(keeper.frames[i].frame.frame_number, i);
    }
    cam->close_stream();
}

TEST_F(CameraObj, LinePitchIsTheLargerOfPayloadAndReceiverStride)
{
    const img::img_type rgdp = img::make_img_type(img::fcc::RGDP, {1920, 1080});
    {
        auto [cam, sensor] = make_camera();
        auto pitch = cam->setup_stream(
            rgdp, 30.0, [](korsa_cam::buffer_desc) {}, 0);
        ASSERT_TRUE(pitch);
        EXPECT_EQ(pitch.value(), 2880);
    }
    {
        // A receiver line of 1940 pixels: 2910 bytes, padded by the receiver to 2912.
        auto [cam, sensor] = make_camera();
        sensor->receiver_width = 1940;
        auto pitch = cam->setup_stream(
            rgdp, 30.0, [](korsa_cam::buffer_desc) {}, 0);
        ASSERT_TRUE(pitch);
        EXPECT_EQ(pitch.value(), 2912);
    }
    EXPECT_EQ(
        korsa_cam::impl::payload_bytes_per_line(img::make_img_type(img::fcc::NV12, {640, 480})),
        640);
}

TEST_F(CameraObj, SecondSetupFailsWithAlreadyConnectedAndKeepsTheStream)
{
    auto [cam, sensor] = make_camera();
    frame_keeper keeper;
    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
    const uint64_t blocks = sim_stats().live_vcsm_handles;
    auto second = cam->setup_stream(
        img::make_img_type(img::fcc::BGAP, {640, 480}), 60.0, [](korsa_cam::buffer_desc) {}, 5);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(), std::error_code(106, std::generic_category()));
    EXPECT_EQ(sensor->calls(), std::vector<std::string>{"setup_format"});
    EXPECT_EQ(sim_stats().live_vcsm_handles, blocks);
    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    ASSERT_EQ(keeper.frames.size(), 1u);
    EXPECT_EQ(keeper.frames[0].image.type, full_hd_bgap);
    keeper.give_all_back(*cam);
    cam->close_stream();
    // Closed, it can be set up anew.
    EXPECT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
}

// The sensor starts before and stops before the receiver; a sensor that fails to start
// leaves the receiver alone, a receiver that fails to start does not leave the sensor
// sending. Each start counts frames from 0.
TEST_F(CameraObj, StartAndStopOrderAndFailures)
{
    auto [cam, sensor] = make_camera();
    frame_keeper keeper;
    EXPECT_EQ(cam->start_streaming(), std::errc::bad_file_descriptor);
    EXPECT_TRUE(sensor->calls().empty());

    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
    sensor->start_error = std::make_error_code(std::errc::io_error);
    EXPECT_EQ(cam->start_streaming(), std::errc::io_error);
    EXPECT_FALSE(cam->is_streaming());
    sensor->start_error = {};

    korsa_vc_sim_fail(KORSA_VC_SIM_OP_PORT_ENABLE, 0, MMAL_ENOSPC);
    EXPECT_EQ(cam->start_streaming(), std::errc::no_space_on_device);
    EXPECT_FALSE(cam->is_streaming());

    ASSERT_FALSE(cam->start_streaming());
    EXPECT_EQ(cam->start_streaming(), std::errc::already_connected);
    ASSERT_EQ(tick(), 1);
    sensor->stop_error = std::make_error_code(std::errc::io_error); // ignored
    cam->stop_streaming();
    EXPECT_FALSE(cam->is_streaming());
    cam->stop_streaming(); // not streaming: the sensor is not asked again
    sensor->stop_error = {};
    keeper.give_all_back(*cam);

    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    ASSERT_EQ(keeper.frames.size(), 2u);
    EXPECT_EQ(keeper.frames[1].frame.frame_number, 0u);
    keeper.give_all_back(*cam);
    cam->stop_streaming();
    cam->close_stream();

    EXPECT_EQ(sensor->calls(),
              (std::vector<std::string>{"setup_format", "start_stream", "start_stream",
                                        "stop_stream", "start_stream", "stop_stream(receiver on)",
                                        "start_stream", "stop_stream(receiver on)"}));
}

TEST_F(CameraObj, FailedSetupLeavesNothingSetUp)
{
    auto [cam, sensor] = make_camera();
    sensor->setup_error = std::make_error_code(std::errc::invalid_argument);
    auto r = cam->setup_stream(
        full_hd_bgap, 30.0, [](korsa_cam::buffer_desc) {}, 2);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::errc::invalid_argument);
    EXPECT_EQ(sim_stats().live_components, 0u);
    sensor->setup_error = {};

    korsa_vc_sim_fail(KORSA_VC_SIM_OP_FORMAT_COMMIT, 0, MMAL_EIO);
    r = cam->setup_stream(
        full_hd_bgap, 30.0, [](korsa_cam::buffer_desc) {}, 2);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::errc::io_error);
    EXPECT_EQ(cam->start_streaming(), std::errc::bad_file_descriptor);
    EXPECT_TRUE(cam->setup_stream(
        full_hd_bgap, 30.0, [](korsa_cam::buffer_desc) {}, 2));
}

// A frame returned after close goes back to its pool, not to a port. Its memory stays valid
// until then, even though the receiver has let go of the pool; the pool goes with the last
// frame.
TEST_F(CameraObj, FramesHeldAcrossCloseStayValidAndAreReleasedToTheirPool)
{
    auto [cam, sensor] = make_camera();
    frame_keeper keeper;
    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    ASSERT_EQ(tick(), 1);
    cam->stop_streaming();
    cam->close_stream();
    EXPECT_EQ(sim_stats().live_components, 0u);
    EXPECT_EQ(sim_stats().live_pools, 1u);
    EXPECT_EQ(cam->retired_pool_count(), 1u);
    EXPECT_EQ(korsa_vc_sim_frame_number(keeper.frames[1].image.data), 1u);

    const uint64_t sends = sim_stats().invalid_sends;
    cam->reenqueue_buffer(keeper.held[0]);
    EXPECT_EQ(sim_stats().live_pools, 1u);
    EXPECT_EQ(sim_stats().locked_vcsm_handles, sim_stats().live_vcsm_handles);
    cam->reenqueue_buffer(keeper.held[1]);
    keeper.held.clear();
    EXPECT_EQ(sim_stats().live_pools, 0u);
    EXPECT_EQ(sim_stats().live_vcsm_handles, 0u);
    EXPECT_EQ(sim_stats().invalid_sends, sends);
    EXPECT_EQ(cam->retired_pool_count(), 0u);

    // A new stream with frames of the old one still out: each goes to its own pool.
    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    auto old_frame = keeper.held.back();
    keeper.held.clear();
    cam->stop_streaming();
    cam->close_stream();
    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 2));
    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    EXPECT_EQ(sim_stats().live_pools, 2u);
    cam->reenqueue_buffer(old_frame);
    EXPECT_EQ(sim_stats().live_pools, 1u);
    keeper.give_all_back(*cam);
    EXPECT_EQ(tick(), 1); // the current stream's frame went back to the port
    keeper.give_all_back(*cam);
    cam->stop_streaming();
    cam->close_stream();
}

TEST_F(CameraObj, ForeignOrEmptyBufferIdsAreRefusedUntouched)
{
    mmal_test::log_capture log;
    auto [cam, sensor] = make_camera();
    frame_keeper keeper;
    ASSERT_TRUE(cam->setup_stream(full_hd_bgap, 30.0, keeper.callback(), 0));
    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    MMAL_BUFFER_HEADER_T stranger{};
    cam->reenqueue_buffer(&stranger);
    cam->reenqueue_buffer(nullptr);
    EXPECT_EQ(sim_stats().invalid_header_releases, 0u);
    EXPECT_EQ(sim_stats().invalid_sends, 0u);
    EXPECT_FALSE(log.starting_with("Buffer").empty());
    keeper.give_all_back(*cam);
    cam->stop_streaming();
    cam->close_stream();
}

// The frame callback runs with no lock of the camera held: it may hand the frame back (the
// device state does so for dropped frames), ask whether the camera streams and read
// properties, all from inside the callback.
TEST_F(CameraObj, FrameCallbackMayCallBackIntoTheCamera)
{
    auto [cam, sensor] = make_camera();
    korsa_cam::impl::camera_obj* raw = cam.get();
    int frames = 0;
    ASSERT_TRUE(cam->setup_stream(
        full_hd_bgap, 30.0,
        [&frames, raw](korsa_cam::buffer_desc d) {
            ++frames;
            EXPECT_TRUE(raw->is_streaming());
            EXPECT_EQ(raw->get_device_info().serial, "12345678");
            raw->reenqueue_buffer(d.buffer_id);
        },
        0));
    ASSERT_FALSE(cam->start_streaming());
    const uint64_t free_before = sim_stats().free_headers;
    for (int i = 0; i < 5; ++i)
    {
        ASSERT_EQ(tick(), 1);
    }
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(sim_stats().free_headers, free_before);
    cam->stop_streaming();
    cam->close_stream();
}

TEST_F(CameraObj, RegisterAccessReachesTheSensorAsBytes)
{
    struct register_sensor : camera_test::streaming_sensor
    {
        std::vector<uint8_t> written;
        std::error_code sensor_register_write(uint32_t address,
                                              std::span<const uint8_t> data) override
        {
            written.assign(data.begin(), data.end());
            written.push_back(static_cast<uint8_t>(address));
            return {};
        }
        std::error_code sensor_register_read(uint32_t address, std::span<uint8_t>& data) override
        {
            // Reads fewer bytes than asked for, and says so by shortening the span.
            data[0] = static_cast<uint8_t>(address);
            data = data.first(1);
            return {};
        }
    };
    auto sensor = std::make_unique<register_sensor>();
    register_sensor* raw = sensor.get();
    auto cam = korsa_cam::create_camera(std::move(sensor), {});
    const std::byte out[2] = {std::byte{0xAB}, std::byte{0xCD}};
    EXPECT_FALSE(cam->write_register(0x42, out));
    EXPECT_EQ(raw->written, (std::vector<uint8_t>{0xAB, 0xCD, 0x42}));
    std::byte in[4] = {};
    std::span<std::byte> span(in);
    EXPECT_FALSE(cam->read_register(0x3014, span));
    EXPECT_EQ(span.size(), 1u);
    EXPECT_EQ(span.data(), in);
    EXPECT_EQ(in[0], std::byte{0x14});
}

// A camera let go while still streaming stops and closes first, so the receiver's thread never
// calls into a gone object.
TEST_F(CameraObj, DestroyedWhileStreamingStopsFirst)
{
    auto [cam, sensor] = make_camera();
    std::atomic<int> frames{0};
    korsa_cam::impl::camera_obj* raw = cam.get();
    ASSERT_TRUE(cam->setup_stream(
        full_hd_bgap, 30.0,
        [&frames, raw](korsa_cam::buffer_desc d) {
            ++frames;
            raw->reenqueue_buffer(d.buffer_id);
        },
        0));
    ASSERT_FALSE(cam->start_streaming());
    ASSERT_EQ(tick(), 1);
    cam.reset();
    EXPECT_EQ(frames.load(), 1);
    EXPECT_EQ(sim_stats().live_components, 0u);
    EXPECT_EQ(sim_stats().live_pools, 0u);
}
