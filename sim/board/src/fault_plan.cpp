#include "fault_plan.h"

#include <algorithm>

namespace korsa_sim {

void fault_plan::fail_transaction(unsigned long number, int error)
{
    numbered_[number] = error;
}

void fault_plan::fail_address(int bus, int address, int error)
{
    if (error == 0)
    {
        by_address_.erase({bus, address});
    }
    else
    {
        by_address_[{bus, address}] = error;
    }
}

void fault_plan::fail_reads(int bus, int address, unsigned count, int error)
{
    if (count == 0)
    {
        reads_.erase({bus, address});
    }
    else
    {
        reads_[{bus, address}] = {count, error};
    }
}

void fault_plan::short_read(int bus, int address, std::size_t count)
{
    short_reads_[{bus, address}] = count;
}

void fault_plan::clear()
{
    numbered_.clear();
    by_address_.clear();
    reads_.clear();
    short_reads_.clear();
}

int fault_plan::on_transaction(unsigned long number, int bus, int address)
{
    if (auto it = numbered_.find(number); it != numbered_.end())
    {
        const int err = it->second;
        numbered_.erase(it);
        return err;
    }
    if (auto it = by_address_.find({bus, address}); it != by_address_.end())
    {
        return it->second;
    }
    return 0;
}

int fault_plan::on_read(int bus, int address)
{
    auto it = reads_.find({bus, address});
    if (it == reads_.end())
    {
        return 0;
    }
    const int err = it->second.error;
    if (--it->second.count == 0)
    {
        reads_.erase(it);
    }
    return err;
}

std::size_t fault_plan::read_length(int bus, int address, std::size_t count)
{
    auto it = short_reads_.find({bus, address});
    if (it == short_reads_.end())
    {
        return count;
    }
    const std::size_t n = std::min(count, it->second);
    short_reads_.erase(it);
    return n;
}

} // namespace korsa_sim
