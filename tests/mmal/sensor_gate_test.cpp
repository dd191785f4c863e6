// When the simulated camera board is loaded, the receiver delivers only while its sensor
// streams. This program plays the board by exporting the function the board exports.

#include "mmal_test_support.h"
#include "pi_rawcam.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
std::atomic<int> sensor_streaming{0};
} // namespace

extern "C" __attribute__((visibility("default"))) int korsa_sim_sensor_streaming(void)
{
    return sensor_streaming.load();
}

namespace {
class SensorGate : public mmal_test::sim_test
{};
} // namespace

TEST_F(SensorGate, FramesFlowOnlyWhileTheSensorStreams)
{
    mmal::pi::raspirawcam_component cam;
    mmal::pi::csi_settings s;
    s.width = 64;
    s.height = 16;
    s.bit_depth = 10;
    s.fps = 30.0;
    ASSERT_FALSE(cam.setup(s, 0, 0));
    int frames = 0;
    ASSERT_FALSE(cam.start([&](mmal::buffer_header& b) {
        ++frames;
        cam.requeue_buffer(b.release());
    }));
    MMAL_PORT_T* port = korsa_vc_sim_rawcam_output();
    EXPECT_EQ(korsa_vc_sim_tick(port), 0);
    sensor_streaming = 1;
    EXPECT_EQ(korsa_vc_sim_tick(port), 1);
    EXPECT_EQ(korsa_vc_sim_tick(port), 1);
    sensor_streaming = 0;
    EXPECT_EQ(korsa_vc_sim_tick(port), 0);
    EXPECT_EQ(frames, 2);
    cam.close();
}
