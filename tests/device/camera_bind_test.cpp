// Which camera a serial opens.

#include "camera_bind.h"

#include <gtest/gtest.h>

namespace {

TEST(CameraBind, VirtOpensANewVirtualCameraEachTime)
{
    auto a = gst_korsa::create_camera_object("virt");
    auto b = gst_korsa::create_camera_object("virt");
    ASSERT_TRUE(a.has_value());
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(a.value().serial, "virt");
    ASSERT_TRUE(a.value().camera);
    EXPECT_EQ(a.value().camera->get_device_info().name, "Virtual camera device");
    EXPECT_NE(a.value().camera, b.value().camera);
}

// Every other serial goes to the hardware path: tests/board/camera_factory_board_test.cpp,
// on the simulated board, with the lock file in a folder of the test's own.

TEST(CameraBind, DefaultDeviceIdIsEmpty)
{
    EXPECT_EQ(gst_korsa::get_default_device_id(), "");
}

} // namespace
