#pragma once

// Unpacks MIPI CSI-2 packed raw frames into plain samples that ordinary image code reads.
//
// The packings: RAW10 stores four pixels in five bytes, RAW12 two pixels in three. The first
// bytes of a group are the upper 8 bits of its pixels in order; the group's last byte holds
// their low bits, the first pixel's in the lowest bits (RAW10: 2 bits each, RAW12: 4 bits).
//
// A line of `width` pixels is width * bits / 8 bytes long, rounded down: the rule by which
// the cameras size their buffers. When the width does not fill the last group, that group is
// cut after its pixels' upper bytes, so their low bits are not in the line and read as 0.
//
// Nothing here reads or writes outside the spans it is given: every call checks the geometry
// first and touches no byte when it does not fit.
//
//   std::vector<std::byte> gray(1920 * 1080);
//   auto ec = img_lib::unpack::to_8bit(img_lib::unpack::packing::mipi_raw12, 1920, 1080,
//                                      {packed_bytes, 2880}, {gray, 1920});

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>

namespace img_lib::unpack {

enum class packing : uint8_t
{
    mipi_raw10 = 10,
    mipi_raw12 = 12,
};

// Bits per pixel of a packing (10 or 12).
constexpr unsigned bits_of(packing p) noexcept
{
    return static_cast<unsigned>(p);
}

// The packed frame: `data` starts at the first byte of the first line and ends where the
// readable memory ends; `stride` is the distance between line starts in bytes.
struct packed_view
{
    std::span<const std::byte> data;
    size_t stride = 0;
};

// Where the unpacked samples go, same conventions as packed_view.
struct sample_view
{
    std::span<std::byte> data;
    size_t stride = 0;
};

// Why a frame could not be unpacked (category "MIPI unpack").
enum class errc : int
{
    zero_size = 1,
    stride_below_line = 2,
    source_too_short = 3,
    destination_too_small = 4,
    size_overflow = 5,
    unsupported_format = 6,
};

const std::error_category& error_category() noexcept;
std::error_code make_error_code(errc e) noexcept;

// Bytes of one packed line, or nothing when the width is so large that they overflow.
std::optional<size_t> packed_line_bytes(packing p, uint32_t width) noexcept;

// Bytes a frame of `height` lines spaced by `stride` needs when each line is `line_bytes`
// long (the last line needs no padding after it); nothing on overflow.
std::optional<size_t> frame_bytes(size_t stride, size_t line_bytes, uint32_t height) noexcept;

// One 8-bit sample per pixel: the upper 8 bits of its value.
std::error_code to_8bit(packing p, uint32_t width, uint32_t height, packed_view src,
                        sample_view dst) noexcept;

// One 16-bit little-endian sample per pixel holding its value in the top bits (a 10-bit value
// shifted left by 6, a 12-bit value by 4), so full scale stays full scale.
std::error_code to_16bit_le(packing p, uint32_t width, uint32_t height, packed_view src,
                            sample_view dst) noexcept;

} // namespace img_lib::unpack

template <>
struct std::is_error_code_enum<img_lib::unpack::errc> : std::true_type
{};
