#pragma once

// The ordered record of every message on the simulated buses, bounded in size.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korsa_sim {

struct trace_entry
{
    unsigned long transaction = 0;
    int bus = 0;
    int address = 0;
    bool read = false;
    bool repeated_start = false;
    bool smbus = false;
    int error = 0;
    std::size_t requested = 0;
    std::vector<uint8_t> data;
};

class bus_trace
{
public:
    void add(trace_entry entry);
    std::size_t size() const { return entries_.size(); }
    const trace_entry* at(std::size_t index) const;
    unsigned long dropped() const { return dropped_; }
    void clear();

    static constexpr std::size_t max_entries = 200000;
    static constexpr std::size_t max_bytes = 32U << 20;

private:
    std::vector<trace_entry> entries_;
    std::size_t bytes_ = 0;
    unsigned long dropped_ = 0;
};

} // namespace korsa_sim
