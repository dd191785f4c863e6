#include "raspi-gpio.h"

#include "log.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace raspi_gpio {
namespace {

constexpr const char* revision_path = "/proc/device-tree/system/linux,revision";

// Register word indexes.
constexpr int fsel_word = 0;
constexpr int set_word = 7;
constexpr int clear_word = 10;
constexpr int level_word = 13;
constexpr int bcm2835_pud_word = 37;
constexpr int bcm2835_pud_clock_word = 38;
constexpr int bcm2711_pull_word = 57;
constexpr int last_common_word = 39;
constexpr int bcm2711_last_pull_word = 60;

// Function-select field values for FUNC input, output, alt0 .. alt5.
constexpr std::array<uint32_t, 8> fsel_bits = {0, 1, 4, 5, 6, 7, 3, 2};
// Function-select field value to FUNC.
constexpr std::array<int, 8> fsel_func = {0, 1, 7, 6, 2, 3, 4, 5};

class unique_fd
{
public:
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    ~unique_fd()
    {
        if (fd_ >= 0)
        {
            ::close(fd_);
        }
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool valid_pin(const gpio_chip& chip, int pin) noexcept
{
    return chip.is_mapped() && pin >= 0 && static_cast<uint32_t>(pin) < chip.pin_count;
}

uint32_t read_word(gpio_chip& chip, int word) noexcept
{
    return chip.regs[word];
}

void write_word(gpio_chip& chip, int word, uint32_t value) noexcept
{
    chip.regs[word] = value;
}

void wait_pull_clock()
{
    std::this_thread::sleep_for(std::chrono::microseconds(10));
}

int common_get_level(gpio_chip& chip, int pin)
{
    if (!valid_pin(chip, pin))
    {
        return -1;
    }
    return static_cast<int>((read_word(chip, level_word + pin / 32) >> (pin % 32)) & 1U);
}

int common_get_fsel(gpio_chip& chip, int pin)
{
    if (!valid_pin(chip, pin))
    {
        return -1;
    }
    const uint32_t field = (read_word(chip, fsel_word + pin / 10) >> ((pin % 10) * 3)) & 7U;
    return fsel_func[field];
}

int common_set_level(gpio_chip& chip, int pin, DRIVE drive)
{
    if (!valid_pin(chip, pin))
    {
        return -1;
    }
    const uint32_t bit = 1U << (pin % 32);
    switch (drive)
    {
    case DRIVE::high:
        write_word(chip, set_word + pin / 32, bit);
        return 0;
    case DRIVE::low:
        write_word(chip, clear_word + pin / 32, bit);
        return 0;
    }
    return -1;
}

int common_set_fsel(gpio_chip& chip, int pin, FUNC func)
{
    const int f = static_cast<int>(func);
    if (!valid_pin(chip, pin) || f < 0 || f >= static_cast<int>(fsel_bits.size()))
    {
        return -1;
    }
    const int word = fsel_word + pin / 10;
    const int shift = (pin % 10) * 3;
    const uint32_t value = (read_word(chip, word) & ~(7U << shift)) | (fsel_bits[f] << shift);
    write_word(chip, word, value);
    return 0;
}

int bcm2835_get_pull(gpio_chip&, int)
{
    // The pull state of this family cannot be read back.
    return -1;
}

int bcm2835_set_pull(gpio_chip& chip, int pin, PULL pull)
{
    const int p = static_cast<int>(pull);
    if (!valid_pin(chip, pin) || p < 0 || p > 2)
    {
        return -1;
    }
    write_word(chip, bcm2835_pud_word, static_cast<uint32_t>(p));
    wait_pull_clock();
    write_word(chip, bcm2835_pud_clock_word + pin / 32, 1U << (pin % 32));
    wait_pull_clock();
    write_word(chip, bcm2835_pud_word, 0);
    wait_pull_clock();
    write_word(chip, bcm2835_pud_clock_word + pin / 32, 0);
    wait_pull_clock();
    return 0;
}

int bcm2835_next_reg(int reg)
{
    if (reg < 0)
    {
        return 0;
    }
    return reg < last_common_word ? reg + 1 : -1;
}

// The BCM2711 pull field swaps the codes for down and up.
constexpr std::array<uint32_t, 3> bcm2711_pull_bits = {0, 2, 1};
constexpr std::array<int, 4> bcm2711_pull_value = {0, 2, 1, -1};

int bcm2711_get_pull(gpio_chip& chip, int pin)
{
    if (!valid_pin(chip, pin))
    {
        return -1;
    }
    const uint32_t field = (read_word(chip, bcm2711_pull_word + pin / 16) >> ((pin % 16) * 2)) & 3U;
    return bcm2711_pull_value[field];
}

int bcm2711_set_pull(gpio_chip& chip, int pin, PULL pull)
{
    const int p = static_cast<int>(pull);
    if (!valid_pin(chip, pin) || p < 0 || p > 2)
    {
        return -1;
    }
    const int word = bcm2711_pull_word + pin / 16;
    const int shift = (pin % 16) * 2;
    write_word(chip, word,
               (read_word(chip, word) & ~(3U << shift)) | (bcm2711_pull_bits[p] << shift));
    return 0;
}

int bcm2711_next_reg(int reg)
{
    if (reg < 0)
    {
        return 0;
    }
    if (reg < last_common_word)
    {
        return reg + 1;
    }
    if (reg < bcm2711_pull_word)
    {
        return bcm2711_pull_word;
    }
    return reg < bcm2711_last_pull_word ? reg + 1 : -1;
}

constexpr gpio_chip_ops bcm2835_ops = {common_get_level, common_get_fsel, bcm2835_get_pull,
                                       common_set_level, common_set_fsel, bcm2835_set_pull,
                                       bcm2835_next_reg};
constexpr gpio_chip_ops bcm2711_ops = {common_get_level, common_get_fsel, bcm2711_get_pull,
                                       common_set_level, common_set_fsel, bcm2711_set_pull,
                                       bcm2711_next_reg};

std::shared_ptr<gpio_chip> make_bcm2835(uint32_t base)
{
    return std::make_shared<gpio_chip>("bcm2835", base, bcm2835_ops);
}

} // namespace

gpio_chip::gpio_chip(std::string chip_name, uint32_t base, const gpio_chip_ops& chip_ops)
    : name(std::move(chip_name)), reg_base(base), ops(chip_ops),
      regs(static_cast<volatile uint32_t*>(MAP_FAILED))
{}

gpio_chip::~gpio_chip()
{
    release();
}

bool gpio_chip::is_mapped() const noexcept
{
    return regs != static_cast<volatile uint32_t*>(MAP_FAILED) && regs != nullptr;
}

void gpio_chip::release() noexcept
{
    if (is_mapped())
    {
        ::munmap(const_cast<uint32_t*>(regs), map_len);
    }
    regs = static_cast<volatile uint32_t*>(MAP_FAILED);
    if (fd >= 0)
    {
        ::close(fd);
    }
    fd = -1;
}

std::shared_ptr<gpio_chip> get_gpio_chip()
{
    unique_fd fd(::open(revision_path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
    {
        KLOG_WARN("Can't open '{}', failed to find pi-gpio chip info\n", revision_path);
        return make_bcm2835(0x20200000);
    }
    std::array<uint8_t, 4> code{};
    std::size_t got = 0;
    while (got < code.size())
    {
        const ssize_t n = ::read(fd.get(), code.data() + got, code.size() - got);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    unsigned processor = 0;
    if (got < code.size())
    {
        KLOG_WARN("Revision data too short, failed to find pi-gpio chip info\n");
    }
    else
    {
        // Bits 15..12 of the big-endian revision code.
        processor = code[2] >> 4;
    }
    switch (processor)
    {
    case 0:
        return make_bcm2835(0x20200000);
    case 1:
    case 2:
        return make_bcm2835(0x3F200000);
    case 3:
        return std::make_shared<gpio_chip>("bcm2711", 0xFE200000, bcm2711_ops);
    default:
        KLOG_WARN("Unrecognized revision code, failed to find pi-gpio chip info\n");
        return {};
    }
}

int open_chip_gpio_mem(gpio_chip& chip)
{
    chip.release();
    constexpr int flags = O_RDWR | O_SYNC | O_CLOEXEC;
    uint64_t offset = 0;
    int raw = ::open("/dev/gpiomem", flags);
    if (raw < 0)
    {
        KLOG_INFO("Failed to open /dev/gpiomem, trying to open /dev/mem\n");
        if (::geteuid() != 0)
        {
            KLOG_WARN("Must be root to open /dev/mem\n");
            return -2;
        }
        raw = ::open("/dev/mem", flags);
        if (raw < 0)
        {
            KLOG_WARN("Unable to open /dev/mem: {}\n", std::strerror(errno));
            return -2;
        }
        offset = chip.reg_base;
    }
    unique_fd fd(raw);
    // The 64-bit offset variant: the register bases above 2 GiB do not fit a 32-bit off_t.
    void* map = ::mmap64(nullptr, chip.map_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(),
                         static_cast<off64_t>(offset));
    if (map == MAP_FAILED)
    {
        KLOG_WARN("mmap (GPIO) failed: {}\n", std::strerror(errno));
        return -3;
    }
    chip.regs = static_cast<volatile uint32_t*>(map);
    chip.fd = fd.release();
    return 0;
}

int gpio_set(gpio_chip& chip, int pin, FUNC func)
{
    return chip.ops.set_fsel(chip, pin, func) < 0 ? -1 : 0;
}

int gpio_set(gpio_chip& chip, int pin, DRIVE drive)
{
    if (chip.ops.get_fsel(chip, pin) == static_cast<int>(FUNC::output))
    {
        return chip.ops.set_level(chip, pin, drive) < 0 ? -1 : 0;
    }
    KLOG_ERROR("Can't set pin value, not an output\n");
    return -1;
}

int gpio_set(gpio_chip& chip, int pin, PULL pull)
{
    return chip.ops.set_pull(chip, pin, pull) < 0 ? -1 : 0;
}

} // namespace raspi_gpio
