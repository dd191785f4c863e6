// The simulated board's own promises: i2c-dev semantics, chip models, trace, faults, unplug,
// the Pi-side files, and that every other file passes through untouched.

#include "board_test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace {

using board_test::shipped_board;
using board_test::text_board;

constexpr int bus10 = 10;

// A raw i2c-dev descriptor, closed at the end of the test.
class raw_bus
{
public:
    explicit raw_bus(const char* path = "/dev/i2c-10") : fd_(::open(path, O_RDWR)), err_(errno) {}
    ~raw_bus()
    {
        if (fd_ >= 0)
        {
            ::close(fd_);
        }
    }
    raw_bus(const raw_bus&) = delete;
    raw_bus& operator=(const raw_bus&) = delete;
    int fd() const { return fd_; }
    int open_error() const { return err_; }

    int bind(int address) { return ::ioctl(fd_, I2C_SLAVE_FORCE, address); }
    // 0 or the errno of the write.
    int put(std::vector<uint8_t> bytes)
    {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())
                   ? 0
                   : errno;
    }
    std::vector<uint8_t> get(std::size_t n)
    {
        std::vector<uint8_t> v(n, 0);
        const ssize_t r = ::read(fd_, v.data(), n);
        v.resize(r < 0 ? 0 : static_cast<std::size_t>(r));
        return v;
    }
    int smbus(uint8_t rw, uint8_t cmd, uint32_t size, i2c_smbus_data* data)
    {
        i2c_smbus_ioctl_data args{rw, cmd, size, data};
        return ::ioctl(fd_, I2C_SMBUS, &args) < 0 ? errno : 0;
    }

private:
    int fd_;
    int err_;
};

class SimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board_test::require_simulator();
        korsa_sim_set_euid(-1);
    }
    void TearDown() override { korsa_sim_set_euid(-1); }
};

using SimI2cDev = SimTest;
using SimFaults = SimTest;
using SimChips = SimTest;
using SimPi = SimTest;
using SimUnplug = SimTest;

TEST_F(SimI2cDev, PlainWriteAndReadAreOneTransactionEach)
{
    raw_bus bus;
    ASSERT_GE(bus.fd(), 0);
    ASSERT_EQ(bus.bind(0x57), 0);
    korsa_sim_trace_clear();
    ASSERT_EQ(bus.put({0x14}), 0);
    const auto got = bus.get(15);
    ASSERT_EQ(got.size(), 15u);
    EXPECT_EQ(got[0], 0xCC);
    EXPECT_EQ(std::string(got.begin() + 1, got.end()), "QEL-F-IMX290-1");

    const auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_FALSE(t[0].read);
    EXPECT_EQ(t[0].data, std::vector<uint8_t>{0x14});
    EXPECT_TRUE(t[1].read);
    EXPECT_EQ(t[1].data, got);
    EXPECT_NE(t[0].transaction, t[1].transaction);
    for (const auto& x : t)
    {
        EXPECT_EQ(x.bus, bus10);
        EXPECT_EQ(x.address, 0x57);
        EXPECT_FALSE(x.repeated_start);
        EXPECT_FALSE(x.smbus);
        EXPECT_EQ(x.error, 0);
    }
}

