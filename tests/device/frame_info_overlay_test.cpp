// The two frame-information lines: text, scale and placement by frame width.

#include "frame_info_overlay.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr std::byte fill{0x33};

struct bgdp_frame
{
    explicit bgdp_frame(int width, int height = 64)
        : type(img::make_img_type(img::fcc::BGDP, {width, height})), bytes(type.buffer_length, fill)
    {}

    img::img_descriptor image() { return {type, bytes.data(), type.dim.cx * 12 / 8}; }

    // High byte of pixel x in row y.
    uint8_t px(int y, int x) const
    {
        return std::to_integer<uint8_t>(bytes[y * (type.dim.cx * 3 / 2) + (x / 2) * 3 + x % 2]);
    }

    // Columns of row y whose pixel changed, as [first, last + 1).
    std::pair<int, int> changed_columns(int y) const
    {
        int first = -1;
        int last = -1;
        for (int x = 0; x < type.dim.cx; ++x)
        {
            if (px(y, x) != 0x33)
            {
                first = first < 0 ? x : first;
                last = x;
            }
        }
        return {first, last + 1};
    }

    img::img_type type;
    std::vector<std::byte> bytes;
};

TEST(FrameInfoOverlay, At640PixelsTheFirstLineIs51CharactersAtScaleOne)
{
    bgdp_frame f(640);
    korsa_cam::frame_info info;
    info.cam_time = 1234567;
    gst_korsa::draw_frame_info(f.image(), info, {}, 0.0);

    // "frm: [    0] id=    0 cam_time=     1234567 drop?=0": 1 + 51 * 9 = 460 pixels.
    EXPECT_EQ(f.changed_columns(10), (std::pair<int, int>{10, 470}));
    EXPECT_EQ(f.changed_columns(9), (std::pair<int, int>{-1, 0}));
    EXPECT_EQ(f.px(10, 10), 76); // red border row
    // Line 1 is 10 rows high: its bottom border row 19 still spans 460 pixels.
    EXPECT_EQ(f.changed_columns(19), (std::pair<int, int>{10, 470}));
    // The second line's box starts right below, at row 20, and ends at row 29.
    EXPECT_EQ(f.px(20, 10), 76);
    EXPECT_EQ(f.changed_columns(30), (std::pair<int, int>{-1, 0}));
    // "flt: drop=(pck=0,qks=0,qum=0) fps=0.00" is 38 characters.
    EXPECT_EQ(f.changed_columns(20), (std::pair<int, int>{10, 10 + 1 + 38 * 9}));
}

TEST(FrameInfoOverlay, At1920PixelsScaleTwoAndTheSecondLineAtRow30)
{
    bgdp_frame f(1920);
    korsa_cam::frame_info info;
    info.frame_number = 12;
    info.frame_id = 13;
    info.is_incomplete = true;
    gst_korsa::frame_drop_info drops{1, 0, 22};
    gst_korsa::draw_frame_info(f.image(), info, drops, 29.97);

    EXPECT_EQ(f.px(10, 10), 76);
    EXPECT_EQ(f.px(27, 10), 76);                                    // last row of line 1
    EXPECT_EQ(f.changed_columns(28), (std::pair<int, int>{-1, 0})); // the gap
    EXPECT_EQ(f.changed_columns(29), (std::pair<int, int>{-1, 0}));
    EXPECT_EQ(f.px(30, 10), 76); // line 2
    EXPECT_EQ(f.px(47, 10), 76);
    EXPECT_EQ(f.changed_columns(48), (std::pair<int, int>{-1, 0}));
    // "flt: drop=(pck=1,qks=0,qum=22) fps=29.97": 40 characters of 17 pixels.
    EXPECT_EQ(f.changed_columns(30), (std::pair<int, int>{10, 10 + 1 + 40 * 17}));
}

TEST(FrameInfoOverlay, LowNibblesUnderTheBoxAreCleared)
{
    bgdp_frame f(640);
    gst_korsa::draw_frame_info(f.image(), {}, {}, 0.0);
    const int pitch = 960;
    // Pixels 10 and 11 share group 5 (bytes 15..17).
    EXPECT_EQ(f.bytes[10 * pitch + 17], std::byte{0});
    EXPECT_EQ(f.bytes[9 * pitch + 17], fill);
}

} // namespace
