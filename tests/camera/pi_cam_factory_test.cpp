// The camera factory: exclusive access through the lock file, the kept camera and its reuse,
// with a lock folder of the test's own and a camera creation the test controls.

#include "pi_cam_factory.h"

#include "lock_holder_process.h"
#include "log_capture.h"
#include "null_camera.h"
#include "rawcam_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

class answering_camera : public test_support::null_camera
{
public:
    explicit answering_camera(std::string serial) : serial_(std::move(serial)) {}
    korsa_cam::device_info get_device_info() override { return {serial_, "Test board", ""}; }
    bool test_reachable() override { return reachable.load(); }

    std::atomic<bool> reachable{true};

private:
    std::string serial_;
};

class CameraFactory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "korsa-lock-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        hooks_.lock_directory = dir_;
        hooks_.create_camera = [this](const korsa_cam::setup_parameter& p)
            -> korsa_cam::result<std::shared_ptr<korsa_cam::camera_itf>> {
            parameters_.push_back(p);
            if (create_error_)
            {
                return create_error_;
            }
            auto cam = std::make_shared<answering_camera>(next_serial_);
            made_.push_back(cam);
            return std::shared_ptr<korsa_cam::camera_itf>(cam);
        };
    }
    void TearDown() override
    {
        holder_ = {};
        std::filesystem::remove_all(dir_);
    }

    korsa_cam::result<korsa_cam::camera_create_info> open(const std::string& serial)
    {
        return korsa_cam::create_camera_object(serial, holder_, mutex_, hooks_);
    }
    std::string lock_path() const { return dir_ + korsa_cam::lock_file_name; }

    std::string dir_;
    korsa_cam::camera_factory_hooks hooks_;
    korsa_cam::cam_holder holder_;
    std::mutex mutex_;
    std::vector<korsa_cam::setup_parameter> parameters_;
    std::vector<std::shared_ptr<answering_camera>> made_;
    std::string next_serial_ = "40110000";
    std::error_code create_error_;
};

// Two opens with an empty serial (and one with the kept serial) share one camera; the lock is
// taken once and held, so no other process can take it.
TEST_F(CameraFactory, OpensInOneProcessShareTheCameraAndTheLock)
{
    test_support::log_capture log;
    auto first = open("");
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(first.value().serial, "40110000");
    ASSERT_TRUE(holder_.lock);
    const linux_helper::lock_file* lock = holder_.lock.get();
    const int fd = lock->fd();
    EXPECT_EQ(lock->path(), lock_path());

    auto second = open("");
    auto third = open("40110000");
    ASSERT_TRUE(second);
    ASSERT_TRUE(third);
    EXPECT_EQ(second.value().camera, first.value().camera);
    EXPECT_EQ(third.value().camera, first.value().camera);
    EXPECT_EQ(third.value().serial, "40110000");
    EXPECT_EQ(made_.size(), 1u);
    EXPECT_EQ(holder_.lock.get(), lock);
    EXPECT_EQ(holder_.lock->fd(), fd);
    // The creation asks for the default bus and lets the board name its sensor.
    ASSERT_EQ(parameters_.size(), 1u);
    EXPECT_EQ(parameters_[0].i2c_bus, -1);
    EXPECT_EQ(parameters_[0].sensor_type, "");

    EXPECT_FALSE(test_support::lockable_by_another_process(lock_path()));
    EXPECT_EQ(log.lines_starting_with("gst_korsa::create_camera_object=").size(), 3u);
    EXPECT_TRUE(log.has(spdlog::level::trace, "gst_korsa::create_camera_object='40110000'"));

    // Only the end of the holder (process exit) gives the lock up.
    first = second = third = korsa_cam::camera_create_info{};
    holder_ = {};
    EXPECT_TRUE(test_support::lockable_by_another_process(lock_path()));
}

// A kept camera that no longer answers, or another serial asked for, is let go and a new one
// brought up; its own serial is returned, whatever was asked for.
TEST_F(CameraFactory, UnreachableOrOtherSerialRecreatesTheCamera)
{
    auto first = open("");
    ASSERT_TRUE(first);
    made_[0]->reachable = false;
    next_serial_ = "40110001";
    auto second = open("");
    ASSERT_TRUE(second);
    EXPECT_NE(second.value().camera, first.value().camera);
    EXPECT_EQ(second.value().serial, "40110001");
    EXPECT_EQ(made_.size(), 2u);

    next_serial_ = "40110002";
    auto third = open("99999999");
    ASSERT_TRUE(third);
    EXPECT_EQ(third.value().serial, "40110002");
    EXPECT_EQ(holder_.serial, "40110002");
    EXPECT_EQ(made_.size(), 3u);
    // The holder let go of the replaced camera; only the caller's reference is left.
    EXPECT_EQ(made_[1].use_count(), 2); // made_ and second
}

