#pragma once

// An exclusive lock on a file, held by this process for as long as the object lives: the way
// two processes on one machine agree that only one of them drives the camera.
//
//   auto lock = linux_helper::lock_file::acquire("/var/lock/korsasrc.lock");
//   if (!lock)                       // std::errc::permission_denied: another process has it
//       return lock.error();
//
// The lock is a POSIX record lock (lockf) on the whole file. Such locks belong to the
// process, not to the descriptor: closing any descriptor of the same file in this process
// drops it. So nothing else in the process may open and close the lock file while the lock
// is held. The kernel releases the lock when the process ends, however it ends.

#include "result.h"

#include <string>

namespace linux_helper {

class lock_file
{
public:
    lock_file() = default;
    // Takes over an open descriptor that holds the lock.
    lock_file(int fd, std::string path) noexcept : fd_(fd), path_(std::move(path)) {}
    // Releases the lock and closes the descriptor.
    ~lock_file();

    lock_file(lock_file&& other) noexcept;
    lock_file& operator=(lock_file&& other) noexcept;
    lock_file(const lock_file&) = delete;
    lock_file& operator=(const lock_file&) = delete;

    // Opens the file (creating it, mode 0666 before the umask) and locks it without waiting.
    // Errors: the open's errno (generic category); permission denied when another process
    // holds the lock. Never throws.
    static korsa_cam::result<lock_file> acquire(const std::string& path);

    int fd() const noexcept { return fd_; }
    const std::string& path() const noexcept { return path_; }

private:
    void reset() noexcept;

    int fd_ = -1;
    std::string path_;
};

} // namespace linux_helper
