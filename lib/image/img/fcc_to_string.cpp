#include "fcc_to_string.h"

#include <array>
#include <string_view>

namespace img {
namespace {

struct fcc_name
{
    std::string_view fcc;
    const char* name;
};

constexpr std::array<fcc_name, 93> names = {{
    {"Y800", "Mono8"},
    {"Y10 ", "Mono10"},
    {"Y12 ", "Mono12"},
    {"Y16 ", "Mono16"},
    {"BA81", "BGGR8"},
    {"GBRG", "GBRG8"},
    {"GRBG", "GRBG8"},
    {"RGGB", "RGGB8"},
    {"BA10", "GRBG10"},
    {"GB10", "GBRG10"},
    {"BG10", "BGGR10"},
    {"RG10", "RGGB10"},
    {"BA12", "GRBG12"},
    {"GB12", "GBRG12"},
    {"BG12", "BGGR12"},
    {"RG12", "RGGB12"},
    {"BA16", "GRBG16"},
    {"GB16", "GBRG16"},
    {"BG16", "BGGR16"},
    {"RG16", "RGGB16"},
    {"BAf0", "GRBGFloat"},
    {"GBf0", "GBRGFloat"},
    {"BGf0", "BGGRFloat"},
    {"RGf0", "RGGBFloat"},
    {"Y10P", "MONO10_MIPI_PACKED"},
    {"Y1DP", "MONO12_MIPI_PACKED"},
    {"Y12P", "MONO12_PACKED"},
    {"Y10p", "MONO10_PACKED"},
    {"Y12p", "MONO12_SPACKED"},
    {"GBAP", "GBRG10_MIPI_PACKED"},
    {"BGAP", "BGGR10_MIPI_PACKED"},
    {"RGAP", "RGGB10_MIPI_PACKED"},
    {"GRAP", "GRBG10_MIPI_PACKED"},
    {"GBDP", "GBRG12_MIPI_PACKED"},
    {"BGDP", "BGGR12_MIPI_PACKED"},
    {"RGDP", "RGGB12_MIPI_PACKED"},
    {"GRDP", "GRBG12_MIPI_PACKED"},
    {"GBCP", "GBRG12_PACKED"},
    {"BGCP", "BGGR12_PACKED"},
    {"RGCP", "RGGB12_PACKED"},
    {"GRCP", "GRBG12_PACKED"},
    {"GBAp", "GBRG10_SPACKED"},
    {"BGAp", "BGGR10_SPACKED"},
    {"RGAp", "RGGB10_SPACKED"},
    {"GRAp", "GRBG10_SPACKED"},
    {"GBCp", "GBRG12_SPACKED"},
    {"BGCp", "BGGR12_SPACKED"},
    {"RGCp", "RGGB12_SPACKED"},
    {"GRCp", "GRBG12_SPACKED"},
    {"Y411", "Y411"},
    {"IYU1", "IYU1"},
    {"IYU2", "IYU2"},
    {"NV12", "NV12"},
    {"YV12", "YV12"},
    {"YUY2", "YUY2"},
    {"UYVY", "UYVY"},
    {"MJPG", "MJPG"},
    {"RAW1", "Raw8"},
    {"RAW2", "Raw16"},
    {"RAW3", "Raw24"},
    {"RAW4", "Raw32"},
    {"RAWf", "RawFloat"},
    {"BGR3", "BGR24"},
    {"BGR4", "BGRA32"},
    {"RGB6", "BGRA64"},
    {"BGrf", "BGRFloat"},
    {"HSV3", "HSV24"},
    {"HSV4", "HSVx32"},
    {"MONf", "Mono float"},
    {"YU8p", "YUV8 planar"},
    {"YUGp", "YUV16 planar"},
    {"YUfp", "YUV32 planar"},
    {"PWL1", "PWL RGGB 12-bit mipi-packed"},
    {"PWL2", "PWL RGGB 16-bit, lowest 12-bit data"},
    {"PWL3", "PWL RGGB 16-bit, highest 12-bit data"},
    {"P180", "Polarization Mono8 90 45 135 0"},
    {"P116", "Polarization Mono16 90 45 135 0"},
    {"P1CP", "Polarization Mono12 packed 90 45 135 0"},
    {"P1Cp", "Polarization Mono12 spacked 90 45 135 0"},
    {"P280", "Polarization Bayer8 90 45 135 0"},
    {"P216", "Polarization Bayer16 90 45 135 0"},
    {"P2CP", "Polarization Bayer12 packed 90 45 135 0"},
    {"P2Cp", "Polarization Bayer12 spacked 90 45 135 0"},
    {"PPM1", "Polarization Packed8"},
    {"PPM2", "Polarization Packed16"},
    {"PPB1", "Polarization Packed8 Bayer BG"},
    {"PPB2", "Polarization Packed16 Bayer BG"},
    {"ADI1", "Polarization ADI Mono8"},
    {"ADI2", "Polarization ADI Mono16"},
    {"ADC1", "Polarization ADI RGB8"},
    {"ADC2", "Polarization ADI RGB16"},
    {"ADp1", "Polarization ADI Mono8 planar"},
    {"ADp2", "Polarization ADI Mono16 planar"},
}};

} // namespace

std::string fcc_to_string(fourcc fcc)
{
    if (fcc == fourcc::FCC_NULL)
    {
        return "NULL";
    }
    for (const auto& n : names)
    {
        if (make_fourcc(n.fcc) == fcc)
        {
            return n.name;
        }
    }
    std::string chars = fourcc_chars(fcc);
    return chars.substr(0, chars.find('\0'));
}

} // namespace img
