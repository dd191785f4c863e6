// The C library entry points this library takes over. Each one decides cheaply whether the
// call concerns an emulated file or descriptor; everything else goes straight to the C
// library. No exception leaves these functions: a failure inside the simulator becomes an
// errno, never a crash of the host process.

#include "real_libc.h"
#include "simulator.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

using korsa_sim::hook_result;
using korsa_sim::simulator;

bool needs_mode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

template <typename Ret>
Ret finish(long value)
{
    if (value < 0)
    {
        errno = static_cast<int>(-value);
        return static_cast<Ret>(-1);
    }
    return static_cast<Ret>(value);
}

template <typename Fn>
hook_result guarded(Fn&& fn) noexcept
{
    try
    {
        korsa_sim::sim_scope scope;
        return fn();
    }
    catch (...)
    {
        return -EIO;
    }
}

// An emulated path, or nothing when the call is not ours.
hook_result open_hook(const char* path, int flags) noexcept
{
    if (simulator::busy_thread() || !simulator::is_emulated_path(path))
    {
        return std::nullopt;
    }
    return guarded([&] { return simulator::get().open_path(path, flags); });
}

// The simulated machine's /var/lock: with KORSA_SIM_LOCK_DIR set, a file opened under
// "/var/lock/" is the file of the same name in that folder, so processes under test share
// their lock files with each other and never with the machine's real ones. The variable is
// read once; the rewritten path lives in the caller's buffer.
constexpr const char lock_prefix[] = "/var/lock/";

const char* lock_path(const char* path, std::string& storage)
{
    static const char* const dir = std::getenv("KORSA_SIM_LOCK_DIR");
    if (dir == nullptr || *dir == '\0' || path == nullptr ||
        std::strncmp(path, lock_prefix, sizeof(lock_prefix) - 1) != 0)
    {
        return path;
    }
    try
    {
        storage.assign(dir);
        if (storage.back() != '/')
        {
            storage.push_back('/');
        }
        storage.append(path + sizeof(lock_prefix) - 1);
        return storage.c_str();
    }
    catch (...)
    {
        return path;
    }
}

int open_common(const char* path, int flags, mode_t mode, bool large)
{
    if (auto r = open_hook(path, flags))
    {
        return finish<int>(*r);
    }
    std::string storage;
    path = lock_path(path, storage);
    return large ? korsa_sim::real::open64(path, flags, mode)
                 : korsa_sim::real::open(path, flags, mode);
}

int openat_common(int dirfd, const char* path, int flags, mode_t mode, bool large)
{
    // Emulated files are known by absolute path, where the directory does not matter.
    if (path != nullptr && path[0] == '/')
    {
        if (auto r = open_hook(path, flags))
        {
            return finish<int>(*r);
        }
    }
    std::string storage;
    path = lock_path(path, storage);
    return large ? korsa_sim::real::openat64(dirfd, path, flags, mode)
                 : korsa_sim::real::openat(dirfd, path, flags, mode);
}

int fopen_flags(const char* mode)
{
    if (mode == nullptr)
    {
        return -1;
    }
    int flags = 0;
    switch (mode[0])
    {
    case 'r':
        flags = O_RDONLY;
        break;
    case 'w':
        flags = O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = O_WRONLY | O_CREAT | O_APPEND;
        break;
    default:
        return -1;
    }
    for (const char* p = mode + 1; *p != '\0'; ++p)
    {
        if (*p == '+')
            flags = (flags & ~O_ACCMODE) | O_RDWR;
        else if (*p == 'e')
            flags |= O_CLOEXEC;
        else if (*p == 'x')
            flags |= O_EXCL;
    }
    return flags;
}

FILE* fopen_common(const char* path, const char* mode, bool large)
{
    const int flags = fopen_flags(mode);
    if (flags >= 0)
    {
        if (auto r = open_hook(path, flags))
        {
            if (*r < 0)
            {
                errno = static_cast<int>(-*r);
                return nullptr;
            }
            const int fd = static_cast<int>(*r);
            FILE* f = ::fdopen(fd, mode);
            if (f == nullptr)
            {
                const int err = errno;
                ::close(fd);
                errno = err;
            }
            return f;
        }
    }
    return large ? korsa_sim::real::fopen64(path, mode) : korsa_sim::real::fopen(path, mode);
}

template <typename Fn>
hook_result fd_hook(int fd, Fn&& fn) noexcept
{
    if (!simulator::maybe_i2c_fd(fd) || simulator::busy_thread())
    {
        return std::nullopt;
    }
    return guarded(std::forward<Fn>(fn));
}

void forget_fd(int fd) noexcept
{
    if (simulator::maybe_i2c_fd(fd))
    {
        guarded([&]() -> hook_result {
            simulator::get().forget(fd);
            return 0;
        });
    }
}

