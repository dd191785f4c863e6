#pragma once

// The Pi's GPIO register page behind /dev/gpiomem and /dev/mem. Both are memfds, so mmap works
// natively in the host process; the simulator keeps its own mapping to inspect them.

#include <cstdint>
#include <sys/types.h>

namespace korsa_sim {

class gpio_block
{
public:
    // base: physical address of the GPIO registers, where /dev/mem shows the page.
    explicit gpio_block(uint32_t base);
    ~gpio_block();
    gpio_block(const gpio_block&) = delete;
    gpio_block& operator=(const gpio_block&) = delete;

    bool ok() const { return gpiomem_page_ != nullptr && devmem_page_ != nullptr; }
    // A new descriptor of the page's file (a negative errno on failure).
    int open_gpiomem(int flags) const;
    int open_devmem(int flags) const;

    volatile uint32_t* page(bool devmem) const { return devmem ? devmem_page_ : gpiomem_page_; }
    // GPIO 44 and 45 on alternate function 1 in either page.
    bool i2c0_routed() const;
    // The register state after power-up: GPIO 0/1 on alternate function 0.
    void power_on();

    static constexpr std::size_t page_size = 4096;

private:
    static bool routed(volatile const uint32_t* page);
    int reopen(int memfd, int flags) const;

    uint32_t base_;
    int gpiomem_fd_ = -1;
    int devmem_fd_ = -1;
    volatile uint32_t* gpiomem_page_ = nullptr;
    volatile uint32_t* devmem_page_ = nullptr;
};

// The GPIO register base of the SoC a revision code names (bits 15..12 of the big-endian code).
uint32_t gpio_base_for_revision(const uint8_t* code, std::size_t length);

} // namespace korsa_sim
