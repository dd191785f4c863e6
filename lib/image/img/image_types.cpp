#include "image_types.h"

#include <array>
#include <string_view>

namespace img {
namespace {

struct bpp_group
{
    int bits;
    std::string_view codes; // four characters each, back to back
};

constexpr std::array<bpp_group, 9> bpp_groups = {{
    {8, "BA81GBRGGRBGRGGBY800P180P280RAW1"},
    {10, "GBAPBGAPGRAPRGAPGBApBGApGRApRGApY10PY10p"},
    {12, "GBDPBGDPGRDPRGDPGBCPBGCPGRCPRGCPGBCpBGCpGRCpRGCpY1DPY12PY12pPWL1P1CPP1CpP2CPP2CpY411"
         "IYU1"},
    {16, "GB10BG10BA10RG10GB12BG12BA12RG12GB16BG16BA16RG16Y10 Y12 Y16 YUY2UYVYP116P216PWL2PWL3"
         "RAW2"},
    {24, "BGR3MJPGRAW3HSV3IYU2"},
    {32, "BGR4GBf0BGf0BAf0RGf0MONfPPB1PPM1ADI1RAW4HSV4RAWf"},
    {64, "RGB6PPB2PPM2ADI2ADC1"},
    {96, "BGrf"},
    {128, "ADC2"},
}};

} // namespace

std::string fourcc_chars(fourcc fcc)
{
    const uint32_t v = to_uint(fcc);
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
    {
        s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return s;
}

int get_bits_per_pixel(fourcc fcc) noexcept
{
    for (const auto& group : bpp_groups)
    {
        for (std::size_t i = 0; i + 4 <= group.codes.size(); i += 4)
        {
            if (make_fourcc(group.codes.substr(i, 4)) == fcc)
            {
                return group.bits;
            }
        }
    }
    return 0;
}

uint32_t calc_buffer_length(fourcc fcc, dim size) noexcept
{
    // Computed in 64 bits so that absurd sizes cannot overflow into a small, plausible length.
    const int64_t w = size.cx;
    const int64_t h = size.cy;
    if (w <= 0 || h <= 0)
    {
        return 0;
    }
    int64_t len = 0;
    if (fcc == fcc::NV12 || fcc == fcc::YV12)
    {
        len = w * h + (w * h / 4) * 2;
    }
    else if (fcc == make_fourcc("ADp1"))
    {
        len = w * h * 4;
    }
    else if (fcc == make_fourcc("ADp2"))
    {
        len = w * h * 8;
    }
    else if (fcc == make_fourcc("YU8p"))
    {
        len = w * h * 3;
    }
    else if (fcc == make_fourcc("YUGp"))
    {
        len = w * h * 6;
    }
    else if (fcc == make_fourcc("YUfp"))
    {
        len = w * h * 12;
    }
    else
    {
        len = (w * get_bits_per_pixel(fcc) / 8) * h;
    }
    if (len > static_cast<int64_t>(UINT32_MAX))
    {
        return 0;
    }
    return static_cast<uint32_t>(len);
}

} // namespace img
