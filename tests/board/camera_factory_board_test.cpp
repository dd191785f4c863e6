// The camera factory and the camera selection on the simulated IMX290 board, with nothing
// injected: the board is brought up, the camera kept, the lock taken at its real place. The
// simulated machine's /var/lock is a folder of this test process's own (KORSA_SIM_LOCK_DIR),
// so the machine's lock file is never touched and tests running at the same time do not get
// in each other's way.

#include "camera_bind.h"
#include "lock_holder_process.h"
#include "pi_cam_factory.h"

#include "korsa_sim/board_sim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class FactoryOnBoard : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Read by the simulator on the first lock file opened, so it is set before any.
        static std::string dir = [] {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "korsa-sim-lock-XXXXXX").string();
            if (::mkdtemp(pattern.data()) == nullptr)
            {
                return std::string();
            }
            ::setenv("KORSA_SIM_LOCK_DIR", pattern.c_str(), 1);
            return pattern;
        }();
        lock_dir = dir;
    }
    static void TearDownTestSuite()
    {
        // What this process keeps it keeps until exit; the folder goes with its last test.
    }
    void SetUp() override
    {
        ASSERT_FALSE(lock_dir.empty());
        ASSERT_EQ(korsa_sim_active(), 1);
        korsa_sim_set_unplugged(0);
    }
    static std::string lock_path() { return lock_dir + "/korsasrc.lock"; }

    static inline std::string lock_dir;
};

// The library's own entry: the board's camera with its serial from the identification EEPROM,
// the lock taken on "/var/lock/korsasrc.lock" (here the simulated machine's) and held, the
// camera kept and handed out again.
TEST_F(FactoryOnBoard, OpensTheBoardsCameraAndLocksTheDefaultLockFile)
{
    auto opened = korsa_cam::create_camera_object("");
    ASSERT_TRUE(opened) << opened.error().message();
    EXPECT_EQ(opened.value().serial, "40110000");
    ASSERT_TRUE(opened.value().camera);
    EXPECT_EQ(opened.value().camera->get_device_info().name, "IMX290 Direct Camera");
    EXPECT_FALSE(opened.value().camera->get_available_stream_types().empty());
    EXPECT_TRUE(std::filesystem::exists(lock_path()));
    EXPECT_FALSE(test_support::lockable_by_another_process(lock_path()));

    auto again = korsa_cam::create_camera_object("40110000");
    ASSERT_TRUE(again);
    EXPECT_EQ(again.value().camera, opened.value().camera);
}

// Every serial but exactly "virt" goes to the hardware path and gets the kept camera with the
// serial it really has.
TEST_F(FactoryOnBoard, CameraSelectionSendsEveryOtherSerialToTheHardware)
{
    auto first = gst_korsa::create_camera_object("");
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(first.value().serial, "40110000");
    for (const char* serial : {"Virt", "VIRT", "virt ", " virt", "40110000"})
    {
        auto r = gst_korsa::create_camera_object(serial);
        ASSERT_TRUE(r) << "'" << serial << "': " << r.error().message();
        EXPECT_EQ(r.value().serial, "40110000") << "'" << serial << "'";
        // A serial other than the kept one brings the board up anew.
        first = std::move(r);
    }
    auto virt = gst_korsa::create_camera_object("virt");
    ASSERT_TRUE(virt);
    EXPECT_EQ(virt.value().serial, "virt");
    EXPECT_NE(virt.value().camera, first.value().camera);
}

// The board goes away: the kept camera stops answering, the next open tries to bring the
// board up again and fails with the bus error, keeping the lock; back in place, it opens.
TEST_F(FactoryOnBoard, UnpluggedBoardFailsTheNextOpenAndKeepsTheLock)
{
    auto opened = korsa_cam::create_camera_object("");
    ASSERT_TRUE(opened) << opened.error().message();
    korsa_sim_set_unplugged(1);
    EXPECT_FALSE(opened.value().camera->test_reachable());
    auto lost = korsa_cam::create_camera_object("");
    ASSERT_FALSE(lost);
    EXPECT_NE(lost.error(), korsa_cam::make_error_code(korsa_cam::status::camera_in_use));
    EXPECT_FALSE(test_support::lockable_by_another_process(lock_path()));

    korsa_sim_set_unplugged(0);
    auto back = korsa_cam::create_camera_object("");
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_NE(back.value().camera, opened.value().camera);
    EXPECT_EQ(back.value().serial, "40110000");
}

// A second process asking while this one holds the camera is refused at once.
TEST_F(FactoryOnBoard, AnotherProcessIsRefusedWhileThisOneHoldsTheCamera)
{
    auto opened = korsa_cam::create_camera_object("");
    ASSERT_TRUE(opened) << opened.error().message();
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        // The child starts with this process's memory, holder included, but not its lock:
        // it must come to the file for it and is refused.
        korsa_cam::g_static_camera_keep_alive.lock.reset();
        auto r = korsa_cam::create_camera_object("");
        ::_exit(!r && r.error() == korsa_cam::make_error_code(korsa_cam::status::camera_in_use)
                    ? 0
                    : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // This process still has it.
    EXPECT_FALSE(test_support::lockable_by_another_process(lock_path()));
}

} // namespace
