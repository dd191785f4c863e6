#pragma once

// Receiver settings for one stream: produced by a sensor driver for the chosen format,
// consumed by the raw camera receiver.

#include <cstdint>

namespace mmal {

enum class bayer_order : int
{
    bggr = 0,
    gbrg = 1,
    grbg = 2,
    rggb = 3,
};

namespace pi {

struct csi_settings
{
    int32_t width = 0;   // pixels
    uint32_t height = 0; // lines
    bayer_order bayer = bayer_order::bggr;
    uint32_t data_lanes = 0;          // 0 keeps the receiver's current value
    uint32_t image_id = 0;            // CSI-2 data type, e.g. 0x2B for RAW10; 0 keeps current
    uint32_t bit_depth = 0;           // native bits per pixel on the wire: 8, 10, 12, 14 or 16
    uint32_t embedded_data_lines = 0; // 0 keeps the current value
    bool term_override = false;       // true sets both termination timings to 1
    double fps = 0.0;
};

} // namespace pi
} // namespace mmal