TEST_F(SimI2cDev, AbsentChipAndBadRequestsGiveTheKernelsErrors)
{
    raw_bus missing("/dev/i2c-3");
    EXPECT_LT(missing.fd(), 0);
    EXPECT_EQ(missing.open_error(), ENOENT);
    raw_bus malformed("/dev/i2c-1x");
    EXPECT_EQ(malformed.open_error(), ENOENT);

    raw_bus bus;
    ASSERT_GE(bus.fd(), 0);
    errno = 0;
    EXPECT_EQ(::ioctl(bus.fd(), I2C_SLAVE, 0x80), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::ioctl(bus.fd(), I2C_SLAVE_FORCE, -1L), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::ioctl(bus.fd(), 0x07FF, 0), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(::ioctl(bus.fd(), I2C_RDWR, 0), -1);
    EXPECT_EQ(errno, EFAULT);

    // Nothing answers at 0x11: the Pi's controller reports the missing acknowledge.
    ASSERT_EQ(bus.bind(0x11), 0);
    EXPECT_EQ(bus.put({0x00}), EREMOTEIO);
    EXPECT_TRUE(bus.get(1).empty());
    EXPECT_EQ(errno, EREMOTEIO);
    EXPECT_EQ(korsa_sim::trace().back().error, EREMOTEIO);

    // Zero-length transfers are address-only transactions.
    ASSERT_EQ(bus.bind(0x57), 0);
    EXPECT_EQ(::write(bus.fd(), "", 0), 0);
    EXPECT_EQ(::read(bus.fd(), nullptr, 0), 0);

    // Buffers the caller cannot own give EFAULT, not a crash.
    void* volatile no_buffer = nullptr;
    const void* volatile wild = reinterpret_cast<const void*>(16);
    EXPECT_EQ(::read(bus.fd(), no_buffer, 4), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(::write(bus.fd(), wild, 4), -1);
    EXPECT_EQ(errno, EFAULT);

    // Plain transfers are clamped to 8192 bytes, as i2c-dev does.
    std::vector<uint8_t> big(10000, 0);
    korsa_sim_trace_clear();
    EXPECT_EQ(::read(bus.fd(), big.data(), big.size()), 8192);
    EXPECT_EQ(korsa_sim::trace().at(0).requested, 8192u);
}

TEST_F(SimI2cDev, BusyAddressRefusesPlainBindButNotForcedBind)
{
    text_board board("[board]\nbusy=10:0x1a\n[chip:s]\ntype=imx290\nbus=10\n");
    ASSERT_TRUE(board.ok());
    raw_bus bus;
    EXPECT_EQ(::ioctl(bus.fd(), I2C_SLAVE, 0x1A), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(::ioctl(bus.fd(), I2C_SLAVE_FORCE, 0x1A), 0);
    EXPECT_EQ(bus.put({0x30, 0x00}), 0);
}

TEST_F(SimI2cDev, SmbusRequestsMapToTheirBusMessages)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x57), 0);
    korsa_sim_trace_clear();

    i2c_smbus_data d{};
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x14, I2C_SMBUS_BYTE_DATA, &d), 0);
    EXPECT_EQ(d.byte, 0xCC);
    auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].transaction, t[0].transaction);
    EXPECT_TRUE(t[1].repeated_start);
    EXPECT_TRUE(t[0].smbus && t[1].smbus);

    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x15, I2C_SMBUS_WORD_DATA, &d), 0);
    EXPECT_EQ(d.word, 'Q' | ('E' << 8));

    d.block[0] = 3;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x15, I2C_SMBUS_I2C_BLOCK_DATA, &d), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d.block + 1), 3), "QEL");

    d.byte = 0x5A;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x40, I2C_SMBUS_BYTE_DATA, &d), 0);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x57, 0x40), 0x5A);

    korsa_sim_trace_clear();
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &d), 0);
    t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_TRUE(t[0].read);
    EXPECT_EQ(t[0].requested, 1u);

    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0, I2C_SMBUS_QUICK, nullptr), 0);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, 99, &d), EINVAL);
    EXPECT_EQ(bus.smbus(2, 0, I2C_SMBUS_BYTE_DATA, &d), EINVAL);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, nullptr), EINVAL);
    d.block[0] = I2C_SMBUS_BLOCK_MAX + 1;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_I2C_BLOCK_DATA, &d), EINVAL);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0, I2C_SMBUS_BLOCK_DATA, &d), EINVAL);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, reinterpret_cast<i2c_smbus_data*>(16)),
              EFAULT);

    ASSERT_EQ(bus.bind(0x12), 0);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &d), EREMOTEIO);
}

