#pragma once

// The simulator of one process: the loaded board, the emulated files it handed out, and the
// hooks the interposed C library calls use. One instance per process, created on first use
// and never destroyed, so that calls arriving during exit still find it.

#include "board.h"
#include "i2c_dev.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

namespace korsa_sim {

// Results of hooks: nothing = not ours, pass the call through; else the value to return,
// negative errno values for failures.
using hook_result = std::optional<long>;

class simulator
{
public:
    static simulator& get();

    // Cheap checks that need no instance.
    static bool is_emulated_path(const char* path) noexcept;
    static bool maybe_i2c_fd(int fd) noexcept;
    // True while this thread runs simulator code: calls made from there pass through.
    static bool busy_thread() noexcept;

    hook_result open_path(const char* path, int flags);
    hook_result read(int fd, void* buf, std::size_t count);
    hook_result write(int fd, const void* buf, std::size_t count);
    hook_result ioctl(int fd, unsigned long request, unsigned long arg);
    void forget(int fd);
    void share(int from, int to);
    std::optional<std::string> kernel_release();
    std::optional<uid_t> effective_uid();

    // Runs fn(board*) under the simulator's lock; board is null without one.
    template <typename Fn>
    auto with_board(Fn&& fn)
    {
        std::lock_guard lock(mutex_);
        return fn(board_.get());
    }

    int load(const char* path);
    void set_euid(long euid);
    int open_i2c_count();

private:
    simulator();

    hook_result open_i2c(int bus, int flags);
    hook_result open_revision(int flags);
    std::shared_ptr<i2c_file> lookup(int fd);
    int load_locked(const char* path);
    std::optional<uid_t> effective_uid_locked();

    std::mutex mutex_;
    std::unique_ptr<board> board_;
    std::string unplug_file_;
    std::map<int, std::shared_ptr<i2c_file>> files_;
    long euid_override_ = -1;
};

// Marks the current thread as running simulator code for the object's lifetime.
class sim_scope
{
public:
    sim_scope() noexcept;
    ~sim_scope();
    sim_scope(const sim_scope&) = delete;
    sim_scope& operator=(const sim_scope&) = delete;

private:
    bool previous_;
};

} // namespace korsa_sim
