#include "overlay.h"

#include "overlay_font.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace img_lib::overlay {
namespace {

constexpr uint32_t code(std::string_view chars) noexcept
{
    return img::to_uint(img::make_fourcc(chars));
}

// How one luma value is stored per pixel. Each writer knows where pixel column c of a line
// lives; `limit` is the number of bytes of that line that may be written, and no writer
// touches a byte at or past it.
struct writer_8bit
{
    static int64_t line_bytes(int64_t width) noexcept { return width; }
    static int64_t columns(int64_t limit) noexcept { return limit; }
    static int64_t first_byte(int64_t c) noexcept { return c; }
    static int64_t end_byte(int64_t c) noexcept { return c + 1; }
    static void put(std::byte* line, int64_t c, uint8_t v, int64_t /*limit*/) noexcept
    {
        line[c] = std::byte{v};
    }
    static void close_group(std::byte* /*line*/, int64_t /*c*/, int64_t /*limit*/) noexcept {}
};

// 16-bit little-endian samples holding luma times Mul (10, 12 or 16 significant bits).
template <unsigned Mul>
struct writer_16bit
{
    static int64_t line_bytes(int64_t width) noexcept { return width * 2; }
    static int64_t columns(int64_t limit) noexcept { return limit / 2; }
    static int64_t first_byte(int64_t c) noexcept { return c * 2; }
    static int64_t end_byte(int64_t c) noexcept { return c * 2 + 2; }
    static void put(std::byte* line, int64_t c, uint8_t v, int64_t /*limit*/) noexcept
    {
        const unsigned sample = v * Mul;
        line[c * 2] = std::byte(sample & 0xFF);
        line[c * 2 + 1] = std::byte((sample >> 8) & 0xFF);
    }
    static void close_group(std::byte* /*line*/, int64_t /*c*/, int64_t /*limit*/) noexcept {}
};

// MIPI CSI-2 packing: groups of Pixels pixels, one byte each for their upper 8 bits, then one
// byte with all their low bits. The low bits of a group under the text become 0.
template <int Pixels>
struct writer_packed
{
    static constexpr int64_t group_bytes = Pixels + 1;

