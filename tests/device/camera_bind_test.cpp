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

TEST(CameraBind, EveryOtherSerialGoesToTheHardwarePath)
{
    // Without hardware support in this build the hardware path answers "no such device";
    // it never pretends a camera.
    for (const char* serial : {"Virt", "VIRT", "virt ", " virt", "", "12345678"})
    {
        auto r = gst_korsa::create_camera_object(serial);
        ASSERT_FALSE(r.has_value()) << "'" << serial << "'";
        EXPECT_EQ(r.error(), std::make_error_code(std::errc::no_such_device));
    }
    EXPECT_EQ(gst_korsa::get_default_device_id(), "");
}

} // namespace
