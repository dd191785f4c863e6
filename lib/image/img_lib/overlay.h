#pragma once

// Burns a line of text in place into a raw image of the formats the cameras deliver.

#include "image_types.h"
#include "pixel_types.h"

#include <cstdint>

namespace img_lib::overlay {

// Draws `length` bytes of `text` (each byte indexes the 8x8 font directly) at `position`,
// every font pixel `scale` pixels wide and high. The box is one background pixel around the
// text and between characters. A position of -1 centres the box along that axis. Colours are
// stored as their luma in the sample layout of the image's format; a transparent colour
// leaves those pixels untouched. Everything is clipped to the image and to each line's bytes,
// so nothing outside the image is written whatever the arguments. Formats without a writer
// are left unchanged.
void render_text(const img::img_descriptor& image, img::point position, int scale, const char* text,
                 unsigned length, img::pixel_type::R8G8B8A8 background,
                 img::pixel_type::R8G8B8A8 foreground);

// The luma a colour is drawn with: 0.299 R + 0.587 G + 0.114 B, truncated, at most 255.
uint8_t luma_of(img::pixel_type::R8G8B8A8 colour) noexcept;

// Whether render_text can draw into images of this format.
bool has_text_writer(img::fourcc fcc) noexcept;

} // namespace img_lib::overlay
