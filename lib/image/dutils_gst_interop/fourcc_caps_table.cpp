#include "fourcc_caps_table.h"

#include <array>

namespace img_lib::gst {
namespace {

struct caps_entry
{
    std::string_view fcc;
    std::string_view media_type;
    std::string_view format; // empty: the media type alone names the format
};

constexpr std::string_view raw = "video/x-raw";
constexpr std::string_view bayer = "video/x-bayer";
constexpr std::string_view jpeg = "image/jpeg";
constexpr std::string_view qel = "video/qel";

// Order matters: reverse lookups take the first match, so the unpacked 16-bit codes ("GB10",
// ...) win over the 10-bit "spacked" codes that share their caps format.
constexpr std::array<caps_entry, 78> table = {{
    {"BGR4", raw, "BGRx"},
    {"BGR3", raw, "BGR"},
    {"RGB6", raw, "RGBx64"},
    {"Y800", raw, "GRAY8"},
    {"Y10 ", raw, "GRAY10"},
    {"Y10p", raw, "GRAY10p"},
    {"Y10P", raw, "GRAY10m"},
    {"Y12 ", raw, "GRAY12"},
    {"Y12P", raw, "GRAY12p"},
    {"Y12p", raw, "GRAY12sp"},
    {"Y1DP", raw, "GRAY12m"},
    {"Y16 ", raw, "GRAY16_LE"},
    {"GRBG", bayer, "grbg"},
    {"RGGB", bayer, "rggb"},
    {"GBRG", bayer, "gbrg"},
    {"BA81", bayer, "bggr"},
    {"GB10", bayer, "gbrg10"},
    {"BG10", bayer, "bggr10"},
    {"BA10", bayer, "grbg10"},
    {"RG10", bayer, "rggb10"},
    {"GBAp", bayer, "gbrg10"},
    {"BGAp", bayer, "bggr10"},
    {"GRAp", bayer, "grbg10"},
    {"RGAp", bayer, "rggb10"},
    {"GBAP", bayer, "gbrg10m"},
    {"BGAP", bayer, "bggr10m"},
    {"GRAP", bayer, "grbg10m"},
    {"RGAP", bayer, "rggb10m"},
    {"GB12", bayer, "gbrg12"},
    {"BG12", bayer, "bggr12"},
    {"BA12", bayer, "grbg12"},
    {"RG12", bayer, "rggb12"},
    {"GBCP", bayer, "gbrg12p"},
    {"BGCP", bayer, "bggr12p"},
    {"GRCP", bayer, "grbg12p"},
    {"RGCP", bayer, "rggb12p"},
    {"GBCp", bayer, "gbrg12sp"},
    {"BGCp", bayer, "bggr12sp"},
    {"GRCp", bayer, "grbg12sp"},
    {"RGCp", bayer, "rggb12sp"},
    {"GBDP", bayer, "gbrg12m"},
    {"BGDP", bayer, "bggr12m"},
    {"GRDP", bayer, "grbg12m"},
    {"RGDP", bayer, "rggb12m"},
    {"GB16", bayer, "gbrg16"},
    {"BG16", bayer, "bggr16"},
    {"BA16", bayer, "grbg16"},
    {"RG16", bayer, "rggb16"},
    {"GBf0", bayer, "gbrgf"},
    {"BGf0", bayer, "bggrf"},
    {"BAf0", bayer, "grbgf"},
    {"RGf0", bayer, "rggbf"},
    {"YUY2", raw, "YUY2"},
    {"UYVY", raw, "UYVY"},
    {"Y411", raw, "IYU1"},
    {"MJPG", jpeg, ""},
    {"NV12", raw, "NV12"},
    {"YV12", raw, "YV12"},
    {"P180", raw, "GRAY8_polarized_90_45_135_0"},
    {"P1CP", raw, "GRAY12p_polarized_90_45_135_0"},
    {"P1Cp", raw, "GRAY12sp_polarized_90_45_135_0"},
    {"P116", raw, "GRAY16_LE_polarized_90_45_135_0"},
    {"P280", bayer, "bggr8_polarized_90_45_135_0"},
    {"P2Cp", bayer, "bggr8sp_polarized_90_45_135_0"},
    {"P2CP", bayer, "bggr8p_polarized_90_45_135_0"},
    {"P216", bayer, "bggr16_polarized_90_45_135_0"},
    {"ADI1", qel, "ADI_GRAY8"},
    {"ADI2", qel, "ADI_GRAY16_LE"},
    {"ADC1", qel, "ADI_RGB8"},
    {"ADC2", qel, "ADI_RGB16"},
    {"PPM1", raw, "polarized-GREY8p"},
    {"PPM2", raw, "polarized-GREY16_LEp"},
    {"PPB1", bayer, "polarized-bggr8p"},
    {"PPB2", bayer, "polarized-bggr16p"},
    {"PWL1", bayer, "pwl-rggb12m"},
    {"PWL2", bayer, "pwl-rggb12"},
    {"PWL3", bayer, "pwl-rggb16H12"},
    {"MONf", raw, "GREYf"},
}};

} // namespace

std::string fourcc_to_gst_caps_string(img::fourcc fcc)
{
    for (const auto& e : table)
    {
        if (img::make_fourcc(e.fcc) == fcc)
        {
            std::string caps(e.media_type);
            if (!e.format.empty())
            {
                caps += ",format=(string)";
                caps += e.format;
            }
            return caps;
        }
    }
    return {};
}

std::string fourcc_to_gst_caps_string(uint32_t fcc)
{
    return fourcc_to_gst_caps_string(static_cast<img::fourcc>(fcc));
}

img::fourcc gst_caps_string_to_fourcc(std::string_view media_type, std::string_view format)
{
    for (const auto& e : table)
    {
        if (e.media_type != media_type)
        {
            continue;
        }
        if (format.empty())
        {
            // Only the media type's first entry decides.
            return e.format.empty() ? img::make_fourcc(e.fcc) : img::fourcc::FCC_NULL;
        }
        if (e.format == format || e.format.empty())
        {
            return img::make_fourcc(e.fcc);
        }
    }
    return img::fourcc::FCC_NULL;
}

} // namespace img_lib::gst