// A union placed so that only its first `readable` bytes lie in accessible memory: the
// kernel copies just the bytes of a request's size, so nothing beyond them may be touched.
class guarded_data
{
public:
    guarded_data()
    {
        const long page = ::sysconf(_SC_PAGESIZE);
        base_ = static_cast<uint8_t*>(
            ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ::mprotect(base_ + page, page, PROT_NONE);
        end_ = base_ + page;
        size_ = static_cast<std::size_t>(2 * page);
    }
    ~guarded_data() { ::munmap(base_, size_); }
    guarded_data(const guarded_data&) = delete;
    guarded_data& operator=(const guarded_data&) = delete;

    // The bytes go to the request as its data pointer (possibly misaligned for the union,
    // so the test reads and writes them as bytes).
    uint8_t* with_room_for(std::size_t readable)
    {
        std::memset(end_ - readable, 0, readable);
        return end_ - readable;
    }

private:
    uint8_t* base_ = nullptr;
    uint8_t* end_ = nullptr;
    std::size_t size_ = 0;
};

i2c_smbus_data* as_data(uint8_t* bytes)
{
    return reinterpret_cast<i2c_smbus_data*>(bytes);
}

TEST_F(SimI2cDev, SmbusCopiesOnlyTheBytesOfItsSizeAndSendByteIgnoresTheData)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x57), 0);
    guarded_data guard;

    // Send byte: the data pointer is not looked at, NULL included.
    korsa_sim_trace_clear();
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x14, I2C_SMBUS_BYTE, nullptr), 0);
    auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].data, std::vector<uint8_t>{0x14});
    // Receive byte continues from there; one byte comes back.
    uint8_t* one = guard.with_room_for(1);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, as_data(one)), 0);
    EXPECT_EQ(one[0], 0xCC);

    one = guard.with_room_for(1);
    one[0] = 0x77;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x40, I2C_SMBUS_BYTE_DATA, as_data(one)), 0);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x57, 0x40), 0x77);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x14, I2C_SMBUS_BYTE_DATA, as_data(guard.with_room_for(1))),
              0);

    uint8_t* two = guard.with_room_for(2);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x15, I2C_SMBUS_WORD_DATA, as_data(two)), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(two), 2), "QE"); // low byte first
    two = guard.with_room_for(2);
    two[0] = 0xEF;
    two[1] = 0xBE;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x40, I2C_SMBUS_WORD_DATA, as_data(two)), 0);
    EXPECT_EQ(korsa_sim::regs(bus10, 0x57, 0x40, 2), (std::vector<uint8_t>{0xEF, 0xBE}));

    // Block sizes use the whole union; one byte short of it is a fault.
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x15, I2C_SMBUS_I2C_BLOCK_DATA,
                        as_data(guard.with_room_for(sizeof(i2c_smbus_data) - 1))),
              EFAULT);
}

TEST_F(SimI2cDev, SmbusProcessCallsAndBlockTransfersFollowTheKernelsEmulation)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x57), 0);
    i2c_smbus_data d{};

    // Process call: the word out, a repeated start, the word back.
    korsa_sim::set_regs(bus10, 0x57, 0x42, {0x11, 0x22});
    korsa_sim_trace_clear();
    d.word = 0x1234;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x40, I2C_SMBUS_PROC_CALL, &d), 0);
    EXPECT_EQ(d.word, 0x2211);
    auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].data, (std::vector<uint8_t>{0x40, 0x34, 0x12}));
    EXPECT_TRUE(t[1].read && t[1].repeated_start);

    // Block write: command, count, bytes.
    korsa_sim_trace_clear();
    d.block[0] = 3;
    d.block[1] = 0xA1;
    d.block[2] = 0xA2;
    d.block[3] = 0xA3;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x60, I2C_SMBUS_BLOCK_DATA, &d), 0);
    t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].data, (std::vector<uint8_t>{0x60, 3, 0xA1, 0xA2, 0xA3}));

    // Block read: the Pi's controller cannot take the length from the chip, so only the
    // count byte is read and the block reads as zeros; a count above 32 is a protocol error.
    korsa_sim::set_regs(bus10, 0x57, 0x70, {5, 0x99});
    korsa_sim_trace_clear();
    std::memset(&d, 0xEE, sizeof(d));
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x70, I2C_SMBUS_BLOCK_DATA, &d), 0);
    EXPECT_EQ(d.block[0], 5);
    EXPECT_EQ(std::vector<uint8_t>(d.block + 1, d.block + 6), std::vector<uint8_t>(5, 0));
    EXPECT_EQ(korsa_sim::trace().back().requested, 1u);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x00, I2C_SMBUS_BLOCK_DATA, &d), EPROTO); // 0xFF

    // Block process call: block out, count byte back (from 0x71, after the two written).
    korsa_sim::set_regs(bus10, 0x57, 0x71, {3});
    d.block[0] = 1;
    d.block[1] = 0x42;
    korsa_sim_trace_clear();
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x6F, I2C_SMBUS_BLOCK_PROC_CALL, &d), 0);
    t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].data, (std::vector<uint8_t>{0x6F, 1, 0x42}));
    EXPECT_EQ(d.block[0], 3);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x57, 0x70), 0x42);

    // The old I2C block read always asks for 32 bytes; an I2C block of 0 bytes is allowed.
    korsa_sim_trace_clear();
    d.block[0] = 4;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x15, I2C_SMBUS_I2C_BLOCK_BROKEN, &d), 0);
    EXPECT_EQ(korsa_sim::trace().back().requested, 32u);
    EXPECT_EQ(d.block[0], 32);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d.block + 1), 4), "QEL-");
    d.block[0] = 0;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x15, I2C_SMBUS_I2C_BLOCK_DATA, &d), 0);

    unsigned long funcs = 0;
    ASSERT_EQ(::ioctl(bus.fd(), I2C_FUNCS, &funcs), 0);
    EXPECT_EQ(funcs, static_cast<unsigned long>(I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL));
}

