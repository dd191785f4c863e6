#include "i2c_com.h"

#include "log.h"
#include "rawcam_error.h"

#include <fmt/format.h>
#include <spdlog/fmt/bin_to_hex.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace linux_helper {
namespace {

// The request number the bus binding has always used. It is the i2c-dev request that binds
// the address even while a kernel driver has claimed it, so the camera stays reachable when
// a sensor overlay is loaded on the Pi.
constexpr unsigned long bind_address_request = 0x0706;
constexpr unsigned long smbus_request = 0x0720;

std::error_code errno_code(int err) noexcept
{
    return {err, std::generic_category()};
}

std::error_code bad_descriptor() noexcept
{
    return errno_code(EBADF);
}

} // namespace

i2c_com::i2c_com(int bus, int device_address)
    : device_address_(device_address), bus_(bus), mutex_(std::make_unique<std::mutex>())
{
    const std::string path = fmt::format("/dev/i2c-{}", bus);
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
    {
        fd_ = -1;
        mutex_.reset();
        throw std::system_error(korsa_cam::make_error_code(korsa_cam::status::i2c_bus_open_failed));
    }
    // A negative address must not wrap into a valid one.
    const unsigned long arg =
        device_address < 0 ? ~0UL : static_cast<unsigned long>(device_address);
    if (::ioctl(fd_, bind_address_request, arg) < 0)
    {
        const int err = errno;
        release();
        throw std::system_error(err, std::generic_category(), "failed ioctl on i2c bus handle");
    }
}

i2c_com::~i2c_com()
{
    release();
}

i2c_com::i2c_com(i2c_com&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), device_address_(other.device_address_), bus_(other.bus_),
      mutex_(std::move(other.mutex_))
{}

i2c_com& i2c_com::operator=(i2c_com&& other) noexcept
{
    if (this != &other)
    {
        release();
        fd_ = std::exchange(other.fd_, -1);
        device_address_ = other.device_address_;
        bus_ = other.bus_;
        mutex_ = std::move(other.mutex_);
    }
    return *this;
}

void i2c_com::release() noexcept
{
    if (fd_ != -1)
    {
        ::close(fd_);
        fd_ = -1;
    }
    mutex_.reset();
}

bool i2c_com::present() const
{
    if (fd_ < 0)
    {
        return false;
    }
    i2c_smbus_data data{};
    i2c_smbus_ioctl_data args{};
    args.read_write = I2C_SMBUS_READ;
    args.command = 0;
    args.size = I2C_SMBUS_BYTE;
    args.data = &data;
    return ::ioctl(fd_, smbus_request, &args) >= 0;
}

std::error_code i2c_com::read_func(std::span<const uint8_t> out, std::span<uint8_t> in)
{
    // A moved-from object has neither descriptor nor mutex.
    if (!mutex_)
    {
        return bad_descriptor();
    }
    std::lock_guard lock(*mutex_);
    if (::write(fd_, out.data(), out.size()) < 0)
    {
        return errno_code(errno);
    }
    if (::read(fd_, in.data(), in.size()) < 0)
    {
        return errno_code(errno);
    }
    return {};
}

korsa_cam::result<uint8_t> i2c_com::read8_reg(uint8_t reg)
{
    const uint8_t out[1] = {reg};
    uint8_t in[1] = {0};
    if (auto ec = read_func(out, in))
    {
        return ec;
    }
    return in[0];
}

korsa_cam::result<std::vector<uint8_t>> i2c_com::read8_vec(uint8_t reg, unsigned count)
{
    const uint8_t out[1] = {reg};
    std::vector<uint8_t> in(count, 0);
    if (auto ec = read_func(out, in))
    {
        return ec;
    }
    return in;
}

korsa_cam::result<uint8_t> i2c_com::read16_reg(uint16_t reg)
{
    const uint8_t out[2] = {static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg & 0xFF)};
    uint8_t in[1] = {0};
    if (auto ec = read_func(out, in))
    {
        return ec;
    }
    return in[0];
}

std::error_code i2c_com::read16_block(uint16_t reg, std::span<uint8_t> destination)
{
    const uint8_t out[2] = {static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg & 0xFF)};
    return read_func(out, destination);
}

korsa_cam::result<std::vector<uint8_t>> i2c_com::read16_vec(uint16_t reg, unsigned count)
{
    std::vector<uint8_t> in(count, 0);
    if (auto ec = read16_block(reg, in))
    {
        return ec;
    }
    return in;
}

std::error_code i2c_com::write8_reg(uint8_t reg, uint8_t value)
{
    if (!mutex_)
    {
        return bad_descriptor();
    }
    const uint8_t buf[2] = {reg, value};
    int err = 0;
    {
        std::lock_guard lock(*mutex_);
        if (::write(fd_, buf, sizeof(buf)) < 0)
        {
            err = errno;
        }
    }
    if (err != 0)
    {
        KLOG_WARN("Failed to write sensor register address=0x{:x}, value={}, err={}",
                  static_cast<unsigned>(reg), static_cast<unsigned>(value),
                  std::generic_category().message(err));
        return errno_code(err);
    }
    return {};
}

std::error_code i2c_com::write16_block(uint16_t reg, std::span<const uint8_t> data)
{
    if (data.size() > max_block_write_size)
    {
        return errno_code(EOVERFLOW);
    }
    if (!mutex_)
    {
        return bad_descriptor();
    }
    std::vector<uint8_t> buf;
    buf.reserve(data.size() + 2);
    buf.push_back(static_cast<uint8_t>(reg >> 8));
    buf.push_back(static_cast<uint8_t>(reg & 0xFF));
    buf.insert(buf.end(), data.begin(), data.end());
    int err = 0;
    {
        std::lock_guard lock(*mutex_);
        if (::write(fd_, buf.data(), buf.size()) < 0)
        {
            err = errno;
        }
    }
    if (err != 0)
    {
        KLOG_WARN("Failed to write sensor register address=0x{:x}, value={}, err={}",
                  static_cast<unsigned>(reg), spdlog::to_hex(data.begin(), data.end()),
                  std::generic_category().message(err));
        return errno_code(err);
    }
    return {};
}

} // namespace linux_helper
