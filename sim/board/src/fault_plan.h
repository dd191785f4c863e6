#pragma once

// Injected bus faults: a numbered transaction, every transaction to an address, a number of
// reads before the first success, and short reads.

#include <cstddef>
#include <map>
#include <utility>

namespace korsa_sim {

class fault_plan
{
public:
    void fail_transaction(unsigned long number, int error);
    void fail_address(int bus, int address, int error);
    void fail_reads(int bus, int address, unsigned count, int error);
    void short_read(int bus, int address, std::size_t count);
    void clear();

    // The errno a transaction gets before any message, 0 for none.
    int on_transaction(unsigned long number, int bus, int address);
    // The errno a read message gets, 0 for none; counts the read down.
    int on_read(int bus, int address);
    // How many of count bytes a read delivers; a short read is used up by one read.
    std::size_t read_length(int bus, int address, std::size_t count);

private:
    using key = std::pair<int, int>;
    struct countdown
    {
        unsigned count = 0;
        int error = 0;
    };

    std::map<unsigned long, int> numbered_;
    std::map<key, int> by_address_;
    std::map<key, countdown> reads_;
    std::map<key, std::size_t> short_reads_;
};

} // namespace korsa_sim