TEST_F(SimI2cDev, PacketErrorCodeIsSentAndChecked)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x57), 0);
    ASSERT_EQ(::ioctl(bus.fd(), I2C_PEC, 1), 0);
    i2c_smbus_data d{};

    // CRC-8 (x^8 + x^2 + x + 1) over 0xAE 0x40 0x5A is 0xBE.
    korsa_sim_trace_clear();
    d.byte = 0x5A;
    EXPECT_EQ(bus.smbus(I2C_SMBUS_WRITE, 0x40, I2C_SMBUS_BYTE_DATA, &d), 0);
    EXPECT_EQ(korsa_sim::trace().at(0).data, (std::vector<uint8_t>{0x40, 0x5A, 0xBE}));

    // A read takes one more byte, which must be the code over 0xAE 0x14 0xAF 0xCC (0x83).
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x14, I2C_SMBUS_BYTE_DATA, &d), EBADMSG);
    korsa_sim::set_regs(bus10, 0x57, 0x15, {0x83});
    korsa_sim_trace_clear();
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x14, I2C_SMBUS_BYTE_DATA, &d), 0);
    EXPECT_EQ(d.byte, 0xCC);
    EXPECT_EQ(korsa_sim::trace().at(1).requested, 2u);

    // I2C block transfers never carry one.
    ASSERT_EQ(::ioctl(bus.fd(), I2C_PEC, 0), 0);
    EXPECT_EQ(bus.smbus(I2C_SMBUS_READ, 0x14, I2C_SMBUS_BYTE_DATA, &d), 0);
}

// One I2C_RDWR request.
int combined(int fd, std::vector<i2c_msg> msgs)
{
    i2c_rdwr_ioctl_data request{msgs.data(), static_cast<__u32>(msgs.size())};
    const int r = ::ioctl(fd, I2C_RDWR, &request);
    return r < 0 ? -errno : r;
}

TEST_F(SimI2cDev, CombinedTransfersRunAsOneTransactionWithRepeatedStarts)
{
    raw_bus bus; // bound to nothing: each message names its own address
    uint8_t address[2] = {0x00, 0x08};
    uint8_t serial[16] = {};
    korsa_sim_trace_clear();
    ASSERT_EQ(combined(bus.fd(), {{0x50, 0, 2, address}, {0x50, I2C_M_RD, 16, serial}}), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), 8), "40110000");
    auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].transaction, t[1].transaction);
    EXPECT_FALSE(t[0].repeated_start);
    EXPECT_TRUE(t[1].repeated_start);
    EXPECT_FALSE(t[0].smbus || t[1].smbus);
    EXPECT_EQ(t[0].data, (std::vector<uint8_t>{0x00, 0x08}));

    // Messages to different chips in one transaction.
    uint8_t cmd = 0x14;
    uint8_t marker = 0;
    uint8_t sensor_reg[2] = {0x30, 0x00};
    korsa_sim_trace_clear();
    ASSERT_EQ(
        combined(bus.fd(),
                 {{0x1A, 0, 2, sensor_reg}, {0x57, 0, 1, &cmd}, {0x57, I2C_M_RD, 1, &marker}}),
        3);
    EXPECT_EQ(marker, 0xCC);
    t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].address, 0x1A);
    EXPECT_EQ(t[2].address, 0x57);
    EXPECT_EQ(t[2].transaction, t[0].transaction);

    // A chip that does not answer ends the transfer there.
    korsa_sim_trace_clear();
    EXPECT_EQ(combined(bus.fd(), {{0x57, 0, 1, &cmd}, {0x11, I2C_M_RD, 1, &marker}}), -EREMOTEIO);
    EXPECT_EQ(korsa_sim::trace().size(), 2u);

    // The Pi's controller reads only in the last message.
    EXPECT_EQ(combined(bus.fd(), {{0x57, I2C_M_RD, 1, &marker}, {0x57, 0, 1, &cmd}}), -EOPNOTSUPP);
}

