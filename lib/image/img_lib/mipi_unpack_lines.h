#pragma once

// The line kernels behind mipi_unpack.h, open to its tests and benchmarks so that every
// variant (portable and processor-specific) is checked against the same reference. Each one
// converts `width` pixels of one packed line of `line_bytes` bytes and reads no byte at or
// past src + line_bytes; callers check the geometry (mipi_unpack.h does).

#include <cstddef>
#include <cstdint>

namespace img_lib::unpack::lines {

using line_fn = void (*)(const uint8_t* src, size_t line_bytes, uint8_t* dst,
                         size_t width) noexcept;

// Portable versions, for every processor.
void raw10_to_8(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept;
void raw12_to_8(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept;
void raw10_to_16(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept;
void raw12_to_16(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept;

// SSSE3 byte shuffles for the 8-bit outputs: 16 pixels per step. Defined on x86 only; call
// them only when has_ssse3() says the processor runs them.
#if defined(__x86_64__) || defined(__i386__)
#define KORSA_UNPACK_HAVE_SSSE3 1
bool has_ssse3() noexcept;
void raw10_to_8_ssse3(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept;
void raw12_to_8_ssse3(const uint8_t* src, size_t line_bytes, uint8_t* dst, size_t width) noexcept;
#endif

// The fastest variant this processor runs.
line_fn best_raw10_to_8() noexcept;
line_fn best_raw12_to_8() noexcept;

} // namespace img_lib::unpack::lines
