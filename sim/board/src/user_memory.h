#pragma once

// Copies between the simulator and buffers handed in by the host process. A bad pointer gives
// false (the caller reports EFAULT, as the kernel would) instead of a crash.

#include <cstddef>

namespace korsa_sim {

bool copy_from_user(void* dst, const void* src, std::size_t n) noexcept;
bool copy_to_user(void* dst, const void* src, std::size_t n) noexcept;

} // namespace korsa_sim