TEST_F(SimI2cDev, CombinedTransfersRefuseWhatTheKernelRefuses)
{
    raw_bus bus;
    uint8_t byte = 0;
    i2c_rdwr_ioctl_data none{nullptr, 1};
    EXPECT_EQ(::ioctl(bus.fd(), I2C_RDWR, &none), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(combined(bus.fd(), {}), -EINVAL);
    EXPECT_EQ(combined(bus.fd(), std::vector<i2c_msg>(43, i2c_msg{0x57, 0, 1, &byte})), -EINVAL);
    EXPECT_EQ(combined(bus.fd(), std::vector<i2c_msg>(42, i2c_msg{0x57, 0, 1, &byte})), 42);
    std::vector<uint8_t> big(8193, 0);
    EXPECT_EQ(combined(bus.fd(), {{0x57, 0, 8193, big.data()}}), -EINVAL);
    EXPECT_EQ(combined(bus.fd(), {{0x57, I2C_M_RD, 4, reinterpret_cast<__u8*>(16)}}), -EFAULT);

    // Length from the chip: the buffer must hold the largest block and say how many bytes
    // come first; the Pi's controller then reads just those.
    uint8_t block[34] = {1};
    EXPECT_EQ(combined(bus.fd(), {{0x57, I2C_M_RD | I2C_M_RECV_LEN, 32, block}}), -EINVAL);
    EXPECT_EQ(combined(bus.fd(), {{0x57, I2C_M_RECV_LEN, 34, block}}), -EINVAL);
    korsa_sim_trace_clear();
    EXPECT_EQ(combined(bus.fd(), {{0x57, I2C_M_RD | I2C_M_RECV_LEN, 34, block}}), 1);
    EXPECT_EQ(korsa_sim::trace().at(0).requested, 1u);
}

TEST_F(SimI2cDev, DescriptorsAreRealAndClosedOnce)
{
    const int before = korsa_sim_open_i2c_count();
    {
        raw_bus bus;
        ASSERT_EQ(bus.bind(0x57), 0);
        // A duplicate shares the open file and with it the bound address.
        const int copy = ::dup(bus.fd());
        ASSERT_GE(copy, 0);
        EXPECT_EQ(korsa_sim_open_i2c_count(), before + 2);
        const uint8_t reg = 0x14;
        EXPECT_EQ(::write(copy, &reg, 1), 1);
        uint8_t v = 0;
        EXPECT_EQ(::read(copy, &v, 1), 1);
        EXPECT_EQ(v, 0xCC);
        EXPECT_EQ(::close(copy), 0);
        EXPECT_EQ(::close(copy), -1);
        EXPECT_EQ(errno, EBADF);
    }
    EXPECT_EQ(korsa_sim_open_i2c_count(), before);
}

TEST_F(SimI2cDev, OtherFilesPassThroughUntouched)
{
    char path[] = "/tmp/korsa-passthrough-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "abc", 3), 3);
    EXPECT_EQ(::lseek(fd, 0, SEEK_SET), 0);
    char buf[4] = {};
    EXPECT_EQ(::read(fd, buf, 3), 3);
    EXPECT_STREQ(buf, "abc");
    // An I2C request on another file gets exactly the C library's own answer (ENOTTY from the
    // kernel; under an emulator such as qemu-user, whatever the emulator answers).
    void* libc = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    using ioctl_fn = int (*)(int, unsigned long, ...);
    const auto libc_ioctl = reinterpret_cast<ioctl_fn>(::dlsym(libc, "ioctl"));
    ASSERT_NE(libc_ioctl, nullptr);
    errno = 0;
    EXPECT_EQ(libc_ioctl(fd, I2C_SLAVE, 0x10), -1);
    const int libc_errno = errno;
    EXPECT_NE(libc_errno, 0);
    errno = 0;
    EXPECT_EQ(::ioctl(fd, I2C_SLAVE, 0x10), -1);
    EXPECT_EQ(errno, libc_errno);
    ::dlclose(libc);
    EXPECT_EQ(::close(fd), 0);
    FILE* f = std::fopen(path, "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fgetc(f), 'a');
    std::fclose(f);
    ::unlink(path);
    EXPECT_EQ(korsa_sim::trace().size(), 0u);
}

TEST_F(SimFaults, NumberedAddressAndCountedReadFaults)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x57), 0);

    korsa_sim_fail_nth(2, EIO);
    EXPECT_EQ(bus.put({0x14}), 0);
    EXPECT_EQ(bus.put({0x14}), EIO);
    EXPECT_EQ(bus.put({0x14}), 0);

    korsa_sim_fail_address(bus10, 0x57, ETIMEDOUT);
    EXPECT_EQ(bus.put({0x14}), ETIMEDOUT);
    korsa_sim_fail_address(bus10, 0x57, 0);
    EXPECT_EQ(bus.put({0x14}), 0);

    // Reads fail a given number of times, writes are not counted.
    korsa_sim_fail_reads(bus10, 0x57, 2, EREMOTEIO);
    EXPECT_TRUE(bus.get(1).empty());
    EXPECT_EQ(bus.put({0x14}), 0);
    EXPECT_TRUE(bus.get(1).empty());
    EXPECT_EQ(bus.get(1).size(), 1u);

    korsa_sim_short_read(bus10, 0x57, 2);
    EXPECT_EQ(bus.get(5).size(), 2u);
    EXPECT_EQ(bus.get(5).size(), 5u);

    korsa_sim_fail_address(bus10, 0x57, EIO);
    korsa_sim_clear_faults();
    EXPECT_EQ(bus.put({0x14}), 0);
}

