// The text renderer: box geometry, glyph placement, the sample layout of each format,
// transparency, clipping and hostile arguments (guard bytes around every buffer).

#include "overlay.h"
#include "overlay_font.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using img::fourcc;
using img::make_fourcc;
using img_lib::overlay::luma_of;
using img_lib::overlay::render_text;
using colour = img::pixel_type::R8G8B8A8;

constexpr colour black{0, 0, 0, 255};
constexpr colour white{255, 255, 255, 255};
constexpr colour red{255, 0, 0, 255};
constexpr colour none{255, 255, 255, 0};
constexpr std::byte fill{0x55};
constexpr std::byte guard{0xA5};
constexpr std::size_t guard_len = 64;

// An image with guard bytes before and after it.
struct canvas
{
    canvas(fourcc fcc, int w, int h, int pitch = -1)
    {
        const int bpp = img::get_bits_per_pixel(fcc);
        line = pitch >= 0 ? pitch : (bpp > 0 ? w * bpp / 8 : w);
        // Planar formats: a luma plane of h lines and chroma below it.
        const std::size_t size = static_cast<std::size_t>(line) * static_cast<std::size_t>(h) * 2;
        bytes.assign(size + 2 * guard_len, fill);
        std::fill(bytes.begin(), bytes.begin() + guard_len, guard);
        std::fill(bytes.end() - guard_len, bytes.end(), guard);
        image.type = img::img_type{fcc, {w, h}, static_cast<uint32_t>(size)};
        image.data = bytes.data() + guard_len;
        image.pitch = line;
    }

    bool guards_intact() const
    {
        for (std::size_t i = 0; i < guard_len; ++i)
        {
            if (bytes[i] != guard || bytes[bytes.size() - 1 - i] != guard)
            {
                return false;
            }
        }
        return true;
    }

    std::byte at(int row, int byte) const { return image.data[row * line + byte]; }
    uint8_t u8(int row, int byte) const { return std::to_integer<uint8_t>(at(row, byte)); }

    int line = 0;
    std::vector<std::byte> bytes;
    img::img_descriptor image;
};

void draw(canvas& c, img::point at, int scale, const std::string& text, colour bg = black,
          colour fg = white)
{
    render_text(c.image, at, scale, text.data(), static_cast<unsigned>(text.size()), bg, fg);
}

// Bounding box of the changed bytes of an 8-bit image: {x0, y0, x1, y1} (exclusive).
std::array<int, 4> changed_box(const canvas& c)
{
    std::array<int, 4> box{INT_MAX, INT_MAX, -1, -1};
    for (int y = 0; y < c.image.type.dim.cy; ++y)
    {
        for (int x = 0; x < c.line; ++x)
        {
            if (c.at(y, x) != fill)
            {
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x + 1),
                       std::max(box[3], y + 1)};
            }
        }
    }
    return box;
}

TEST(TextLuma, WeightsTheChannelsAndTruncates)
{
    EXPECT_EQ(luma_of(red), 76);
    EXPECT_EQ(luma_of({0, 255, 0, 255}), 149);
    EXPECT_EQ(luma_of({0, 0, 255, 255}), 29);
    EXPECT_EQ(luma_of(black), 0);
    EXPECT_EQ(luma_of(white), 255);
}

TEST(TextGeometry, CentredBoxInY800)
{
    canvas c(img::fcc::Y800, 100, 40);
    draw(c, {-1, -1}, 3, "AB");
    EXPECT_EQ(changed_box(c), (std::array<int, 4>{24, 7, 24 + 51, 7 + 26}));
    EXPECT_TRUE(c.guards_intact());
}

