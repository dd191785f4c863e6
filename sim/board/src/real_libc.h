#pragma once

// The C library's own entry points, behind the ones this library interposes. Each is looked up
// once with dlsym(RTLD_NEXT); when a lookup fails the call fails with ENOSYS instead of
// crashing the host process.

#include <cstdio>
#include <sys/types.h>
#include <sys/utsname.h>

namespace korsa_sim::real {

int open(const char* path, int flags, mode_t mode);
int open64(const char* path, int flags, mode_t mode);
int openat(int dirfd, const char* path, int flags, mode_t mode);
int openat64(int dirfd, const char* path, int flags, mode_t mode);
FILE* fopen(const char* path, const char* mode);
FILE* fopen64(const char* path, const char* mode);
ssize_t read(int fd, void* buf, size_t count);
ssize_t read_chk(int fd, void* buf, size_t count, size_t buflen);
ssize_t write(int fd, const void* buf, size_t count);
int ioctl(int fd, unsigned long request, unsigned long arg);
int close(int fd);
int dup(int fd);
int dup2(int fd, int fd2);
int dup3(int fd, int fd2, int flags);
int uname(struct utsname* buf);
uid_t geteuid();

} // namespace korsa_sim::real