    static int64_t line_bytes(int64_t width) noexcept
    {
        return width * (8 * group_bytes / Pixels) / 8;
    }
    static int64_t columns(int64_t limit) noexcept
    {
        return Pixels * (limit / group_bytes) + std::min<int64_t>(limit % group_bytes, Pixels);
    }
    static int64_t first_byte(int64_t c) noexcept
    {
        return (c / Pixels) * group_bytes + c % Pixels;
    }
    static int64_t end_byte(int64_t c) noexcept { return first_byte(c) + 1; }
    static void put(std::byte* line, int64_t c, uint8_t v, int64_t limit) noexcept
    {
        const int64_t group = (c / Pixels) * group_bytes;
        line[group + c % Pixels] = std::byte{v};
        if (group + Pixels < limit)
        {
            line[group + Pixels] = std::byte{0};
        }
    }
    // The low-bits byte of the group holding pixel c.
    static void close_group(std::byte* line, int64_t c, int64_t limit) noexcept
    {
        const int64_t low = (c / Pixels) * group_bytes + Pixels;
        if (low < limit)
        {
            line[low] = std::byte{0};
        }
    }
};

enum class sample_layout
{
    none,
    bits8,
    bits10_in_16,
    bits12_in_16,
    bits16,
    packed10,
    packed12,
};

sample_layout layout_of(img::fourcc fcc) noexcept
{
    switch (img::to_uint(fcc))
    {
    case code("Y800"):
    case code("BA81"):
    case code("RGGB"):
    case code("GRBG"):
    case code("GBRG"):
    // Planar formats: the luma plane comes first.
    case code("NV12"):
    case code("YV12"):
    case code("YU8p"):
        return sample_layout::bits8;
    case code("Y10 "):
    case code("BA10"):
    case code("GB10"):
    case code("BG10"):
    case code("RG10"):
        return sample_layout::bits10_in_16;
    case code("Y12 "):
    case code("BA12"):
    case code("GB12"):
    case code("BG12"):
    case code("RG12"):
        return sample_layout::bits12_in_16;
    case code("Y16 "):
    case code("BA16"):
    case code("GB16"):
    case code("BG16"):
    case code("RG16"):
    case code("YUGp"):
        return sample_layout::bits16;
    case code("Y10P"):
    case code("GBAP"):
    case code("BGAP"):
    case code("RGAP"):
    case code("GRAP"):
        return sample_layout::packed10;
    case code("Y1DP"):
    case code("GBDP"):
    case code("BGDP"):
    case code("RGDP"):
    case code("GRDP"):
        return sample_layout::packed12;
    default:
        return sample_layout::none;
    }
}

struct ink
{
    uint8_t value;
    bool opaque;
};

// The text box in image coordinates; x and y may be negative (box partly left of or above
// the image), widths and heights may exceed the image. All in 64 bits so that no scale or
// length can overflow.
struct text_box
{
    int64_t x;
    int64_t y;
    int64_t width;
    int64_t height;
    int64_t scale;
    int64_t cell; // pixels per character: 8 * scale glyph columns plus one separator
    const char* text;
    int64_t length;
};

// Walks the pixels of one box row from a start column: which character, which glyph bit
// (8 = the background column after a character) and which of its `scale` repeats.
struct row_cursor
{
    int64_t ch;
    int64_t bit;
    int64_t sub;
};

row_cursor cursor_at(const text_box& box, int64_t column) noexcept
{
    const int64_t rel = column - box.x;
    if (rel == 0)
    {
        return {-1, 8, 0}; // the leading background column acts as separator "before" char 0
    }
    const int64_t k = rel - 1;
    const int64_t within = k % box.cell;
    if (within == 8 * box.scale)
    {
        return {k / box.cell, 8, 0};
    }
    return {k / box.cell, within / box.scale, within % box.scale};
}

template <typename W>
void draw_row(std::byte* line, const text_box& box, int glyph_row, int64_t col_begin,
              int64_t col_end, int64_t limit, ink bg, ink fg)
{
    row_cursor cur = cursor_at(box, col_begin);
    auto glyph_of = [&](int64_t ch) -> unsigned {
        if (glyph_row < 0 || ch < 0 || ch >= box.length)
        {
            return 0;
        }
        return glyph_row_of(static_cast<unsigned char>(box.text[ch]), glyph_row);
    };
    unsigned glyph = cur.bit < 8 ? glyph_of(cur.ch) : 0;
    for (int64_t c = col_begin; c < col_end; ++c)
    {
        const bool on = cur.bit < 8 && ((glyph >> (7 - cur.bit)) & 1U) != 0;
        const ink& colour = on ? fg : bg;
        if (colour.opaque)
        {
            W::put(line, c, colour.value, limit);
        }
        if (cur.bit == 8)
        {
            ++cur.ch;
            cur.bit = 0;
            cur.sub = 0;
            glyph = glyph_of(cur.ch);
        }
        else if (++cur.sub == box.scale)
        {
            cur.sub = 0;
            ++cur.bit;
        }
    }
}

template <typename W>
void draw_box(const img::img_descriptor& image, const text_box& box, ink bg, ink fg)
{
    const int64_t width = image.type.dim.cx;
    const int64_t height = image.type.dim.cy;
    const int64_t pitch = image.pitch;
    const int64_t limit = std::min(pitch, W::line_bytes(width));

    const int64_t col_begin = std::max<int64_t>(box.x, 0);
    const int64_t box_right = box.x + std::min(box.width, std::numeric_limits<int64_t>::max() / 2);
    const int64_t col_end = std::min({box_right, width, W::columns(limit)});
    const int64_t row_begin = std::max<int64_t>(box.y, 0);
    const int64_t row_end = std::min(box.y + box.height, height);
    if (col_begin >= col_end || row_begin >= row_end)
    {
        return;
    }

    // With both colours opaque, the rows drawn from one glyph row are identical within the
    // box, so after the first of them the others are copied as a block.
    const bool copy_repeats = bg.opaque && fg.opaque;
    const int64_t copy_from = W::first_byte(col_begin);
    const int64_t copy_len = W::end_byte(col_end - 1) - copy_from;
    int previous_row = -2;
    const std::byte* previous_line = nullptr;

    for (int64_t r = row_begin; r < row_end; ++r)
    {
        std::byte* line = image.data + r * pitch;
        const int64_t rel = r - box.y;
        const int glyph_row = (rel == 0 || rel == box.height - 1)
                                  ? -1 // border rows are all background
                                  : static_cast<int>((rel - 1) / box.scale);
        if (copy_repeats && glyph_row == previous_row)
        {
            std::memcpy(line + copy_from, previous_line + copy_from,
                        static_cast<std::size_t>(copy_len));
            W::close_group(line, col_end - 1, limit);
            continue;
        }
        draw_row<W>(line, box, glyph_row, col_begin, col_end, limit, bg, fg);
        previous_row = glyph_row;
        previous_line = line;
    }
}

} // namespace