void share_fd(int from, int to) noexcept
{
    if (to >= 0 && simulator::maybe_i2c_fd(from))
    {
        guarded([&]() -> hook_result {
            simulator::get().share(from, to);
            return 0;
        });
    }
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (needs_mode(flags))
    {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    return open_common(path, flags, mode, false);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (needs_mode(flags))
    {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    return open_common(path, flags, mode, true);
}

__attribute__((visibility("default"))) int __open_2(const char* path, int flags)
{
    return open_common(path, flags, 0, false);
}

__attribute__((visibility("default"))) int __open64_2(const char* path, int flags)
{
    return open_common(path, flags, 0, true);
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (needs_mode(flags))
    {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    return openat_common(dirfd, path, flags, mode, false);
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (needs_mode(flags))
    {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    return openat_common(dirfd, path, flags, mode, true);
}

__attribute__((visibility("default"))) int __openat_2(int dirfd, const char* path, int flags)
{
    return openat_common(dirfd, path, flags, 0, false);
}

__attribute__((visibility("default"))) int __openat64_2(int dirfd, const char* path, int flags)
{
    return openat_common(dirfd, path, flags, 0, true);
}

__attribute__((visibility("default"))) FILE* fopen(const char* path, const char* mode)
{
    return fopen_common(path, mode, false);
}

__attribute__((visibility("default"))) FILE* fopen64(const char* path, const char* mode)
{
    return fopen_common(path, mode, true);
}

__attribute__((visibility("default"))) ssize_t read(int fd, void* buf, size_t count)
{
    if (auto r = fd_hook(fd, [&] { return simulator::get().read(fd, buf, count); }))
    {
        return finish<ssize_t>(*r);
    }
    return korsa_sim::real::read(fd, buf, count);
}

__attribute__((visibility("default"))) ssize_t __read_chk(int fd, void* buf, size_t count,
                                                          size_t buflen)
{
    if (count <= buflen)
    {
        if (auto r = fd_hook(fd, [&] { return simulator::get().read(fd, buf, count); }))
        {
            return finish<ssize_t>(*r);
        }
    }
    return korsa_sim::real::read_chk(fd, buf, count, buflen);
}

__attribute__((visibility("default"))) ssize_t write(int fd, const void* buf, size_t count)
{
    if (auto r = fd_hook(fd, [&] { return simulator::get().write(fd, buf, count); }))
    {
        return finish<ssize_t>(*r);
    }
    return korsa_sim::real::write(fd, buf, count);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list ap;
    va_start(ap, request);
    // Every request argument fits an unsigned long (an int or a pointer).
    const unsigned long arg = va_arg(ap, unsigned long);
    va_end(ap);
    if (auto r = fd_hook(fd, [&] { return simulator::get().ioctl(fd, request, arg); }))
    {
        return finish<int>(*r);
    }
    return korsa_sim::real::ioctl(fd, request, arg);
}

__attribute__((visibility("default"))) int close(int fd)
{
    forget_fd(fd);
    return korsa_sim::real::close(fd);
}

__attribute__((visibility("default"))) int dup(int fd) noexcept
{
    const int r = korsa_sim::real::dup(fd);
    share_fd(fd, r);
    return r;
}

__attribute__((visibility("default"))) int dup2(int fd, int fd2) noexcept
{
    if (fd != fd2)
    {
        forget_fd(fd2);
    }
    const int r = korsa_sim::real::dup2(fd, fd2);
    if (fd != fd2)
    {
        share_fd(fd, r);
    }
    return r;
}

__attribute__((visibility("default"))) int dup3(int fd, int fd2, int flags) noexcept
{
    if (fd != fd2)
    {
        forget_fd(fd2);
    }
    const int r = korsa_sim::real::dup3(fd, fd2, flags);
    share_fd(fd, r);
    return r;
}

__attribute__((visibility("default"))) int uname(struct utsname* buf) noexcept
{
    const int r = korsa_sim::real::uname(buf);
    if (r != 0 || buf == nullptr || simulator::busy_thread())
    {
        return r;
    }
    const auto release = guarded([&]() -> hook_result {
        if (auto rel = simulator::get().kernel_release())
        {
            std::memset(buf->release, 0, sizeof(buf->release));
            std::strncpy(buf->release, rel->c_str(), sizeof(buf->release) - 1);
        }
        return 0;
    });
    (void)release;
    return r;
}

__attribute__((visibility("default"))) uid_t geteuid() noexcept
{
    if (!simulator::busy_thread())
    {
        std::optional<uid_t> uid;
        guarded([&]() -> hook_result {
            uid = simulator::get().effective_uid();
            return 0;
        });
        if (uid)
        {
            return *uid;
        }
    }
    return korsa_sim::real::geteuid();
}

} // extern "C"
