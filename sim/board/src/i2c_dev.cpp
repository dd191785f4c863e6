#include "i2c_dev.h"

#include "user_memory.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <vector>

namespace korsa_sim {
namespace {

// i2c-dev clamps plain transfers to this many bytes.
constexpr std::size_t max_plain_transfer = 8192;

long smbus(board& b, const i2c_file& f, const i2c_smbus_ioctl_data& args)
{
    if (args.read_write != I2C_SMBUS_READ && args.read_write != I2C_SMBUS_WRITE)
    {
        return -EINVAL;
    }
    const bool reading = args.read_write == I2C_SMBUS_READ;
    switch (args.size)
    {
    case I2C_SMBUS_QUICK:
    case I2C_SMBUS_BYTE:
    case I2C_SMBUS_BYTE_DATA:
    case I2C_SMBUS_WORD_DATA:
    case I2C_SMBUS_I2C_BLOCK_DATA:
        break;
    case I2C_SMBUS_PROC_CALL:
    case I2C_SMBUS_BLOCK_DATA:
    case I2C_SMBUS_I2C_BLOCK_BROKEN:
    case I2C_SMBUS_BLOCK_PROC_CALL:
        return -EOPNOTSUPP;
    default:
        return -EINVAL;
    }
    if (args.size == I2C_SMBUS_QUICK)
    {
        bus_message m;
        m.read = reading;
        return -b.transfer(f.bus, f.address, std::span(&m, 1), true);
    }
    if (args.data == nullptr)
    {
        return -EINVAL;
    }
    i2c_smbus_data data{};
    if (!copy_from_user(&data, args.data, sizeof(data)))
    {
        return -EFAULT;
    }
    const uint8_t cmd = args.command;
    std::vector<uint8_t> out;
    out.reserve(sizeof(data) + 1);
    out.push_back(cmd);
    std::size_t in_len = 0;
    switch (args.size)
    {
    case I2C_SMBUS_BYTE:
        in_len = reading ? 1 : 0;
        break;
    case I2C_SMBUS_BYTE_DATA:
        if (reading)
            in_len = 1;
        else
            out.push_back(data.byte);
        break;
    case I2C_SMBUS_WORD_DATA:
        if (reading)
        {
            in_len = 2;
        }
        else
        {
            out.push_back(static_cast<uint8_t>(data.word & 0xFF));
            out.push_back(static_cast<uint8_t>(data.word >> 8));
        }
        break;
    case I2C_SMBUS_I2C_BLOCK_DATA:
        if (data.block[0] == 0 || data.block[0] > I2C_SMBUS_BLOCK_MAX)
        {
            return -EINVAL;
        }
        if (reading)
            in_len = data.block[0];
        else
        {
            for (unsigned i = 1; i <= data.block[0]; ++i)
            {
                out.push_back(data.block[i]);
            }
        }
        break;
    default:
        break;
    }
    std::vector<uint8_t> in(in_len, 0);
    bus_message msgs[2];
    std::size_t count = 0;
    // Receive byte has no command byte on the wire.
    if (!(args.size == I2C_SMBUS_BYTE && reading))
    {
        msgs[count].read = false;
        msgs[count].out = out;
        ++count;
    }
    if (in_len != 0)
    {
        msgs[count].read = true;
        msgs[count].in = in;
        ++count;
    }
    if (const int err = b.transfer(f.bus, f.address, std::span(msgs, count), true))
    {
        return -err;
    }
    if (!reading)
    {
        return 0;
    }
    switch (args.size)
    {
    case I2C_SMBUS_BYTE:
    case I2C_SMBUS_BYTE_DATA:
        data.byte = in[0];
        break;
    case I2C_SMBUS_WORD_DATA:
        data.word = static_cast<uint16_t>(in[0] | (in[1] << 8));
        break;
    default:
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            data.block[i + 1] = in[i];
        }
        break;
    }
    return copy_to_user(args.data, &data, sizeof(data)) ? 0 : -EFAULT;
}

} // namespace

long i2c_read(board& b, i2c_file& f, void* buf, std::size_t count)
{
    if (f.access_mode == O_WRONLY)
    {
        return -EBADF;
    }
    count = std::min(count, max_plain_transfer);
    std::vector<uint8_t> in(count, 0);
    bus_message m;
    m.read = true;
    m.in = in;
    if (const int err = b.transfer(f.bus, f.address, std::span(&m, 1), false))
    {
        return -err;
    }
    if (!copy_to_user(buf, in.data(), m.delivered))
    {
        return -EFAULT;
    }
    return static_cast<long>(m.delivered);
}

long i2c_write(board& b, i2c_file& f, const void* buf, std::size_t count)
{
    if (f.access_mode == O_RDONLY)
    {
        return -EBADF;
    }
    count = std::min(count, max_plain_transfer);
    std::vector<uint8_t> out(count, 0);
    if (!copy_from_user(out.data(), buf, count))
    {
        return -EFAULT;
    }
    bus_message m;
    m.out = out;
    if (const int err = b.transfer(f.bus, f.address, std::span(&m, 1), false))
    {
        return -err;
    }
    return static_cast<long>(count);
}

long i2c_ioctl(board& b, i2c_file& f, unsigned long request, unsigned long arg)
{
    switch (request)
    {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
        // Ten-bit addressing is not offered, so only 7-bit addresses bind.
        if (arg > 0x7F)
        {
            return -EINVAL;
        }
        if (request == I2C_SLAVE && b.address_busy(f.bus, static_cast<int>(arg)))
        {
            return -EBUSY;
        }
        f.address = static_cast<int>(arg);
        return 0;
    case I2C_TENBIT:
        return arg == 0 ? 0 : -EOPNOTSUPP;
    case I2C_RETRIES:
    case I2C_TIMEOUT:
    case I2C_PEC:
        return 0;
    case I2C_FUNCS:
    {
        const unsigned long funcs = I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
                                    I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA |
                                    I2C_FUNC_SMBUS_I2C_BLOCK;
        return copy_to_user(reinterpret_cast<void*>(arg), &funcs, sizeof(funcs)) ? 0 : -EFAULT;
    }
    case I2C_RDWR:
        // Combined transfers are not emulated: nothing of this system uses them.
        return -EOPNOTSUPP;
    case I2C_SMBUS:
    {
        i2c_smbus_ioctl_data args{};
        if (!copy_from_user(&args, reinterpret_cast<const void*>(arg), sizeof(args)))
        {
            return -EFAULT;
        }
        return smbus(b, f, args);
    }
    default:
        return -ENOTTY;
    }
}

} // namespace korsa_sim
