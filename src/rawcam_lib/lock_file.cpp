#include "lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace linux_helper {

lock_file::~lock_file()
{
    reset();
}

lock_file::lock_file(lock_file&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{}

lock_file& lock_file::operator=(lock_file&& other) noexcept
{
    if (this != &other)
    {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

void lock_file::reset() noexcept
{
    if (fd_ != -1)
    {
        (void)::lockf(fd_, F_ULOCK, 0);
        (void)::close(fd_);
        fd_ = -1;
    }
}

korsa_cam::result<lock_file> lock_file::acquire(const std::string& path)
{
    // Close-on-exec: a program this process starts must not carry the descriptor along (the
    // lock itself stays with this process either way).
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        return std::error_code(errno, std::generic_category());
    }
    if (::lockf(fd, F_TLOCK, 0) != 0)
    {
        ::close(fd);
        // EACCES or EAGAIN, by system: either way someone else holds it.
        return std::make_error_code(std::errc::permission_denied);
    }
    return lock_file(fd, path);
}

} // namespace linux_helper
