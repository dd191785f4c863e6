#include "i2c_dev.h"

#include "user_memory.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <vector>

namespace korsa_sim {
namespace {

// i2c-dev clamps plain transfers to this many bytes and refuses longer I2C_RDWR messages.
constexpr std::size_t max_plain_transfer = 8192;

// The Pi's controller driver offers plain I2C; the kernel emulates SMBus on top of it. It
// cannot take a message's length from the chip (no I2C_M_RECV_LEN), so SMBus block reads
// and block process calls are not claimed, although i2c-dev passes them on.
constexpr unsigned long adapter_functionality = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;

// One message of the kernel's SMBus emulation: its length is the buffer's size.
struct smbus_message
{
    bool read = false;
    std::vector<uint8_t> buf;
};

// The SMBus packet error code: CRC-8 with polynomial x^8 + x^2 + x + 1 over the address
// byte (with the direction bit) and the message bytes.
uint8_t pec_update(uint8_t crc, const uint8_t* data, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
    {
        crc = static_cast<uint8_t>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit)
        {
            crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

uint8_t message_pec(uint8_t crc, int address, const smbus_message& m, std::size_t length)
{
    const auto addr = static_cast<uint8_t>((address << 1) | (m.read ? 1 : 0));
    crc = pec_update(crc, &addr, 1);
    return pec_update(crc, m.buf.data(), length);
}

// The kernel's SMBus emulation (i2c_smbus_xfer_emulated) over the controller: builds the
// one or two messages of a transaction, runs them as one transfer and fills `data` from
// what was read. `data` is null only for quick and send byte, which do not use it.
long emulate_smbus(board& b, const i2c_file& f, uint8_t read_write, uint8_t command, uint32_t size,
                   i2c_smbus_data* data)
{
    smbus_message msg[2];
    msg[0].buf = {command};
    msg[1].read = true;
    int count = read_write == I2C_SMBUS_READ ? 2 : 1;
    switch (size)
    {
    case I2C_SMBUS_QUICK:
        // The direction bit is the data.
        msg[0].buf.clear();
        msg[0].read = read_write == I2C_SMBUS_READ;
        count = 1;
        break;
    case I2C_SMBUS_BYTE:
        if (read_write == I2C_SMBUS_READ)
        {
            // Receive byte: a single one-byte read, no command on the wire.
            msg[0].read = true;
            count = 1;
        }
        break;
    case I2C_SMBUS_BYTE_DATA:
        if (read_write == I2C_SMBUS_READ)
            msg[1].buf.resize(1);
        else
            msg[0].buf.push_back(data->byte);
        break;
    case I2C_SMBUS_WORD_DATA:
        if (read_write == I2C_SMBUS_READ)
        {
            msg[1].buf.resize(2);
        }
        else
        {
            msg[0].buf.push_back(static_cast<uint8_t>(data->word & 0xFF));
            msg[0].buf.push_back(static_cast<uint8_t>(data->word >> 8));
        }
        break;
    case I2C_SMBUS_PROC_CALL:
        count = 2;
        read_write = I2C_SMBUS_READ;
        msg[0].buf.push_back(static_cast<uint8_t>(data->word & 0xFF));
        msg[0].buf.push_back(static_cast<uint8_t>(data->word >> 8));
        msg[1].buf.resize(2);
        break;
    case I2C_SMBUS_BLOCK_DATA:
        if (read_write == I2C_SMBUS_READ)
        {
            // Only the count byte is read: the controller ignores "length from the chip".
            msg[1].buf.resize(1);
        }
        else
        {
            if (data->block[0] > I2C_SMBUS_BLOCK_MAX)
            {
                return -EINVAL;
            }
            msg[0].buf.insert(msg[0].buf.end(), data->block, data->block + data->block[0] + 1);
        }
        break;
    case I2C_SMBUS_BLOCK_PROC_CALL:
        count = 2;
        read_write = I2C_SMBUS_READ;
        if (data->block[0] > I2C_SMBUS_BLOCK_MAX)
        {
            return -EINVAL;
        }
        msg[0].buf.insert(msg[0].buf.end(), data->block, data->block + data->block[0] + 1);
        msg[1].buf.resize(1); // the count byte, as for a block read
        break;
    case I2C_SMBUS_I2C_BLOCK_DATA:
        if (data->block[0] > I2C_SMBUS_BLOCK_MAX)
        {
            return -EINVAL;
        }
        if (read_write == I2C_SMBUS_READ)
            msg[1].buf.resize(data->block[0]);
        else
            msg[0].buf.insert(msg[0].buf.end(), data->block + 1, data->block + 1 + data->block[0]);
        break;
    default:
        return -EOPNOTSUPP;
    }

    // With I2C_PEC a write-only transaction carries its code as a last byte, and a read
    // receives one more byte that must match the code over the whole transaction.
    const bool wants_pec = f.pec && size != I2C_SMBUS_QUICK && size != I2C_SMBUS_I2C_BLOCK_DATA;
    uint8_t partial_pec = 0;
    smbus_message& last = msg[count - 1];
    if (wants_pec)
    {
        if (!msg[0].read)
        {
            if (count == 1)
                msg[0].buf.push_back(message_pec(0, f.address, msg[0], msg[0].buf.size()));
            else
                partial_pec = message_pec(0, f.address, msg[0], msg[0].buf.size());
        }
        if (last.read)
        {
            last.buf.push_back(0);
        }
    }

    bus_message wire[2];
    for (int i = 0; i < count; ++i)
    {
        wire[i].read = msg[i].read;
        if (msg[i].read)
            wire[i].in = msg[i].buf;
        else
            wire[i].out = msg[i].buf;
    }
    if (const int err = b.transfer(f.bus, f.address, std::span(wire, count), true))
    {
        return -err;
    }

    if (wants_pec && last.read)
    {
        const std::size_t length = last.buf.size() - 1;
        if (last.buf[length] != message_pec(partial_pec, f.address, last, length))
        {
            return -EBADMSG;
        }
        last.buf.pop_back();
    }
    if (read_write != I2C_SMBUS_READ)
    {
        return 0;
    }
    switch (size)
    {
    case I2C_SMBUS_BYTE:
        data->byte = msg[0].buf[0];
        break;
    case I2C_SMBUS_BYTE_DATA:
        data->byte = msg[1].buf[0];
        break;
    case I2C_SMBUS_WORD_DATA:
    case I2C_SMBUS_PROC_CALL:
        data->word = static_cast<uint16_t>(msg[1].buf[0] | (msg[1].buf[1] << 8));
        break;
    case I2C_SMBUS_I2C_BLOCK_DATA:
        std::copy(msg[1].buf.begin(), msg[1].buf.end(), data->block + 1);
        break;
    case I2C_SMBUS_BLOCK_DATA:
    case I2C_SMBUS_BLOCK_PROC_CALL:
    {
        const uint8_t n = msg[1].buf[0];
        if (n > I2C_SMBUS_BLOCK_MAX)
        {
            return -EPROTO;
        }
        // The kernel's message buffer starts zeroed: what the controller did not read is 0.
        data->block[0] = n;
        std::fill(data->block + 1, data->block + 1 + n, uint8_t{0});
        break;
    }
    default:
        break;
    }
    return 0;
}

// The I2C_SMBUS request as i2c-dev handles it: only the bytes of the transfer size are
// copied, from the caller for writes, process calls and I2C block transfers (whose first
// byte is the length even for a read), back to the caller for reads and process calls.
long smbus(board& b, const i2c_file& f, const i2c_smbus_ioctl_data& args)
{
    uint32_t size = args.size;
    switch (size)
    {
    case I2C_SMBUS_QUICK:
    case I2C_SMBUS_BYTE:
    case I2C_SMBUS_BYTE_DATA:
    case I2C_SMBUS_WORD_DATA:
    case I2C_SMBUS_PROC_CALL:
    case I2C_SMBUS_BLOCK_DATA:
    case I2C_SMBUS_I2C_BLOCK_BROKEN:
    case I2C_SMBUS_I2C_BLOCK_DATA:
    case I2C_SMBUS_BLOCK_PROC_CALL:
        break;
    default:
        return -EINVAL;
    }
    const uint8_t read_write = args.read_write;
    if (read_write != I2C_SMBUS_READ && read_write != I2C_SMBUS_WRITE)
    {
        return -EINVAL;
    }
    if (size == I2C_SMBUS_QUICK || (size == I2C_SMBUS_BYTE && read_write == I2C_SMBUS_WRITE))
    {
        // Quick and send byte carry no data: the pointer is not looked at.
        return emulate_smbus(b, f, read_write, args.command, size, nullptr);
    }
    if (args.data == nullptr)
    {
        return -EINVAL;
    }
    std::size_t data_size = sizeof(i2c_smbus_data::block);
    if (size == I2C_SMBUS_BYTE_DATA || size == I2C_SMBUS_BYTE)
        data_size = sizeof(i2c_smbus_data::byte);
    else if (size == I2C_SMBUS_WORD_DATA || size == I2C_SMBUS_PROC_CALL)
        data_size = sizeof(i2c_smbus_data::word);

    i2c_smbus_data data{};
    if (size == I2C_SMBUS_PROC_CALL || size == I2C_SMBUS_BLOCK_PROC_CALL ||
        size == I2C_SMBUS_I2C_BLOCK_DATA || read_write == I2C_SMBUS_WRITE)
    {
        if (!copy_from_user(&data, args.data, data_size))
        {
            return -EFAULT;
        }
    }
    if (size == I2C_SMBUS_I2C_BLOCK_BROKEN)
    {
        // The old I2C block request: a read always asks for 32 bytes.
        size = I2C_SMBUS_I2C_BLOCK_DATA;
        if (read_write == I2C_SMBUS_READ)
        {
            data.block[0] = I2C_SMBUS_BLOCK_MAX;
        }
    }
    const long result = emulate_smbus(b, f, read_write, args.command, size, &data);
    if (result == 0 && (size == I2C_SMBUS_PROC_CALL || size == I2C_SMBUS_BLOCK_PROC_CALL ||
                        read_write == I2C_SMBUS_READ))
    {
        if (!copy_to_user(args.data, &data, data_size))
        {
            return -EFAULT;
        }
    }
    return result;
}

// I2C_RDWR: up to 42 messages as one combined transfer, each with its own address and
// direction, joined by repeated starts. Every message buffer is copied in (reads too), and
// the read ones are copied back after a successful transfer. Answers the message count.
long combined_transfer(board& b, const i2c_file& f, unsigned long arg)
{
    i2c_rdwr_ioctl_data request{};
    if (!copy_from_user(&request, reinterpret_cast<const void*>(arg), sizeof(request)))
    {
        return -EFAULT;
    }
    if (request.msgs == nullptr || request.nmsgs == 0 || request.nmsgs > I2C_RDWR_IOCTL_MAX_MSGS)
    {
        return -EINVAL;
    }
    std::vector<i2c_msg> msgs(request.nmsgs);
    if (!copy_from_user(msgs.data(), request.msgs, msgs.size() * sizeof(i2c_msg)))
    {
        return -EFAULT;
    }
    std::vector<std::vector<uint8_t>> buffers(msgs.size());
    for (std::size_t i = 0; i < msgs.size(); ++i)
    {
        i2c_msg& m = msgs[i];
        if (m.len > max_plain_transfer)
        {
            return -EINVAL;
        }
        buffers[i].resize(m.len);
        if (!copy_from_user(buffers[i].data(), m.buf, m.len))
        {
            return -EFAULT;
        }
        if ((m.flags & I2C_M_RECV_LEN) != 0)
        {
            // The caller's buffer must hold the largest block; the first byte says how many
            // bytes come before the chip's count. The controller then reads that many.
            if ((m.flags & I2C_M_RD) == 0 || m.len < 1 || buffers[i][0] < 1 ||
                m.len < buffers[i][0] + I2C_SMBUS_BLOCK_MAX)
            {
                return -EINVAL;
            }
            m.len = buffers[i][0];
        }
    }
    // The Pi's controller reads only in the last message of a combined transfer.
    for (std::size_t i = 0; i + 1 < msgs.size(); ++i)
    {
        if ((msgs[i].flags & I2C_M_RD) != 0)
        {
            return -EOPNOTSUPP;
        }
    }

    std::vector<bus_message> wire(msgs.size());
    for (std::size_t i = 0; i < msgs.size(); ++i)
    {
        // Its address register holds seven bits.
        wire[i].address = msgs[i].addr & 0x7F;
        wire[i].read = (msgs[i].flags & I2C_M_RD) != 0;
        const std::span<uint8_t> bytes(buffers[i].data(), msgs[i].len);
        if (wire[i].read)
            wire[i].in = bytes;
        else
            wire[i].out = bytes;
    }
    if (const int err = b.transfer(f.bus, wire[0].address, wire, false))
    {
        return -err;
    }
    for (std::size_t i = 0; i < msgs.size(); ++i)
    {
        if (wire[i].read && !copy_to_user(msgs[i].buf, buffers[i].data(), msgs[i].len))
        {
            return -EFAULT;
        }
    }
    return static_cast<long>(msgs.size());
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
        return arg > static_cast<unsigned long>(INT_MAX) ? -EINVAL : 0;
    case I2C_PEC:
        f.pec = arg != 0;
        return 0;
    case I2C_FUNCS:
    {
        const unsigned long funcs = adapter_functionality;
        return copy_to_user(reinterpret_cast<void*>(arg), &funcs, sizeof(funcs)) ? 0 : -EFAULT;
    }
    case I2C_RDWR:
        return combined_transfer(b, f, arg);
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