uint8_t luma_of(img::pixel_type::R8G8B8A8 colour) noexcept
{
    float l = std::fma(
        0.114F, static_cast<float>(colour.b),
        std::fma(0.587F, static_cast<float>(colour.g), 0.299F * static_cast<float>(colour.r)));
    if (l > 255.0F)
    {
        l = 255.0F;
    }
    return static_cast<uint8_t>(l);
}

bool has_text_writer(img::fourcc fcc) noexcept
{
    return layout_of(fcc) != sample_layout::none;
}

void render_text(const img::img_descriptor& image, img::point position, int scale, const char* text,
                 unsigned length, img::pixel_type::R8G8B8A8 background,
                 img::pixel_type::R8G8B8A8 foreground)
{
    const int64_t width = image.type.dim.cx;
    const int64_t height = image.type.dim.cy;
    if (length == 0 || text == nullptr || scale < 1 || position.x >= width || position.y >= height)
    {
        return;
    }
    if (image.data == nullptr || width <= 0 || height <= 0 || image.pitch <= 0)
    {
        return;
    }
    const sample_layout layout = layout_of(image.type.type);
    if (layout == sample_layout::none)
    {
        return;
    }

    text_box box{};
    box.scale = scale;
    box.cell = 8 * box.scale + 1;
    box.text = text;
    box.length = length;
    const int64_t max_len = (std::numeric_limits<int64_t>::max() - 1) / box.cell;
    box.width =
        box.length > max_len ? std::numeric_limits<int64_t>::max() : 1 + box.length * box.cell;
    box.height = 8 * box.scale + 2;

    box.x = position.x;
    if (box.x == -1)
    {
        box.x = box.width < width ? (width - box.width) / 2 : 0;
    }
    else if (box.x >= 0 && box.width > width - box.x)
    {
        box.width = width - box.x;
    }
    box.y = position.y;
    if (box.y == -1)
    {
        box.y = box.height < height ? (height - box.height) / 2 : 0;
    }

    const ink bg{luma_of(background), background.a != 0};
    const ink fg{luma_of(foreground), foreground.a != 0};
    if (!bg.opaque && !fg.opaque)
    {
        return;
    }

    switch (layout)
    {
    case sample_layout::bits8:
        draw_box<writer_8bit>(image, box, bg, fg);
        break;
    case sample_layout::bits10_in_16:
        draw_box<writer_16bit<4>>(image, box, bg, fg);
        break;
    case sample_layout::bits12_in_16:
        draw_box<writer_16bit<16>>(image, box, bg, fg);
        break;
    case sample_layout::bits16:
        draw_box<writer_16bit<256>>(image, box, bg, fg);
        break;
    case sample_layout::packed10:
        draw_box<writer_packed<4>>(image, box, bg, fg);
        break;
    case sample_layout::packed12:
        draw_box<writer_packed<2>>(image, box, bg, fg);
        break;
    case sample_layout::none:
        break;
    }
}

} // namespace img_lib::overlay
