#include "mipi_unpack.h"

#include "mipi_unpack_lines.h"

#include <limits>
#include <string>

namespace img_lib::unpack {
namespace {

class unpack_error_category final : public std::error_category
{
public:
    const char* name() const noexcept override { return "MIPI unpack"; }

    std::string message(int value) const override
    {
        switch (static_cast<errc>(value))
        {
        case errc::zero_size:
            return "Frame width or height is missing or zero";
        case errc::stride_below_line:
            return "Line stride is smaller than one line of pixels";
        case errc::source_too_short:
            return "Buffer is shorter than the frame its format describes";
        case errc::destination_too_small:
            return "Output buffer is too small for the frame";
        case errc::size_overflow:
            return "Frame size does not fit into memory";
        case errc::unsupported_format:
            return "Format cannot be unpacked";
        }
        return "Unknown error";
    }
};

using lines::line_fn;

std::error_code run(packing p, uint32_t width, uint32_t height, packed_view src, sample_view dst,
                    size_t sample_bytes, line_fn line) noexcept
{
    if (p != packing::mipi_raw10 && p != packing::mipi_raw12)
    {
        return errc::unsupported_format;
    }
    if (width == 0 || height == 0)
    {
        return errc::zero_size;
    }
    const auto in_line = packed_line_bytes(p, width);
    if (!in_line || width > std::numeric_limits<size_t>::max() / sample_bytes)
    {
        return errc::size_overflow;
    }
    const size_t out_line = size_t{width} * sample_bytes;
    if (src.stride < *in_line)
    {
        return errc::stride_below_line;
    }
    const auto in_needed = frame_bytes(src.stride, *in_line, height);
    if (!in_needed)
    {
        return errc::size_overflow;
    }
    if (src.data.size() < *in_needed)
    {
        return errc::source_too_short;
    }
    const auto out_needed = frame_bytes(dst.stride, out_line, height);
    if (dst.stride < out_line || !out_needed || dst.data.size() < *out_needed)
    {
        return errc::destination_too_small;
    }
    const auto* in = reinterpret_cast<const uint8_t*>(src.data.data());
    auto* out = reinterpret_cast<uint8_t*>(dst.data.data());
    for (uint32_t y = 0; y < height; ++y)
    {
        line(in + size_t{y} * src.stride, *in_line, out + size_t{y} * dst.stride, width);
    }
    return {};
}

} // namespace

const std::error_category& error_category() noexcept
{
    static const unpack_error_category category;
    return category;
}

std::error_code make_error_code(errc e) noexcept
{
    return {static_cast<int>(e), error_category()};
}

std::optional<size_t> packed_line_bytes(packing p, uint32_t width) noexcept
{
    const uint64_t bytes = uint64_t{width} * bits_of(p) / 8;
    if (bytes > std::numeric_limits<size_t>::max())
    {
        return std::nullopt;
    }
    return static_cast<size_t>(bytes);
}

std::optional<size_t> frame_bytes(size_t stride, size_t line_bytes, uint32_t height) noexcept
{
    if (height == 0)
    {
        return size_t{0};
    }
    size_t before_last = 0;
    size_t total = 0;
    if (__builtin_mul_overflow(stride, size_t{height - 1}, &before_last) ||
        __builtin_add_overflow(before_last, line_bytes, &total))
    {
        return std::nullopt;
    }
    return total;
}

std::error_code to_8bit(packing p, uint32_t width, uint32_t height, packed_view src,
                        sample_view dst) noexcept
{
    return run(p, width, height, src, dst, 1,
               p == packing::mipi_raw10 ? lines::best_raw10_to_8() : lines::best_raw12_to_8());
}

std::error_code to_16bit_le(packing p, uint32_t width, uint32_t height, packed_view src,
                            sample_view dst) noexcept
{
    return run(p, width, height, src, dst, 2,
               p == packing::mipi_raw10 ? lines::raw10_to_16 : lines::raw12_to_16);
}

} // namespace img_lib::unpack
