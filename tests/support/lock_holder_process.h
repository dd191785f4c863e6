#pragma once

// Another process on the same machine, for tests of exclusive access: a forked child that
// takes (or only tries) the lock on a file and answers through a pipe, so the test knows for
// certain what the child holds without waiting for time to pass. The child runs nothing but
// system calls.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace test_support {

// True when another process could take the lock on `path` right now (it is not held, or the
// file does not exist yet; the file is not created). Runs the attempt in a child process,
// since a lock of this process would not get in its own way.
inline bool lockable_by_another_process(const std::string& path)
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd < 0)
        {
            ::_exit(0);
        }
        ::_exit(::lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
    {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A child process holding the lock on a file until it is released or the object goes.
class lock_holder_process
{
public:
    explicit lock_holder_process(const std::string& path)
    {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0)
        {
            return;
        }
        if (::pipe(release) != 0)
        {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0)
        {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
            const char ok = (fd >= 0 && ::lockf(fd, F_TLOCK, 0) == 0) ? 'y' : 'n';
            (void)::write(ready[1], &ok, 1);
            char c;
            (void)::read(release[0], &c, 1); // until the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_fd_ = release[1];
        char ok = 'n';
        holding_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 'y';
        ::close(ready[0]);
    }
    ~lock_holder_process() { release(); }
    lock_holder_process(const lock_holder_process&) = delete;
    lock_holder_process& operator=(const lock_holder_process&) = delete;

    // The child took the lock.
    bool holding() const { return holding_; }

    // The child lets go and has exited when this returns.
    void release()
    {
        if (release_fd_ >= 0)
        {
            ::close(release_fd_);
            release_fd_ = -1;
        }
        if (pid_ > 0)
        {
            int status = 0;
            (void)::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        holding_ = false;
    }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool holding_ = false;
};

} // namespace test_support
