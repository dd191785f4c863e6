#pragma once

// Translation between pixel format codes and GStreamer caps strings.

#include "image_fourcc.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace img_lib::gst {

// "video/x-bayer,format=(string)bggr12m" for "BGDP"; just the media type for entries without a
// format ("image/jpeg"); empty for codes the table does not know.
std::string fourcc_to_gst_caps_string(img::fourcc fcc);
std::string fourcc_to_gst_caps_string(uint32_t fcc);

// The code of the first table entry that matches; FCC_NULL when none does. An empty format
// matches only when the media type's first entry has no format itself.
img::fourcc gst_caps_string_to_fourcc(std::string_view media_type, std::string_view format);

} // namespace img_lib::gst
