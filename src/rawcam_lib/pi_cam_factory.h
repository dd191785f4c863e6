#pragma once

// The camera library's entry point: a serial in, the open hardware camera out. The hardware
// camera is exclusive to one process per machine (a lock file) and is kept, with the lock,
// until the process exits, so later opens in the same process reuse it while it answers.
//
//   auto opened = korsa_cam::create_camera_object("");      // "" : whatever board is there
//   if (!opened) return opened.error();                     // status 7: another process has it
//   use(opened.value().camera, opened.value().serial);
//
// The serial only decides whether the kept camera may be reused (empty or equal: yes); it
// never selects among cameras, since a Pi has one camera bus. Calls are serialised by
// g_cam_holder_mtx_, held for the whole call, the camera's creation and its reachability test
// included; the camera calls nothing back into the factory, so nothing it does while the
// mutex is held can come back here.
//
// The lock is taken once per process and given up only at exit (the kernel also drops it when
// the process dies, however it dies). Closing the element does not release it: the kept
// camera stays open but idle.

#include "camera_itf.h"
#include "lock_file.h"
#include "result.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace korsa_cam {

inline constexpr const char* default_lock_directory = "/var/lock/";
inline constexpr const char* lock_file_name = "korsasrc.lock";

// What the process keeps: the camera it opened last and the lock, both until exit.
struct cam_holder
{
    std::string serial;
    std::shared_ptr<camera_itf> camera;
    std::shared_ptr<linux_helper::lock_file> lock;
    // Members go in reverse order: the lock first, then the camera, then the serial.
};

// Where the factory reaches outside itself; tests replace these, production uses the defaults.
struct camera_factory_hooks
{
    using creator =
        std::function<result<std::shared_ptr<camera_itf>>(const setup_parameter& parameter)>;

    // The lock file's folder, with its trailing slash (empty: default_lock_directory).
    std::string lock_directory;
    // Creates the hardware camera (empty: create_camera, which brings up the board).
    creator create_camera;
};

// The process-wide holder and the mutex that guards it (held for a whole
// create_camera_object call; nothing else takes it).
extern cam_holder g_static_camera_keep_alive;
extern std::mutex g_cam_holder_mtx_;

// Opens (or reuses) the hardware camera with the process-wide holder and the real lock file.
// Errors: status camera_in_use (7) when another process holds the lock or the lock file may not
// be opened for lack of permission; the open's errno otherwise; the creation's error unchanged.
result<camera_create_info> create_camera_object(const std::string& serial);

// The same with a holder, its mutex and hooks of the caller's.
result<camera_create_info> create_camera_object(const std::string& serial, cam_holder& holder,
                                                std::mutex& holder_mutex,
                                                const camera_factory_hooks& hooks);

} // namespace korsa_cam
