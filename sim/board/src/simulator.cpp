#include "simulator.h"

#include "real_libc.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korsa_sim {
namespace {

constexpr const char* revision_path = "/proc/device-tree/system/linux,revision";
constexpr const char* i2c_prefix = "/dev/i2c-";

// One mark per descriptor number that may be an emulated I2C bus, so that read, write, ioctl
// and close of every other descriptor cost one relaxed load.
constexpr int max_tracked_fd = 65536;
std::atomic<uint8_t> g_i2c_marks[max_tracked_fd];

__attribute__((tls_model("initial-exec"))) thread_local bool t_in_sim = false;

void mark(int fd, bool on) noexcept
{
    if (fd >= 0 && fd < max_tracked_fd)
    {
        g_i2c_marks[fd].store(on ? 1 : 0, std::memory_order_release);
    }
}

void report(const std::string& text) noexcept
{
    const std::string line = "korsa-sim: " + text + "\n";
    (void)real::write(2, line.data(), line.size());
}

// The bus number of an i2c-dev path, -1 when the digits are malformed or too large.
int parse_bus(const char* digits) noexcept
{
    if (*digits == '\0')
    {
        return -1;
    }
    long v = 0;
    for (const char* p = digits; *p != '\0'; ++p)
    {
        if (*p < '0' || *p > '9' || v > 100000)
        {
            return -1;
        }
        v = v * 10 + (*p - '0');
    }
    return v > 1023 ? -1 : static_cast<int>(v);
}

bool read_file(const char* path, std::string& out, int& err)
{
    const int fd = real::open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
    {
        err = errno;
        return false;
    }
    char buf[4096];
    for (;;)
    {
        const ssize_t n = real::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n < 0)
        {
            err = errno;
            real::close(fd);
            return false;
        }
        if (n == 0)
        {
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > (1U << 20))
        {
            err = EFBIG;
            real::close(fd);
            return false;
        }
    }
    real::close(fd);
    return true;
}

} // namespace

sim_scope::sim_scope() noexcept : previous_(t_in_sim)
{
    t_in_sim = true;
}

sim_scope::~sim_scope()
{
    t_in_sim = previous_;
}

bool simulator::busy_thread() noexcept
{
    return t_in_sim;
}

simulator& simulator::get()
{
    // Constructed in place once and never destroyed: C library calls made by other exit
    // handlers must still find a working simulator.
    alignas(simulator) static unsigned char storage[sizeof(simulator)];
    static simulator* instance = [] {
        sim_scope scope;
        return ::new (storage) simulator();
    }();
    return *instance;
}

simulator::simulator()
{
    if (const char* f = std::getenv("KORSA_SIM_UNPLUG_FILE"))
    {
        unplug_file_ = f;
    }
    if (const char* path = std::getenv("KORSA_SIM_BOARD"); path != nullptr && *path != '\0')
    {
        load_locked(path);
    }
}

bool simulator::is_emulated_path(const char* path) noexcept
{
    if (path == nullptr)
    {
        return false;
    }
    if (std::strncmp(path, i2c_prefix, std::strlen(i2c_prefix)) == 0)
    {
        return true;
    }
    return std::strcmp(path, "/dev/gpiomem") == 0 || std::strcmp(path, "/dev/mem") == 0 ||
           std::strcmp(path, revision_path) == 0;
}

bool simulator::maybe_i2c_fd(int fd) noexcept
{
    return fd >= 0 && fd < max_tracked_fd && g_i2c_marks[fd].load(std::memory_order_acquire) != 0;
}

int simulator::load_locked(const char* path)
{
    board_.reset();
    if (path == nullptr)
    {
        return 0;
    }
    std::string text;
    int err = 0;
    if (!read_file(path, text, err))
    {
        report(std::string("cannot read board file ") + path + ": " + std::strerror(err));
        return -err;
    }
    std::string why;
    auto desc = parse_board_description(text, why);
    if (!desc)
    {
        report(std::string("board file ") + path + ": " + why);
        return -EINVAL;
    }
    board_ = std::make_unique<board>(std::move(*desc), unplug_file_);
    return 0;
}

int simulator::load(const char* path)
{
    std::lock_guard lock(mutex_);
    return load_locked(path);
}

void simulator::set_euid(long euid)
{
    std::lock_guard lock(mutex_);
    euid_override_ = euid;
}

int simulator::open_i2c_count()
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(files_.size());
}

