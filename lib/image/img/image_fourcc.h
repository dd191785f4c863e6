#pragma once

// Pixel format codes: four ASCII characters, the first one in the least significant byte.

#include <cstdint>
#include <string>
#include <string_view>

namespace img {

enum class fourcc : uint32_t
{
    FCC_NULL = 0,
};

constexpr fourcc make_fourcc(char c0, char c1, char c2, char c3) noexcept
{
    return static_cast<fourcc>(static_cast<uint32_t>(static_cast<uint8_t>(c0)) |
                               (static_cast<uint32_t>(static_cast<uint8_t>(c1)) << 8) |
                               (static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 16) |
                               (static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 24));
}

// From exactly four characters, e.g. make_fourcc("RGGB"). Other lengths give FCC_NULL.
constexpr fourcc make_fourcc(std::string_view code) noexcept
{
    if (code.size() != 4)
    {
        return fourcc::FCC_NULL;
    }
    return make_fourcc(code[0], code[1], code[2], code[3]);
}

constexpr uint32_t to_uint(fourcc fcc) noexcept
{
    return static_cast<uint32_t>(fcc);
}

// The four characters of a code, unprintable bytes kept as they are.
std::string fourcc_chars(fourcc fcc);

namespace fcc {
// The codes the camera core itself produces.
inline constexpr fourcc RGAP = make_fourcc("RGAP");
inline constexpr fourcc GRAP = make_fourcc("GRAP");
inline constexpr fourcc GBAP = make_fourcc("GBAP");
inline constexpr fourcc BGAP = make_fourcc("BGAP");
inline constexpr fourcc RGDP = make_fourcc("RGDP");
inline constexpr fourcc GRDP = make_fourcc("GRDP");
inline constexpr fourcc GBDP = make_fourcc("GBDP");
inline constexpr fourcc BGDP = make_fourcc("BGDP");
inline constexpr fourcc Y10P = make_fourcc("Y10P");
inline constexpr fourcc Y1DP = make_fourcc("Y1DP");
inline constexpr fourcc PWL1 = make_fourcc("PWL1");
// Further codes the GStreamer side and the overlay handle.
inline constexpr fourcc BA81 = make_fourcc("BA81");
inline constexpr fourcc GBRG = make_fourcc("GBRG");
inline constexpr fourcc GRBG = make_fourcc("GRBG");
inline constexpr fourcc RGGB = make_fourcc("RGGB");
inline constexpr fourcc Y800 = make_fourcc("Y800");
inline constexpr fourcc NV12 = make_fourcc("NV12");
inline constexpr fourcc YV12 = make_fourcc("YV12");
} // namespace fcc

} // namespace img
