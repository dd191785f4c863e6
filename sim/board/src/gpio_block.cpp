#include "gpio_block.h"

#include "real_libc.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <sys/mman.h>
#include <unistd.h>

namespace korsa_sim {
namespace {

volatile uint32_t* map_page(int fd, uint64_t offset)
{
    void* p = ::mmap64(nullptr, gpio_block::page_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                       static_cast<off64_t>(offset));
    return p == MAP_FAILED ? nullptr : static_cast<volatile uint32_t*>(p);
}

} // namespace

uint32_t gpio_base_for_revision(const uint8_t* code, std::size_t length)
{
    if (code == nullptr || length < 4)
    {
        return 0x20200000;
    }
    switch (code[2] >> 4)
    {
    case 1:
    case 2:
        return 0x3F200000;
    case 3:
        return 0xFE200000;
    default:
        return 0x20200000;
    }
}

gpio_block::gpio_block(uint32_t base) : base_(base)
{
    gpiomem_fd_ = ::memfd_create("korsa-sim-gpiomem", MFD_CLOEXEC);
    devmem_fd_ = ::memfd_create("korsa-sim-mem", MFD_CLOEXEC);
    if (gpiomem_fd_ < 0 || devmem_fd_ < 0)
    {
        return;
    }
    // The /dev/mem file is sparse: only the register page ever takes memory.
    if (::ftruncate64(gpiomem_fd_, page_size) != 0 ||
        ::ftruncate64(devmem_fd_, static_cast<off64_t>(uint64_t{base_} + page_size)) != 0)
    {
        return;
    }
    gpiomem_page_ = map_page(gpiomem_fd_, 0);
    devmem_page_ = map_page(devmem_fd_, base_);
    if (ok())
    {
        power_on();
    }
}

gpio_block::~gpio_block()
{
    if (gpiomem_page_ != nullptr)
    {
        ::munmap(const_cast<uint32_t*>(gpiomem_page_), page_size);
    }
    if (devmem_page_ != nullptr)
    {
        ::munmap(const_cast<uint32_t*>(devmem_page_), page_size);
    }
    if (gpiomem_fd_ >= 0)
    {
        real::close(gpiomem_fd_);
    }
    if (devmem_fd_ >= 0)
    {
        real::close(devmem_fd_);
    }
}

void gpio_block::power_on()
{
    for (volatile uint32_t* page : {gpiomem_page_, devmem_page_})
    {
        for (std::size_t i = 0; i < page_size / sizeof(uint32_t); ++i)
        {
            page[i] = 0;
        }
        page[0] = (4U << 0) | (4U << 3); // GPIO 0 and 1 on alternate function 0
    }
}

bool gpio_block::routed(volatile const uint32_t* page)
{
    const uint32_t word = page[4];
    return ((word >> 12) & 7U) == 5U && ((word >> 15) & 7U) == 5U;
}

bool gpio_block::i2c0_routed() const
{
    return ok() && (routed(gpiomem_page_) || routed(devmem_page_));
}

int gpio_block::reopen(int memfd, int flags) const
{
    // A fresh open file description of the same memory, with the caller's access mode.
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", memfd);
    const int keep = flags & (O_ACCMODE | O_CLOEXEC | O_SYNC | O_DSYNC | O_NONBLOCK);
    int fd = real::open(path, keep, 0);
    if (fd < 0)
    {
        // Without /proc the descriptor is shared instead.
        fd = ::fcntl(memfd, (flags & O_CLOEXEC) != 0 ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
    }
    return fd < 0 ? -errno : fd;
}

int gpio_block::open_gpiomem(int flags) const
{
    return ok() ? reopen(gpiomem_fd_, flags) : -EIO;
}

int gpio_block::open_devmem(int flags) const
{
    return ok() ? reopen(devmem_fd_, flags) : -EIO;
}

} // namespace korsa_sim
