#pragma once

// What a register script must put on the bus at the least: every run of consecutive
// addresses as one block write (at most the largest block the bus accepts), split only where
// the script pauses or jumps. Computed from the script table alone, so a driver test can hold
// the trace against it and see that the player adds no transaction, loses no value and keeps
// the order. Also the pauses the script mandates.

#include "common/imx_registers.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace test_support {

struct expected_burst
{
    uint16_t address = 0;
    std::vector<uint8_t> bytes;
};

struct script_plan
{
    std::vector<expected_burst> bursts;
    // Each pause and the number of bursts sent before it.
    std::vector<std::pair<std::chrono::milliseconds, std::size_t>> pauses;
    std::size_t register_writes = 0;

    std::size_t wire_bytes() const // register address and data, without the device address
    {
        std::size_t n = 0;
        for (const auto& b : bursts)
        {
            n += 2 + b.bytes.size();
        }
        return n;
    }
    std::chrono::milliseconds pause_total() const
    {
        std::chrono::milliseconds t{0};
        for (const auto& p : pauses)
        {
            t += p.first;
        }
        return t;
    }
};

inline script_plan plan_of(const korsa_cam::sensor::imx_registers::script_entry* script,
                           std::size_t max_burst = 1022)
{
    using regs = korsa_cam::sensor::imx_registers;
    script_plan plan;
    bool can_extend = false;
    for (const auto* e = script; e->address != regs::end_marker; ++e)
    {
        if (e->address == regs::delay_marker)
        {
            if (e->value != 0)
            {
                plan.pauses.emplace_back(std::chrono::milliseconds(e->value), plan.bursts.size());
            }
            can_extend = false;
            continue;
        }
        ++plan.register_writes;
        if (can_extend)
        {
            auto& last = plan.bursts.back();
            if (std::size_t{e->address} == last.address + last.bytes.size() &&
                last.bytes.size() < max_burst)
            {
                last.bytes.push_back(e->value);
                continue;
            }
        }
        plan.bursts.push_back({e->address, {e->value}});
        can_extend = true;
    }
    return plan;
}

} // namespace test_support
