#include "bus_trace.h"

namespace korsa_sim {

void bus_trace::add(trace_entry entry)
{
    // A long-running process must not grow without bound; tests clear the trace anyway.
    if (entries_.size() >= max_entries || bytes_ + entry.data.size() > max_bytes)
    {
        ++dropped_;
        return;
    }
    bytes_ += entry.data.size();
    entries_.push_back(std::move(entry));
}

const trace_entry* bus_trace::at(std::size_t index) const
{
    return index < entries_.size() ? &entries_[index] : nullptr;
}

void bus_trace::clear()
{
    entries_.clear();
    entries_.shrink_to_fit();
    bytes_ = 0;
    dropped_ = 0;
}

} // namespace korsa_sim
