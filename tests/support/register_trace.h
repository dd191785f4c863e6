#pragma once

// Reading the simulated board's bus trace the way a sensor sees it: writes to one device
// decoded into a 16-bit register address and the data bytes behind it, register reads
// (address write + read), the value history of every register, and the groups of writes
// bracketed by a register-hold register. Needs the board simulator in the process.
//
//     korsa_sim_trace_clear();
//     ... drive the sensor ...
//     auto w = test_support::register_writes(10, 0x1A);        // data-carrying writes
//     auto history = test_support::value_history(w);            // register -> values in order
//     EXPECT_EQ(test_support::last_value(w, 0x3018, 3), 2250u);  // little-endian, 3 bytes
//     auto groups = test_support::hold_groups(w, 0x3001);       // [hold=1] ... [hold=0]

#include "korsa_sim/board_sim.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct register_write
{
    std::size_t trace_index = 0; // position in the trace
    uint16_t address = 0;        // from the first two bytes, high byte first
    std::vector<uint8_t> bytes;  // the data after the address
    int error = 0;               // errno the writer got, 0 on success

    // "[30 14 34 12]": the whole message as it went on the wire.
    std::string wire() const
    {
        static const char* digits = "0123456789ABCDEF";
        std::string s = "[";
        auto add = [&](uint8_t b) {
            if (s.size() > 1)
            {
                s += ' ';
            }
            s += digits[b >> 4];
            s += digits[b & 0xF];
        };
        add(static_cast<uint8_t>(address >> 8));
        add(static_cast<uint8_t>(address & 0xFF));
        for (auto b : bytes)
        {
            add(b);
        }
        return s + "]";
    }
};

struct register_read
{
    std::size_t trace_index = 0; // position of the address write
    uint16_t address = 0;
    std::vector<uint8_t> bytes; // delivered by the read
    int error = 0;              // of the address write, else of the read
};

// Every write to bus/device carrying at least one data byte, in order. Writes of just the two
// address bytes are the first half of a register read and are left out (see register_reads),
// unless with_address_only is set.
inline std::vector<register_write> register_writes(int bus, int device,
                                                   const std::vector<korsa_sim::xfer>& trace,
                                                   bool with_address_only = false)
{
    std::vector<register_write> out;
    for (std::size_t i = 0; i < trace.size(); ++i)
    {
        const auto& x = trace[i];
        if (x.bus != bus || x.address != device || x.read || x.data.size() < 2)
        {
            continue;
        }
        if (x.data.size() == 2 && !with_address_only)
        {
            continue;
        }
        register_write w;
        w.trace_index = i;
        w.address = static_cast<uint16_t>((x.data[0] << 8) | x.data[1]);
        w.bytes.assign(x.data.begin() + 2, x.data.end());
        w.error = x.error;
        out.push_back(std::move(w));
    }
    return out;
}

inline std::vector<register_write> register_writes(int bus, int device)
{
    return register_writes(bus, device, korsa_sim::trace());
}

// Address write followed by a read of the same device: one register read each. An address
// write that failed counts as a read that never got its data.
inline std::vector<register_read> register_reads(int bus, int device,
                                                 const std::vector<korsa_sim::xfer>& trace)
{
    std::vector<register_read> out;
    for (std::size_t i = 0; i < trace.size(); ++i)
    {
        const auto& x = trace[i];
        if (x.bus != bus || x.address != device || x.read || x.data.size() != 2)
        {
            continue;
        }
        register_read r;
        r.trace_index = i;
        r.address = static_cast<uint16_t>((x.data[0] << 8) | x.data[1]);
        r.error = x.error;
        if (x.error == 0 && i + 1 < trace.size() && trace[i + 1].read &&
            trace[i + 1].address == device && trace[i + 1].bus == bus)
        {
            r.bytes = trace[i + 1].data;
            r.error = trace[i + 1].error;
        }
        out.push_back(std::move(r));
    }
    return out;
}

inline std::vector<register_read> register_reads(int bus, int device)
{
    return register_reads(bus, device, korsa_sim::trace());
}

// Every value each register received, in order: byte i of a burst at A went to A + i.
// Failed writes are left out.
inline std::map<uint16_t, std::vector<uint8_t>>
value_history(const std::vector<register_write>& writes)
{
    std::map<uint16_t, std::vector<uint8_t>> out;
    for (const auto& w : writes)
    {
        if (w.error != 0)
        {
            continue;
        }
        for (std::size_t i = 0; i < w.bytes.size(); ++i)
        {
            out[static_cast<uint16_t>(w.address + i)].push_back(w.bytes[i]);
        }
    }
    return out;
}

// The value last written to width registers from reg on, least significant byte at reg;
// empty when one of them was never written.
inline std::optional<uint32_t> last_value(const std::vector<register_write>& writes, uint16_t reg,
                                          unsigned width)
{
    const auto history = value_history(writes);
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i)
    {
        auto it = history.find(static_cast<uint16_t>(reg + i));
        if (it == history.end() || it->second.empty())
        {
            return std::nullopt;
        }
        v |= static_cast<uint32_t>(it->second.back()) << (8 * i);
    }
    return v;
}

// The writes between a write of 1 to the hold register and the next write of 0 to it. A group
// still open at the end of the writes has closed = false. Writes outside any bracket are
// collected in outside.
struct hold_group
{
    std::vector<register_write> inside;
    bool closed = false;
};

struct hold_split
{
    std::vector<hold_group> groups;
    std::vector<register_write> outside;
    std::size_t nested_opens = 0; // writes of 1 while a group was already open
};

inline hold_split hold_groups(const std::vector<register_write>& writes, uint16_t hold_register)
{
    hold_split out;
    bool open = false;
    for (const auto& w : writes)
    {
        if (w.address == hold_register && w.bytes.size() == 1)
        {
            if (w.bytes[0] == 1)
            {
                if (open)
                {
                    ++out.nested_opens;
                }
                else
                {
                    out.groups.emplace_back();
                    open = true;
                }
                continue;
            }
            if (w.bytes[0] == 0 && open)
            {
                out.groups.back().closed = true;
                open = false;
                continue;
            }
        }
        if (open)
        {
            out.groups.back().inside.push_back(w);
        }
        else
        {
            out.outside.push_back(w);
        }
    }
    return out;
}

// The writes, without those to one register (typically the hold register).
inline std::vector<register_write> without(const std::vector<register_write>& writes, uint16_t reg)
{
    std::vector<register_write> out;
    for (const auto& w : writes)
    {
        if (w.address != reg)
        {
            out.push_back(w);
        }
    }
    return out;
}

// The wire form of every write, for readable failure messages and whole-sequence checks.
inline std::vector<std::string> wire(const std::vector<register_write>& writes)
{
    std::vector<std::string> out;
    for (const auto& w : writes)
    {
        out.push_back(w.wire());
    }
    return out;
}

} // namespace test_support
