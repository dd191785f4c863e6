#include "real_libc.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>

namespace korsa_sim::real {
namespace {

template <typename Fn>
Fn resolve(std::atomic<void*>& slot, const char* name) noexcept
{
    void* p = slot.load(std::memory_order_acquire);
    if (p == nullptr)
    {
        p = ::dlsym(RTLD_NEXT, name);
        slot.store(p, std::memory_order_release);
    }
    return reinterpret_cast<Fn>(p);
}

#define KORSA_SIM_REAL(name, sym, ret, fail, params, args)                                         \
    ret name params                                                                                \
    {                                                                                              \
        static std::atomic<void*> slot{nullptr};                                                   \
        using fn_t = ret(*) params;                                                                \
        fn_t fn = resolve<fn_t>(slot, sym);                                                        \
        if (fn == nullptr)                                                                         \
        {                                                                                          \
            errno = ENOSYS;                                                                        \
            return fail;                                                                           \
        }                                                                                          \
        return fn args;                                                                            \
    }

} // namespace

KORSA_SIM_REAL(open, "open", int, -1, (const char* path, int flags, mode_t mode),
               (path, flags, mode))
KORSA_SIM_REAL(open64, "open64", int, -1, (const char* path, int flags, mode_t mode),
               (path, flags, mode))
KORSA_SIM_REAL(openat, "openat", int, -1, (int dirfd, const char* path, int flags, mode_t mode),
               (dirfd, path, flags, mode))
KORSA_SIM_REAL(openat64, "openat64", int, -1, (int dirfd, const char* path, int flags, mode_t mode),
               (dirfd, path, flags, mode))
KORSA_SIM_REAL(fopen, "fopen", FILE*, nullptr, (const char* path, const char* mode), (path, mode))
KORSA_SIM_REAL(fopen64, "fopen64", FILE*, nullptr, (const char* path, const char* mode),
               (path, mode))
KORSA_SIM_REAL(read, "read", ssize_t, -1, (int fd, void* buf, size_t count), (fd, buf, count))
KORSA_SIM_REAL(read_chk, "__read_chk", ssize_t, -1,
               (int fd, void* buf, size_t count, size_t buflen), (fd, buf, count, buflen))
KORSA_SIM_REAL(write, "write", ssize_t, -1, (int fd, const void* buf, size_t count),
               (fd, buf, count))
KORSA_SIM_REAL(ioctl, "ioctl", int, -1, (int fd, unsigned long request, unsigned long arg),
               (fd, request, arg))
KORSA_SIM_REAL(close, "close", int, -1, (int fd), (fd))
KORSA_SIM_REAL(dup, "dup", int, -1, (int fd), (fd))
KORSA_SIM_REAL(dup2, "dup2", int, -1, (int fd, int fd2), (fd, fd2))
KORSA_SIM_REAL(dup3, "dup3", int, -1, (int fd, int fd2, int flags), (fd, fd2, flags))
KORSA_SIM_REAL(uname, "uname", int, -1, (struct utsname * buf), (buf))
KORSA_SIM_REAL(geteuid, "geteuid", uid_t, static_cast<uid_t>(-1), (), ())

} // namespace korsa_sim::real