TEST_F(SimFaults, BoardFileCanMakeAChipFailItsFirstReads)
{
    text_board board("[chip:gpio]\ntype=tca6408\nbus=10\nfail_reads=2\n");
    ASSERT_TRUE(board.ok());
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x20), 0);
    EXPECT_EQ(bus.put({0x00}), 0);
    EXPECT_TRUE(bus.get(1).empty());
    EXPECT_TRUE(bus.get(1).empty());
    EXPECT_EQ(bus.get(1).size(), 1u);
}

TEST_F(SimChips, SonySensorsStreamOnlyOutOfStandbyWithTheirStartRegister)
{
    struct step
    {
        const char* type;
        int address;
        std::vector<uint8_t> start;      // writes that start streaming
        std::vector<uint8_t> standby;    // a write that returns to standby
        std::vector<uint8_t> half_start; // only one of two start registers
    };
    const std::vector<step> steps = {
        {"imx290", 0x1A, {0x30, 0x00, 0x00, 0x00, 0x00}, {0x30, 0x00, 0x01}, {0x30, 0x00, 0x00}},
        {"imx335", 0x1A, {0x30, 0x00, 0x00, 0x00, 0x00}, {0x30, 0x00, 0x01}, {0x30, 0x02, 0x00}},
        {"imx296", 0x1A, {0x30, 0x0A, 0x00}, {0x30, 0x00, 0x01}, {0x30, 0x0A, 0x00}},
        {"imx390", 0x21, {0x00, 0x00, 0x00}, {0x00, 0x00, 0x01}, {}},
    };
    for (const auto& s : steps)
    {
        SCOPED_TRACE(s.type);
        text_board board(std::string("[chip:s]\ntype=") + s.type + "\nbus=10\n");
        ASSERT_TRUE(board.ok());
        raw_bus bus;
        ASSERT_EQ(bus.bind(s.address), 0);
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
        if (!s.half_start.empty())
        {
            ASSERT_EQ(bus.put(s.half_start), 0);
            EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
        }
        ASSERT_EQ(bus.put(s.start), 0);
        if (std::string(s.type) == "imx296")
        {
            ASSERT_EQ(bus.put({0x30, 0x00, 0x00}), 0);
        }
        EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
        ASSERT_EQ(bus.put(s.standby), 0);
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    }
}

// The simulated receiver finds the streaming query by name, without linking to this library.
TEST_F(SimChips, StreamingQueryIsFoundByName)
{
    using query_fn = int (*)();
    auto query = reinterpret_cast<query_fn>(::dlsym(RTLD_DEFAULT, "korsa_sim_sensor_streaming"));
    ASSERT_NE(query, nullptr);
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x1A), 0);
    EXPECT_EQ(query(), 0);
    ASSERT_EQ(bus.put({0x30, 0x00, 0x00, 0x00, 0x00}), 0);
    EXPECT_EQ(query(), 1);
}