hook_result simulator::open_path(const char* path, int flags)
{
    std::lock_guard lock(mutex_);
    if (!board_)
    {
        return std::nullopt;
    }
    if ((flags & O_DIRECTORY) != 0)
    {
        return -ENOTDIR;
    }
    const auto& d = board_->description();
    if (std::strncmp(path, i2c_prefix, std::strlen(i2c_prefix)) == 0)
    {
        const int bus = parse_bus(path + std::strlen(i2c_prefix));
        if (bus < 0 || !board_->bus_exists(bus))
        {
            return -ENOENT;
        }
        return open_i2c(bus, flags);
    }
    if (std::strcmp(path, revision_path) == 0)
    {
        return open_revision(flags);
    }
    const bool devmem = std::strcmp(path, "/dev/mem") == 0;
    if (!(devmem ? d.devmem : d.gpiomem))
    {
        return -ENOENT;
    }
    if (devmem)
    {
        const auto simulated = effective_uid_locked();
        const uid_t uid = simulated ? *simulated : real::geteuid();
        if (uid != 0)
        {
            return -EACCES;
        }
    }
    if (d.gpio_mmap_fails)
    {
        // A descriptor that opens fine but cannot be mapped.
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        {
            return -errno;
        }
        real::close(pair[1]);
        return pair[0];
    }
    return devmem ? board_->gpio()->open_devmem(flags) : board_->gpio()->open_gpiomem(flags);
}

hook_result simulator::open_i2c(int bus, int flags)
{
    const std::string name = "korsa-sim-i2c-" + std::to_string(bus);
    const int fd = ::memfd_create(name.c_str(), (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0);
    if (fd < 0)
    {
        return -errno;
    }
    struct stat st
    {};
    if (fd >= max_tracked_fd || ::fstat(fd, &st) != 0)
    {
        real::close(fd);
        return -EMFILE;
    }
    auto f = std::make_shared<i2c_file>();
    f->bus = bus;
    f->access_mode = flags & O_ACCMODE;
    f->device = st.st_dev;
    f->inode = st.st_ino;
    files_[fd] = std::move(f);
    mark(fd, true);
    return fd;
}

hook_result simulator::open_revision(int flags)
{
    const auto& rev = board_->description().revision;
    if (!rev)
    {
        return -ENOENT;
    }
    if ((flags & O_ACCMODE) != O_RDONLY)
    {
        return -EACCES;
    }
    const int fd = ::memfd_create("korsa-sim-revision", (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0);
    if (fd < 0)
    {
        return -errno;
    }
    if (!rev->empty() &&
        ::pwrite(fd, rev->data(), rev->size(), 0) != static_cast<ssize_t>(rev->size()))
    {
        const int err = errno;
        real::close(fd);
        return -err;
    }
    return fd;
}

std::shared_ptr<i2c_file> simulator::lookup(int fd)
{
    auto it = files_.find(fd);
    if (it == files_.end())
    {
        return nullptr;
    }
    // The number may have been reused behind our back (a close we did not see); then the
    // descriptor is no longer ours.
    struct stat st
    {};
    if (::fstat(fd, &st) != 0 || st.st_dev != it->second->device || st.st_ino != it->second->inode)
    {
        files_.erase(it);
        mark(fd, false);
        return nullptr;
    }
    return it->second;
}

hook_result simulator::read(int fd, void* buf, std::size_t count)
{
    std::lock_guard lock(mutex_);
    auto f = lookup(fd);
    if (!f)
    {
        return std::nullopt;
    }
    if (!board_)
    {
        return -ENODEV;
    }
    return i2c_read(*board_, *f, buf, count);
}

hook_result simulator::write(int fd, const void* buf, std::size_t count)
{
    std::lock_guard lock(mutex_);
    auto f = lookup(fd);
    if (!f)
    {
        return std::nullopt;
    }
    if (!board_)
    {
        return -ENODEV;
    }
    return i2c_write(*board_, *f, buf, count);
}

hook_result simulator::ioctl(int fd, unsigned long request, unsigned long arg)
{
    std::lock_guard lock(mutex_);
    auto f = lookup(fd);
    if (!f)
    {
        return std::nullopt;
    }
    if (!board_)
    {
        return -ENODEV;
    }
    return i2c_ioctl(*board_, *f, request, arg);
}

void simulator::forget(int fd)
{
    std::lock_guard lock(mutex_);
    files_.erase(fd);
    mark(fd, false);
}

void simulator::share(int from, int to)
{
    std::lock_guard lock(mutex_);
    auto it = files_.find(from);
    if (it == files_.end() || to < 0 || to >= max_tracked_fd)
    {
        return;
    }
    // A duplicate shares the open file, and with it the bound address.
    files_[to] = it->second;
    mark(to, true);
}

std::optional<std::string> simulator::kernel_release()
{
    std::lock_guard lock(mutex_);
    if (!board_)
    {
        return std::nullopt;
    }
    return board_->description().kernel_release;
}

std::optional<uid_t> simulator::effective_uid()
{
    std::lock_guard lock(mutex_);
    return effective_uid_locked();
}

std::optional<uid_t> simulator::effective_uid_locked()
{
    if (euid_override_ >= 0)
    {
        return static_cast<uid_t>(euid_override_);
    }
    if (!board_ || !board_->description().root)
    {
        return std::nullopt;
    }
    if (*board_->description().root)
    {
        return 0;
    }
    // A test run as root can still see the path of an ordinary user.
    const uid_t real_uid = real::geteuid();
    return real_uid == 0 ? 1000 : real_uid;
}

} // namespace korsa_sim
