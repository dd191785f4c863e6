#pragma once

// Register access for the Sony IMX sensors: 16-bit register addresses, 8-bit registers, wider
// values spread over consecutive addresses, and an optional register-hold register that makes
// the sensor latch a group of writes at the same frame.
//
//     imx_registers regs(bus, 0x3001, true);       // hold register 0x3001, little-endian
//     regs.write_u16(0x3014, 20);                  // [30 01 01] [30 14 14 00] [30 01 00]
//     {
//         auto hold = regs.hold();                 // one hold around several values
//         regs.write_u24(0x3018, vmax);            // no hold writes of its own inside
//         regs.write_u24(0x3020, shs1);
//     }                                            // [30 01 00] here
//     auto v = regs.read_u16(0x300A);              // two single-byte reads
//     regs.write_script(qel_imx290_start, false);  // bursts, delays through the sleeper
//
// Nothing here throws. Single writes and reads return the bus error as i2c_com reports it
// (errno, generic category); the hold-register writes around a value are best effort and
// their errors are dropped. write_script never fails: a failed burst or a verification
// mismatch is logged at error level and the script goes on, so one flaky transfer does not
// leave the sensor half-programmed.
//
// The object is a plain value and cheap to copy. A copy shares the bus accessor, the hold
// register and the sleeper, but counts its own hold depth: the property setters keep copies,
// so their writes are always bracketed by the hold, whatever holds the driver has open.
// The i2c_com must outlive every copy. There is no lock: the camera serialises the use of a
// sensor, and each transfer is atomic on the bus through i2c_com's own mutex.

#include "i2c_com.h"
#include "result.h"
#include "sleeper.h"

#include <cstdint>
#include <span>
#include <system_error>

namespace korsa_cam::sensor {

class imx_registers
{
public:
    // One step of a register script. Scripts are constant tables ending with script_end.
    struct script_entry
    {
        uint16_t address;
        uint8_t value;
    };
    static constexpr uint16_t end_marker = 0xFFFF;   // end of script, value ignored
    static constexpr uint16_t delay_marker = 0xFFFE; // sleep value milliseconds (0: none)

    static constexpr script_entry script_end{end_marker, 0};
    static constexpr script_entry wait_ms(uint8_t milliseconds) noexcept
    {
        return {delay_marker, milliseconds};
    }

    // Largest burst the script player sends in one block write.
    static constexpr std::size_t max_burst = linux_helper::i2c_com::max_block_write_size;

    // hold_address 0: the sensor has no register hold and all hold handling is skipped.
    // No bus traffic.
    imx_registers(linux_helper::i2c_com& bus, uint16_t hold_address, bool little_endian,
                  linux_helper::sleeper pause = {}) noexcept;

    // One block write each, no register hold.
    std::error_code write(uint16_t address, std::span<const uint8_t> bytes);
    // The count (1 to 4) low bytes of value in register byte order; another count gives
    // EINVAL without bus traffic.
    std::error_code write_ux(uint16_t address, uint32_t value, unsigned count);
    std::error_code write_u8(uint16_t address, uint8_t value);

    // Inside a register hold; the result is the one of the data write.
    std::error_code write_u16(uint16_t address, uint16_t value);
    std::error_code write_u24(uint16_t address, uint32_t value);

    result<uint8_t> read_u8(uint16_t address);
    // Two single-register reads, both always made; the first error wins.
    result<uint16_t> read_u16(uint16_t address);

    // Nesting count of register holds: only the outermost push writes 1 and only the matching
    // pop writes 0. A pop without a push does nothing. Write errors are ignored.
    void push_reg_hold();
    void pop_reg_hold();

    // push_reg_hold now, pop_reg_hold when the returned object goes.
    class scoped_hold
    {
    public:
        explicit scoped_hold(imx_registers& regs) : regs_(&regs) { regs_->push_reg_hold(); }
        ~scoped_hold() { regs_->pop_reg_hold(); }
        scoped_hold(const scoped_hold&) = delete;
        scoped_hold& operator=(const scoped_hold&) = delete;

    private:
        imx_registers* regs_;
    };
    [[nodiscard]] scoped_hold hold() { return scoped_hold(*this); }

    // Plays a script up to its end entry. Runs of consecutive addresses go out as one block
    // write of at most max_burst bytes; a delay entry or a jump in the address ends a burst.
    // With verify, every register of a burst is read back singly. Always succeeds.
    std::error_code write_script(const script_entry* script, bool verify);

    uint16_t hold_address() const noexcept { return hold_address_; }
    bool little_endian() const noexcept { return little_endian_; }
    int hold_depth() const noexcept { return hold_depth_; }
    linux_helper::i2c_com& bus() const noexcept { return *bus_; }
    const linux_helper::sleeper& pause() const noexcept { return pause_; }

private:
    std::error_code write_value(uint16_t address, uint32_t value, unsigned count);
    void verify_burst(uint16_t address, std::span<const uint8_t> expected);

    linux_helper::i2c_com* bus_; // not owned
    uint16_t hold_address_;
    int hold_depth_ = 0;
    bool little_endian_;
    linux_helper::sleeper pause_;
};

} // namespace korsa_cam::sensor