TEST_F(SimChips, Imx290SoftwareResetRestoresPowerOnState)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x1A), 0);
    ASSERT_EQ(bus.put({0x30, 0x00, 0x00, 0x00, 0x00}), 0); // auto-increment 3000..3002
    ASSERT_EQ(bus.put({0x30, 0x14, 0x34, 0x12}), 0);
    EXPECT_EQ(korsa_sim::regs(bus10, 0x1A, 0x3014, 2), (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    ASSERT_EQ(bus.put({0x30, 0x03, 0x01}), 0);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(korsa_sim::regs(bus10, 0x1A, 0x3014, 2), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(korsa_sim::reg(bus10, 0x1A, 0x3003), 0);
}

TEST_F(SimChips, Ar0234HasBigEndianRegistersReadOnlyVersionAndStreamBit)
{
    text_board board("[chip:s]\ntype=ar0234\nbus=10\n");
    ASSERT_TRUE(board.ok());
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x10), 0);
    ASSERT_EQ(bus.put({0x30, 0x00}), 0);
    EXPECT_EQ(bus.get(2), (std::vector<uint8_t>{0x0A, 0x56}));
    ASSERT_EQ(bus.put({0x30, 0x00, 0x12, 0x34}), 0);
    ASSERT_EQ(bus.put({0x30, 0x00}), 0);
    EXPECT_EQ(bus.get(2), (std::vector<uint8_t>{0x0A, 0x56}));

    ASSERT_EQ(bus.put({0x30, 0x60, 0x00, 0x0D}), 0);
    ASSERT_EQ(bus.put({0x30, 0x1A, 0x22, 0x5C}), 0);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
    ASSERT_EQ(bus.put({0x30, 0x1A, 0x22, 0x58}), 0);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    ASSERT_EQ(bus.put({0x30, 0x1A, 0x2B, 0x58}), 0); // armed for a trigger that never comes
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    // The reset bit brings the defaults back.
    ASSERT_EQ(bus.put({0x30, 0x1A, 0x00, 0xD9}), 0);
    EXPECT_EQ(korsa_sim::regs(bus10, 0x10, 0x3060, 2), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(korsa_sim::regs(bus10, 0x10, 0x301A, 2), (std::vector<uint8_t>{0x20, 0x58}));
}

TEST_F(SimChips, SerializerAndRemoteChipsAnswerOnlyOnceTheAliasIsSet)
{
    ASSERT_EQ(korsa_sim_load_board(shipped_board("imx390-fpdlink.board").c_str()), 0);
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x31), 0);
    EXPECT_EQ(bus.put({0x02}), EREMOTEIO);
    ASSERT_EQ(bus.bind(0x21), 0);
    EXPECT_EQ(bus.put({0x00, 0x00}), EREMOTEIO);
    ASSERT_EQ(bus.bind(0x50), 0);
    EXPECT_EQ(bus.put({0x00, 0x00}), EREMOTEIO);

    ASSERT_EQ(bus.bind(0x30), 0);
    ASSERT_EQ(bus.put({0x5C, 0x62}), 0);
    for (int addr : {0x31, 0x21, 0x50, 0x57, 0x43})
    {
        SCOPED_TRACE(addr);
        ASSERT_EQ(bus.bind(addr), 0);
        EXPECT_EQ(bus.put({0x00, 0x00}), 0);
    }
    // The deserializer's revision register is read-only.
    ASSERT_EQ(bus.bind(0x30), 0);
    ASSERT_EQ(bus.put({0x50, 0x77}), 0);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x30, 0x50), 0);
}

TEST_F(SimChips, ClockGeneratorPagesAndExpanderRegisters)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x70), 0);
    ASSERT_EQ(bus.put({0xFF, 0x01}), 0);
    ASSERT_EQ(bus.put({0x1F, 0xAA}), 0);
    ASSERT_EQ(bus.put({0xFF, 0x00}), 0);
    ASSERT_EQ(bus.put({0x1F, 0x55}), 0);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x70, 0x11F), 0xAA);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x70, 0x01F), 0x55);

    // TCA7408 (on this board): outputs released and all pins inputs after power-up.
    EXPECT_EQ(korsa_sim::reg(bus10, 0x43, 0x07), 0xFF);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x43, 0x03), 0x00);

    text_board board("[chip:gpio]\ntype=tca6408\nbus=10\ninputs=0x0f\n");
    ASSERT_TRUE(board.ok());
    raw_bus exp;
    ASSERT_EQ(exp.bind(0x20), 0);
    // Pin 6 made an output and driven low; input register shows outputs, then inputs.
    ASSERT_EQ(exp.put({0x03, 0xBF}), 0);
    ASSERT_EQ(exp.put({0x01, 0xBF}), 0);
    ASSERT_EQ(exp.put({0x00}), 0);
    EXPECT_EQ(exp.get(1), std::vector<uint8_t>{0x0F});
    // The register pointer does not advance.
    ASSERT_EQ(exp.put({0x03}), 0);
    EXPECT_EQ(exp.get(2), (std::vector<uint8_t>{0xBF, 0xBF}));
}

TEST_F(SimUnplug, UnpluggedBoardAnswersNothingAndPowersUpFreshWhenReplugged)
{
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x1A), 0);
    ASSERT_EQ(bus.put({0x30, 0x00, 0x00, 0x00, 0x00}), 0);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);

    korsa_sim_set_unplugged(1);
    EXPECT_EQ(korsa_sim_unplugged(), 1);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_TRUE(bus.get(1).empty());
    EXPECT_EQ(errno, EREMOTEIO);
    EXPECT_EQ(bus.put({0x30, 0x00}), EREMOTEIO);

    korsa_sim_set_unplugged(0);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(korsa_sim::reg(bus10, 0x1A, 0x3000), 1);
    EXPECT_EQ(bus.put({0x30, 0x00}), 0);
}

