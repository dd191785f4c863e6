#pragma once

#include "image_fourcc.h"

#include <string>

namespace img {

// Human-readable name of a format code for log lines ("BGGR12_MIPI_PACKED"); "NULL" for 0 and
// the code's own characters (up to the first zero byte) for codes without a name.
std::string fcc_to_string(fourcc fcc);

} // namespace img