TEST(TextGeometry, GlyphBitsRunLeftToRightTopToBottomAtScale)
{
    const unsigned char ch = 'K';
    for (int scale : {1, 2})
    {
        canvas c(img::fcc::Y800, 40, 30);
        draw(c, {3, 4}, scale, std::string(1, static_cast<char>(ch)));
        int wrong = 0;
        for (int gy = 0; gy < 8; ++gy)
        {
            const unsigned bits = img_lib::overlay::glyph_row_of(ch, gy);
            for (int gx = 0; gx < 8; ++gx)
            {
                const uint8_t want = ((bits >> (7 - gx)) & 1U) != 0 ? 255 : 0;
                for (int s = 0; s < scale * scale; ++s)
                {
                    const int y = 4 + 1 + gy * scale + s / scale;
                    const int x = 3 + 1 + gx * scale + s % scale;
                    wrong += c.u8(y, x) == want ? 0 : 1;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << "scale " << scale;
        // One background pixel around the glyph.
        EXPECT_EQ(c.u8(4, 3), 0);
        EXPECT_EQ(c.u8(4 + 8 * scale + 1, 3 + 8 * scale + 1), 0);
        EXPECT_EQ(changed_box(c), (std::array<int, 4>{3, 4, 3 + 8 * scale + 2, 4 + 8 * scale + 2}));
    }
}

TEST(TextGeometry, TheFontHasCodePage437Shapes)
{
    // Faces at 1 and 2, a full block at 219, blanks at 0 and 32.
    uint8_t face = 0, block = 0xFF, blank = 0;
    for (int r = 0; r < 8; ++r)
    {
        face |= img_lib::overlay::glyph_row_of(1, r) & img_lib::overlay::glyph_row_of(2, r);
        block &= img_lib::overlay::glyph_row_of(219, r);
        blank |= img_lib::overlay::glyph_row_of(0, r) | img_lib::overlay::glyph_row_of(' ', r);
    }
    EXPECT_NE(face, 0);
    EXPECT_EQ(block, 0xFF);
    EXPECT_EQ(blank, 0);
}

TEST(TextClipping, BoxPastTheRightAndBottomEdgesIsCut)
{
    // Padding bytes past the width belong to no pixel: they must stay as they are.
    canvas c(img::fcc::Y800, 50, 12, 56);
    draw(c, {30, 6}, 1, "WIDE TEXT");
    for (int y = 0; y < 12; ++y)
    {
        for (int x = 50; x < 56; ++x)
        {
            EXPECT_EQ(c.at(y, x), fill) << y << "," << x;
        }
    }
    EXPECT_EQ(changed_box(c), (std::array<int, 4>{30, 6, 50, 12}));
    EXPECT_TRUE(c.guards_intact());
}

TEST(TextColours, TransparentBackgroundChangesOnlyLetterPixels)
{
    canvas c(img::fcc::Y800, 64, 20);
    draw(c, {2, 2}, 2, "Hi", none, white);
    int set_bits = 0;
    for (unsigned char ch : std::string("Hi"))
    {
        for (int r = 0; r < 8; ++r)
        {
            set_bits += __builtin_popcount(img_lib::overlay::glyph_row_of(ch, r));
        }
    }
    int changed = 0;
    for (int y = 0; y < 20; ++y)
    {
        for (int x = 0; x < 64; ++x)
        {
            changed += c.at(y, x) != fill ? 1 : 0;
        }
    }
    EXPECT_EQ(changed, set_bits * 4);
}

TEST(TextFormats, UnpackedSamplesHoldTheScaledLumaInTheFirstPlaneOnly)
{
    struct case_t
    {
        const char* code;
        unsigned bytes; // per pixel
        unsigned mul;
    };
    for (const auto& [code, bytes, mul] :
         {case_t{"Y800", 1, 1}, case_t{"RGGB", 1, 1}, case_t{"NV12", 1, 1}, case_t{"YU8p", 1, 1},
          case_t{"Y10 ", 2, 4}, case_t{"BG12", 2, 16}, case_t{"RG16", 2, 256},
          case_t{"YUGp", 2, 256}})
    {
        canvas c(make_fourcc(code), 20, 12, 20 * bytes);
        draw(c, {0, 0}, 1, "A", red, white);
        // Pixel (0,0) is the red border (luma 76), little-endian.
        const unsigned v = bytes == 1 ? c.u8(0, 0) : c.u8(0, 0) | (c.u8(0, 1) << 8);
        EXPECT_EQ(v, 76 * mul) << code;
        EXPECT_EQ(c.at(0, 10 * bytes), fill) << code; // first pixel right of the box
        // Nothing below the first plane (chroma of planar formats) changes.
        for (unsigned i = 0; i < 20 * 12 * bytes; ++i)
        {
            ASSERT_EQ(c.image.data[20 * 12 * bytes + i], fill) << code;
        }
    }
}

TEST(TextFormats, Packed12BitPairsLoseBothLowNibbles)
{
    canvas c(img::fcc::BGDP, 20, 12);
    ASSERT_EQ(c.line, 30);
    // Box from column 3: pixel 3 is the odd half of group 1 and pixel 2 stays untouched.
    draw(c, {3, 0}, 1, "A", red, white);
    EXPECT_EQ(c.u8(0, 3), 0x55); // pixel 2, high byte: outside the box
    EXPECT_EQ(c.u8(0, 4), 76);   // pixel 3
    EXPECT_EQ(c.u8(0, 5), 0);    // low nibbles of pixels 2 and 3
    EXPECT_EQ(c.u8(0, 6), 76);   // pixel 4
    EXPECT_EQ(c.u8(0, 7), 76);   // pixel 5
    EXPECT_EQ(c.u8(0, 8), 0);    // their low nibbles
    // The box ends after pixel 12 (3 + 10 columns): pixel 13 keeps its byte, the pair's low
    // nibbles are cleared, on every row of the box, including the copied repeats.
    for (int y = 0; y < 10; ++y)
    {
        EXPECT_EQ(c.u8(y, 19), 0x55) << y; // pixel 13
        EXPECT_EQ(c.u8(y, 18), 76) << y;   // pixel 12: border column, background
        EXPECT_EQ(c.u8(y, 20), 0) << y;
    }
    EXPECT_EQ(c.u8(10, 20), 0x55);
    EXPECT_TRUE(c.guards_intact());
}

TEST(TextFormats, Packed10BitUsesFourPixelsInFiveBytesWithinEachLine)
{
    for (const char* code : {"Y10P", "GBAP", "BGAP", "RGAP", "GRAP"})
    {
        // Six pixels: 60 bits = 7 bytes a line, the second group cut short.
        canvas c(make_fourcc(code), 6, 12);
        ASSERT_EQ(c.line, 7);
        draw(c, {0, 0}, 1, "A", red, white);
        for (int y = 0; y < 10; ++y)
        {
            EXPECT_EQ(c.u8(y, 0), 76) << code;                          // background column
            EXPECT_EQ(c.u8(y, 4), 0) << code;                           // low bits of pixels 0..3
            EXPECT_TRUE(c.u8(y, 5) == 76 || c.u8(y, 5) == 255) << code; // pixel 4
        }
        // The next line starts right after byte 6: its own pixels, nothing spilled over.
        EXPECT_EQ(c.u8(10, 0), 0x55) << code;
        EXPECT_EQ(c.u8(11, 6), 0x55) << code;
        EXPECT_TRUE(c.guards_intact());
    }
}

TEST(TextBadInput, NothingIsWrittenOutsideTheImage)
{
    const std::vector<const char*> codes = {"Y800", "NV12", "Y10 ", "Y12 ", "Y16 ",
                                            "YUGp", "BGDP", "Y1DP", "Y10P", "BGAP"};
    const std::vector<img::point> points = {
        {0, 0},       {-1, -1},     {-2, -2}, {-1000, 3}, {3, -1000}, {INT_MIN, INT_MIN},
        {INT_MAX, 0}, {0, INT_MAX}, {1, 1},   {-1, 0},    {0, -1}};
    const std::vector<int> scales = {1, 2, 7, 1000, INT_MAX};
    const std::string text = "Guard \xdb\xb3 bytes";
    for (const char* code : codes)
    {
        for (img::dim size : {img::dim{1, 1}, img::dim{2, 3}, img::dim{5, 2}, img::dim{33, 17}})
        {
            for (const auto& at : points)
            {
                for (int scale : scales)
                {
                    canvas c(make_fourcc(code), size.cx, size.cy);
                    draw(c, at, scale, text);
                    ASSERT_TRUE(c.guards_intact())
                        << code << " " << size.cx << "x" << size.cy << " at " << at.x << "," << at.y
                        << " scale " << scale;
                }
            }
        }
    }
}

TEST(TextBadInput, EmptyTextScaleZeroAndNullLeaveTheImageUnchanged)
{
    canvas c(img::fcc::Y800, 20, 12);
    render_text(c.image, {0, 0}, 1, nullptr, 5, black, white);
    render_text(c.image, {0, 0}, 1, "abc", 0, black, white);
    render_text(c.image, {0, 0}, 0, "abc", 3, black, white);
    render_text(c.image, {0, 0}, -3, "abc", 3, black, white);
    render_text(c.image, {20, 0}, 1, "abc", 3, black, white);
    render_text(c.image, {0, 12}, 1, "abc", 3, black, white);
    EXPECT_EQ(changed_box(c)[2], -1);

    // Formats without a writer stay untouched.
    for (const char* code : {"PWL1", "BGR3", "XXXX"})
    {
        canvas other(make_fourcc(code), 20, 12, 60);
        draw(other, {0, 0}, 1, "A");
        EXPECT_EQ(changed_box(other)[2], -1) << code;
    }

    // A huge length is never read past what is visible.
    const char one = 'x';
    canvas narrow(img::fcc::Y800, 8, 12);
    render_text(narrow.image, {0, 0}, 1, &one, UINT_MAX, black, white);
    EXPECT_TRUE(narrow.guards_intact());

    img::img_descriptor no_data = c.image;
    no_data.data = nullptr;
    render_text(no_data, {0, 0}, 1, "abc", 3, black, white);
    img::img_descriptor no_pitch = c.image;
    no_pitch.pitch = 0;
    render_text(no_pitch, {0, 0}, 1, "abc", 3, black, white);
    EXPECT_EQ(changed_box(c)[2], -1);
}

} // namespace