// Run in its own process with KORSA_SIM_UNPLUG_FILE set: another process unplugs the board by
// creating that file and replugs it by removing it.
TEST_F(SimUnplug, ControlFileUnplugsFromOutside)
{
    const char* flag = std::getenv("KORSA_SIM_UNPLUG_FILE");
    ASSERT_NE(flag, nullptr) << "run through ctest (board.unplug_file)";
    ::unlink(flag);
    raw_bus bus;
    ASSERT_EQ(bus.bind(0x57), 0);
    EXPECT_EQ(bus.put({0x14}), 0);
    {
        std::FILE* f = std::fopen(flag, "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    EXPECT_EQ(bus.put({0x14}), EREMOTEIO);
    EXPECT_EQ(korsa_sim_unplugged(), 1);
    ::unlink(flag);
    EXPECT_EQ(bus.put({0x14}), 0);
    EXPECT_EQ(korsa_sim_unplugged(), 0);
}

TEST_F(SimPi, RevisionKernelReleaseAndGpioPage)
{
    std::FILE* f = std::fopen("/proc/device-tree/system/linux,revision", "rb");
    ASSERT_NE(f, nullptr);
    unsigned char code[8] = {};
    EXPECT_EQ(std::fread(code, 1, sizeof(code), f), 4u);
    std::fclose(f);
    EXPECT_EQ(std::vector<unsigned char>(code, code + 4),
              (std::vector<unsigned char>{0x00, 0xC0, 0x31, 0x11}));
    EXPECT_EQ(::open("/proc/device-tree/system/linux,revision", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);

    utsname u{};
    ASSERT_EQ(::uname(&u), 0);
    EXPECT_STREQ(u.release, "5.10.63-v7l+");

    const int fd = ::open("/dev/gpiomem", O_RDWR | O_SYNC | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    static_cast<volatile uint32_t*>(map)[4] = 0x0002D000; // GPIO 44/45 on alternate function 1
    EXPECT_EQ(korsa_sim_gpio_page(0)[4], 0x0002D000u);
    EXPECT_EQ(korsa_sim_i2c0_routed(), 1);
    ::munmap(map, 4096);
    ::close(fd);
    korsa_sim_reset();
    EXPECT_EQ(korsa_sim_i2c0_routed(), 0);

    // /dev/mem shows the page at the SoC's register base, for root only.
    korsa_sim_set_euid(1000);
    EXPECT_EQ(::geteuid(), 1000u);
    EXPECT_EQ(::open("/dev/mem", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    korsa_sim_set_euid(0);
    const int mem = ::open("/dev/mem", O_RDWR | O_SYNC);
    ASSERT_GE(mem, 0);
    void* m2 = ::mmap64(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, mem, 0xFE200000LL);
    ASSERT_NE(m2, MAP_FAILED);
    static_cast<volatile uint32_t*>(m2)[7] = 0x8;
    EXPECT_EQ(korsa_sim_gpio_page(1)[7], 0x8u);
    ::munmap(m2, 4096);
    ::close(mem);
}

TEST_F(SimPi, MissingFilesAndMalformedBoards)
{
    {
        text_board board("[pi]\ngpiomem=false\ndevmem=false\n");
        ASSERT_TRUE(board.ok());
        EXPECT_EQ(::open("/proc/device-tree/system/linux,revision", O_RDONLY), -1);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(::open("/dev/gpiomem", O_RDWR), -1);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(::open("/dev/i2c-10", O_RDWR), -1);
        EXPECT_EQ(errno, ENOENT);
    }
    for (const char* bad : {"[chip:x]\ntype=imx999\nbus=10\n", "[chip:x]\ntype=imx290\n",
                            "[chip:x]\ntype=memory8\nbus=1\n", "[pi]\nrevision=00c",
                            "[chip:x]\ntype=imx290\nbus=10\nregisters=0x3000\n", "not a key file",
                            "[chip:a]\ntype=imx290\nbus=1\n[chip:b]\ntype=imx296\nbus=1\n"})
    {
        SCOPED_TRACE(bad);
        board_test::temp_board_file file(bad);
        EXPECT_EQ(korsa_sim_load_board(file.path().c_str()), -EINVAL);
        EXPECT_EQ(korsa_sim_active(), 0);
    }
    EXPECT_EQ(korsa_sim_load_board("/nonexistent/board"), -ENOENT);
    // Without a board everything passes through.
    EXPECT_EQ(::open("/dev/i2c-10", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(korsa_sim_gpio_page(0), nullptr);
}

} // namespace
