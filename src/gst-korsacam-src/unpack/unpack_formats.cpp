#include "unpack_formats.h"

#include "fourcc_caps_table.h"

#include <limits>

namespace gst_korsa::unpack {
namespace {

using img_lib::unpack::packing;
namespace fcc = img::fcc;

constexpr img::fourcc none = img::fourcc::FCC_NULL;
constexpr img::fourcc gray16 = img::make_fourcc("Y16 ");

// Bayer keeps its colour order; a 16-bit Bayer output would not help, as bayer2rgb reads 8-bit
// only. Monochrome offers 16 bits first so nothing of the sensor's depth is lost where
// downstream can take it. The piecewise-linear HDR code is shown as its compressed values.
constexpr std::array<input_format, 11> inputs = {{
    {fcc::BGAP, packing::mipi_raw10, {fcc::BA81, none}},
    {fcc::GBAP, packing::mipi_raw10, {fcc::GBRG, none}},
    {fcc::GRAP, packing::mipi_raw10, {fcc::GRBG, none}},
    {fcc::RGAP, packing::mipi_raw10, {fcc::RGGB, none}},
    {fcc::BGDP, packing::mipi_raw12, {fcc::BA81, none}},
    {fcc::GBDP, packing::mipi_raw12, {fcc::GBRG, none}},
    {fcc::GRDP, packing::mipi_raw12, {fcc::GRBG, none}},
    {fcc::RGDP, packing::mipi_raw12, {fcc::RGGB, none}},
    {fcc::PWL1, packing::mipi_raw12, {fcc::RGGB, none}},
    {fcc::Y10P, packing::mipi_raw10, {gray16, fcc::Y800}},
    {fcc::Y1DP, packing::mipi_raw12, {gray16, fcc::Y800}},
}};

constexpr std::array<output_format, 6> outputs = {{
    {fcc::BA81, 1, GST_VIDEO_FORMAT_UNKNOWN},
    {fcc::GBRG, 1, GST_VIDEO_FORMAT_UNKNOWN},
    {fcc::GRBG, 1, GST_VIDEO_FORMAT_UNKNOWN},
    {fcc::RGGB, 1, GST_VIDEO_FORMAT_UNKNOWN},
    {gray16, 2, GST_VIDEO_FORMAT_GRAY16_LE},
    {fcc::Y800, 1, GST_VIDEO_FORMAT_GRAY8},
}};

template <typename Range>
img::fourcc find_code(const Range& range, std::string_view media_type, std::string_view format)
{
    for (const auto& f : range)
    {
        const auto name = caps_name_of(f.code);
        if (name && name->media_type == media_type && name->format == format)
        {
            return f.code;
        }
    }
    return none;
}

} // namespace

std::span<const input_format> input_formats() noexcept
{
    return inputs;
}

std::span<const output_format> output_formats() noexcept
{
    return outputs;
}

const input_format* find_input(img::fourcc code) noexcept
{
    for (const auto& f : inputs)
    {
        if (f.code == code)
        {
            return &f;
        }
    }
    return nullptr;
}

const output_format* find_output(img::fourcc code) noexcept
{
    for (const auto& f : outputs)
    {
        if (f.code == code)
        {
            return &f;
        }
    }
    return nullptr;
}

std::optional<caps_name> caps_name_of(img::fourcc code)
{
    // The table's strings are "media/type,format=(string)name".
    const std::string caps = img_lib::gst::fourcc_to_gst_caps_string(code);
    constexpr std::string_view separator = ",format=(string)";
    const auto at = caps.find(separator);
    if (at == std::string::npos)
    {
        return std::nullopt;
    }
    return caps_name{caps.substr(0, at), caps.substr(at + separator.size())};
}

img::fourcc find_input_code(std::string_view media_type, std::string_view format)
{
    return find_code(inputs, media_type, format);
}

img::fourcc find_output_code(std::string_view media_type, std::string_view format)
{
    return find_code(outputs, media_type, format);
}

std::optional<size_t> output_stride(const output_format& out, uint32_t width) noexcept
{
    const uint64_t bytes = (uint64_t{width} * out.sample_bytes + 3) & ~uint64_t{3};
    if (bytes > std::numeric_limits<size_t>::max() || bytes > uint64_t{G_MAXINT})
    {
        return std::nullopt;
    }
    return static_cast<size_t>(bytes);
}

} // namespace gst_korsa::unpack
