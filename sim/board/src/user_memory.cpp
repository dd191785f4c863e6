#include "user_memory.h"

#include "real_libc.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace korsa_sim {
namespace {

// Copies through a pipe: write(2) and read(2) check the caller's buffers too and fail with
// EFAULT on memory the process does not own. Chunks of 4096 bytes fit any pipe whole.
bool pipe_copy(void* dst, const void* src, std::size_t n) noexcept
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
    {
        return false;
    }
    auto* d = static_cast<uint8_t*>(dst);
    const auto* s = static_cast<const uint8_t*>(src);
    bool ok = true;
    while (ok && n > 0)
    {
        const std::size_t chunk = std::min<std::size_t>(n, 4096);
        ok = real::write(fds[1], s, chunk) == static_cast<ssize_t>(chunk) &&
             real::read(fds[0], d, chunk) == static_cast<ssize_t>(chunk);
        d += chunk;
        s += chunk;
        n -= chunk;
    }
    real::close(fds[0]);
    real::close(fds[1]);
    return ok;
}

// process_vm_readv/writev on the own process fail with EFAULT on unmapped memory. Where they
// are missing (ENOSYS: qemu-user, whose guest addresses are not the host's) or not allowed
// (EPERM under some sandboxes), the copy goes through a pipe, which catches the same faults.
bool vm_copy(void* dst, const void* src, std::size_t n, bool to_user) noexcept
{
    if (n == 0)
    {
        return true;
    }
    if (dst == nullptr || src == nullptr)
    {
        return false;
    }
    iovec local{to_user ? const_cast<void*>(src) : dst, n};
    iovec remote{to_user ? dst : const_cast<void*>(src), n};
    const ssize_t r = to_user ? ::process_vm_writev(::getpid(), &local, 1, &remote, 1, 0)
                              : ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (r == static_cast<ssize_t>(n))
    {
        return true;
    }
    if (r < 0 && (errno == ENOSYS || errno == EPERM))
    {
        return pipe_copy(dst, src, n);
    }
    return false;
}

} // namespace

bool copy_from_user(void* dst, const void* src, std::size_t n) noexcept
{
    return vm_copy(dst, src, n, false);
}

bool copy_to_user(void* dst, const void* src, std::size_t n) noexcept
{
    return vm_copy(dst, src, n, true);
}

} // namespace korsa_sim
