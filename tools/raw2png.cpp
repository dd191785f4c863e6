// Turns one raw frame as the element delivers it (MIPI-packed 10/12-bit Bayer or mono) into a
// PNG a person can look at.
//
//   raw2png IN.raw OUT.png WIDTH HEIGHT FORMAT [STRIDE]
//
// FORMAT is the caps format string ("bggr12m", "rggb10m", "GRAY12m", ...). Bayer frames are
// shown by a simple 2x2 demosaic (each cell's colours fill its four pixels).

#include "png_writer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct format_info
{
    int bits = 0; // 10 or 12
    bool mono = false;
    int red_x = 0; // position of red in the 2x2 cell
    int red_y = 0;
};

bool parse_format(const std::string& f, format_info& out)
{
    if (f == "GRAY10m" || f == "GRAY12m")
    {
        out = {f == "GRAY10m" ? 10 : 12, true, 0, 0};
        return true;
    }
    if (f.size() != 7 || f[6] != 'm' || (f.substr(4, 2) != "10" && f.substr(4, 2) != "12"))
    {
        return false;
    }
    const std::string order = f.substr(0, 4);
    out.bits = f.substr(4, 2) == "10" ? 10 : 12;
    out.mono = false;
    if (order == "rggb")
    {
        out.red_x = 0, out.red_y = 0;
    }
    else if (order == "grbg")
    {
        out.red_x = 1, out.red_y = 0;
    }
    else if (order == "gbrg")
    {
        out.red_x = 0, out.red_y = 1;
    }
    else if (order == "bggr")
    {
        out.red_x = 1, out.red_y = 1;
    }
    else
    {
        return false;
    }
    return true;
}

// Upper 8 bits of pixel x in a packed line: the packing keeps them in whole bytes.
uint8_t pixel8(const uint8_t* line, int x, int bits)
{
    if (bits == 12)
    {
        return line[(x / 2) * 3 + (x % 2)];
    }
    return line[(x / 4) * 5 + (x % 4)];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6)
    {
        std::fprintf(stderr, "usage: %s IN.raw OUT.png WIDTH HEIGHT FORMAT [STRIDE]\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    format_info fmt;
    if (width <= 1 || height <= 1 || !parse_format(argv[5], fmt))
    {
        std::fprintf(stderr, "unsupported size or format\n");
        return 2;
    }
    const int stride = argc > 6 ? std::atoi(argv[6]) : width * fmt.bits / 8;
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (stride < width * fmt.bits / 8 ||
        raw.size() < static_cast<size_t>(stride) * (height - 1) + width * fmt.bits / 8)
    {
        std::fprintf(stderr, "%s: %zu bytes are too few for %dx%d, stride %d\n", argv[1],
                     raw.size(), width, height, stride);
        return 1;
    }

    const int channels = fmt.mono ? 1 : 3;
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y)
    {
        const uint8_t* line = raw.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x)
        {
            uint8_t* px = out.data() + (static_cast<size_t>(y) * width + x) * channels;
            if (fmt.mono)
            {
                px[0] = pixel8(line, x, fmt.bits);
                continue;
            }
            const int cx = x & ~1;
            const int cy = std::min(y & ~1, height - 2);
            const uint8_t* l0 = raw.data() + static_cast<size_t>(cy) * stride;
            const uint8_t* l1 = l0 + stride;
            const int c = std::min(cx, width - 2);
            const uint8_t cell[2][2] = {{pixel8(l0, c, fmt.bits), pixel8(l0, c + 1, fmt.bits)},
                                        {pixel8(l1, c, fmt.bits), pixel8(l1, c + 1, fmt.bits)}};
            const uint8_t r = cell[fmt.red_y][fmt.red_x];
            const uint8_t b = cell[1 - fmt.red_y][1 - fmt.red_x];
            const uint8_t g = static_cast<uint8_t>(
                (cell[fmt.red_y][1 - fmt.red_x] + cell[1 - fmt.red_y][fmt.red_x]) / 2);
            px[0] = r;
            px[1] = g;
            px[2] = b;
        }
    }
    if (!tools::write_png(argv[2], width, height, channels, out))
    {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s: %dx%d %s -> %s\n", argv[1], width, height, argv[5], argv[2]);
    return 0;
}
