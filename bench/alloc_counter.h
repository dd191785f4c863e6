#pragma once

// Counts heap allocations of the whole benchmark process (global operator new replaced).

#include <cstdint>

namespace bench {

uint64_t allocations() noexcept;

} // namespace bench