// Another process has the camera: status 7 and the log line, without waiting, and nothing is
// kept; once it is gone the next call takes the lock.
TEST_F(CameraFactory, LockHeldByAnotherProcessIsCameraInUseAndRetried)
{
    test_support::lock_holder_process other(lock_path());
    ASSERT_TRUE(other.holding());
    test_support::log_capture log;
    auto refused = open("");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), korsa_cam::make_error_code(korsa_cam::status::camera_in_use));
    EXPECT_EQ(refused.error().value(), 7);
    EXPECT_TRUE(log.has(spdlog::level::err, "Failed to acquire 'korsasrc.lock'."));
    EXPECT_FALSE(holder_.lock);
    EXPECT_TRUE(made_.empty());

    other.release();
    auto opened = open("");
    ASSERT_TRUE(opened) << opened.error().message();
    EXPECT_TRUE(holder_.lock);
    EXPECT_EQ(made_.size(), 1u);
}

// A lock file that cannot be opened for another reason than permission: that errno.
TEST_F(CameraFactory, LockFolderMissingIsTheOpenError)
{
    hooks_.lock_directory = dir_ + "missing/";
    test_support::log_capture log;
    auto r = open("");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(ENOENT, std::generic_category()));
    EXPECT_TRUE(log.has(spdlog::level::err, "Failed to acquire 'korsasrc.lock'."));
    EXPECT_FALSE(holder_.lock);
    EXPECT_TRUE(parameters_.empty());
}

// A failed creation keeps the lock (the board may come back) and keeps no camera; the next
// call goes straight to creation.
TEST_F(CameraFactory, CreationFailureKeepsTheLock)
{
    create_error_ = std::make_error_code(std::errc::no_such_device);
    auto r = open("");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::errc::no_such_device);
    ASSERT_TRUE(holder_.lock);
    const auto lock = holder_.lock;
    EXPECT_FALSE(holder_.camera);
    EXPECT_EQ(holder_.serial, "");
    EXPECT_FALSE(test_support::lockable_by_another_process(lock_path()));

    create_error_ = {};
    auto again = open("");
    ASSERT_TRUE(again);
    EXPECT_EQ(holder_.lock, lock);
    EXPECT_EQ(parameters_.size(), 2u);

    // A creator that reports success without a camera hands out nothing.
    hooks_.create_camera = [](const korsa_cam::setup_parameter&) {
        return korsa_cam::result<std::shared_ptr<korsa_cam::camera_itf>>(
            std::shared_ptr<korsa_cam::camera_itf>{});
    };
    made_[0]->reachable = false;
    auto empty = open("");
    ASSERT_FALSE(empty);
    EXPECT_FALSE(holder_.camera);
}

// Opens from several threads at once are serialised: one creation, one camera for all.
TEST_F(CameraFactory, ConcurrentOpensShareOneCreation)
{
    std::vector<std::shared_ptr<korsa_cam::camera_itf>> got(4);
    {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < got.size(); ++i)
        {
            threads.emplace_back([this, &got, i] {
                auto r = open("");
                if (r)
                {
                    got[i] = r.value().camera;
                }
            });
        }
        for (auto& t : threads)
        {
            t.join();
        }
    }
    EXPECT_EQ(made_.size(), 1u);
    for (auto& cam : got)
    {
        EXPECT_EQ(cam, got[0]);
        EXPECT_TRUE(cam);
    }
}

// The lock object itself: moving hands the lock over, and only the last owner's end frees it.
TEST(LockFile, MoveHandsTheLockOverAndTheEndReleasesIt)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korsa-lock-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::string path = pattern + "/korsasrc.lock";
    {
        auto acquired = linux_helper::lock_file::acquire(path);
        ASSERT_TRUE(acquired) << acquired.error().message();
        linux_helper::lock_file moved(std::move(acquired.value()));
        EXPECT_EQ(acquired.value().fd(), -1);
        EXPECT_EQ(moved.path(), path);
        EXPECT_FALSE(test_support::lockable_by_another_process(path));
        linux_helper::lock_file other;
        other = std::move(moved);
        EXPECT_EQ(moved.fd(), -1);
        EXPECT_FALSE(test_support::lockable_by_another_process(path));
    }
    EXPECT_TRUE(test_support::lockable_by_another_process(path));
    std::filesystem::remove_all(pattern);
}

} // namespace
