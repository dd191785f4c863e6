#pragma once

// A minimal PNG writer (8-bit RGB or grey, stored deflate blocks) so the project's tools can
// show raw frames to a person without an image library.

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// pixels: rows of width * channels bytes, top to bottom. channels is 1 (grey) or 3 (RGB).
bool write_png(const std::string& path, int width, int height, int channels,
               const std::vector<uint8_t>& pixels);

} // namespace tools
