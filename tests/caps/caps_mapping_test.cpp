#include "fcc_to_string.h"
#include "fourcc_caps_table.h"
#include "gst_caps_generate.h"
#include "gst_struct_helper.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using img::make_fourcc;
using img_lib::gst::fourcc_to_gst_caps_string;
using img_lib::gst::gst_caps_string_to_fourcc;

namespace {

struct structure_ptr
{
    GstStructure* s;
    explicit structure_ptr(const char* text) : s(gst_structure_from_string(text, nullptr)) {}
    ~structure_ptr()
    {
        if (s != nullptr)
        {
            gst_structure_free(s);
        }
    }
};

std::vector<std::string> structure_strings(GstCaps* caps)
{
    std::vector<std::string> out;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
    {
        gchar* text = gst_structure_to_string(gst_caps_get_structure(caps, i));
        out.emplace_back(text);
        g_free(text);
    }
    return out;
}

} // namespace

TEST(CapsTable, CodesToCapsStrings)
{
    EXPECT_EQ(fourcc_to_gst_caps_string(make_fourcc("MJPG")), "image/jpeg");
    EXPECT_EQ(fourcc_to_gst_caps_string(make_fourcc("RGGB")), "video/x-bayer,format=(string)rggb");
    EXPECT_EQ(fourcc_to_gst_caps_string(img::fcc::BGDP), "video/x-bayer,format=(string)bggr12m");
    EXPECT_EQ(fourcc_to_gst_caps_string(make_fourcc("Y1DP")), "video/x-raw,format=(string)GRAY12m");
    EXPECT_EQ(fourcc_to_gst_caps_string(make_fourcc("ADC2")), "video/qel,format=(string)ADI_RGB16");
    EXPECT_EQ(fourcc_to_gst_caps_string(img::to_uint(make_fourcc("MONf"))),
              "video/x-raw,format=(string)GREYf");
    EXPECT_EQ(fourcc_to_gst_caps_string(make_fourcc("XXXX")), "");
    EXPECT_EQ(fourcc_to_gst_caps_string(img::fourcc::FCC_NULL), "");
}

TEST(CapsTable, ReverseLookupTakesTheFirstMatch)
{
    EXPECT_EQ(gst_caps_string_to_fourcc("video/x-bayer", "gbrg10"), make_fourcc("GB10"));
    EXPECT_EQ(gst_caps_string_to_fourcc("video/x-bayer", "bggr12m"), img::fcc::BGDP);
    EXPECT_EQ(gst_caps_string_to_fourcc("image/jpeg", ""), make_fourcc("MJPG"));
    EXPECT_EQ(gst_caps_string_to_fourcc("video/x-raw", ""), img::fourcc::FCC_NULL);
    EXPECT_EQ(gst_caps_string_to_fourcc("video/x-bayer", "nonsense"), img::fourcc::FCC_NULL);
    EXPECT_EQ(gst_caps_string_to_fourcc("video/x-unknown", "rggb"), img::fourcc::FCC_NULL);
    // A format with no entry of its own still matches an entry without a format.
    EXPECT_EQ(gst_caps_string_to_fourcc("image/jpeg", "whatever"), make_fourcc("MJPG"));
}

TEST(CapsTable, EveryCodeOfTheCamerasRoundTrips)
{
    for (const char* code : {"RGAP", "GRAP", "GBAP", "BGAP", "RGDP", "GRDP", "GBDP", "BGDP", "Y10P",
                             "Y1DP", "PWL1", "RGGB", "Y800", "NV12"})
    {
        const std::string caps = fourcc_to_gst_caps_string(make_fourcc(code));
        structure_ptr s(caps.c_str());
        ASSERT_NE(s.s, nullptr) << code;
        EXPECT_EQ(gst_helper::get_gst_struct_fcc(s.s), make_fourcc(code)) << code;
    }
}

TEST(CapsStructures, ImageTypeFromAStructure)
{
    structure_ptr s("video/x-bayer,format=(string)bggr12m,width=(int)1920,height=(int)1080");
    auto type = gst_helper::get_gst_struct_image_type(s.s);
    ASSERT_TRUE(type);
    EXPECT_EQ(type->type, img::fcc::BGDP);
    EXPECT_EQ(type->dim, (img::dim{1920, 1080}));
    EXPECT_EQ(type->buffer_length, 3110400u);

    structure_ptr jpeg("image/jpeg,width=(int)640,height=(int)480");
    EXPECT_EQ(gst_helper::get_gst_struct_fcc(jpeg.s), img::fourcc::FCC_NULL);
    EXPECT_FALSE(gst_helper::get_gst_struct_image_type(jpeg.s));
    EXPECT_TRUE(gst_helper::get_gst_struct_image_dim(jpeg.s));

    structure_ptr ranged("video/x-bayer,format=(string)rggb,width=(int)[1,10],height=(int)4");
    EXPECT_FALSE(gst_helper::get_gst_struct_image_dim(ranged.s));

    structure_ptr rate("video/x-raw,framerate=(fraction)30000/1001");
    ASSERT_TRUE(gst_helper::get_gst_struct_framerate(rate.s));
    EXPECT_NEAR(*gst_helper::get_gst_struct_framerate(rate.s), 29.97, 0.001);
    structure_ptr no_rate("video/x-raw");
    EXPECT_FALSE(gst_helper::get_gst_struct_framerate(no_rate.s));
    EXPECT_EQ(gst_helper::get_gst_struct_fcc(nullptr), img::fourcc::FCC_NULL);
}

TEST(FccToString, NamesCodesAndFallsBackToTheCharacters)
{
    EXPECT_EQ(img::fcc_to_string(img::fourcc::FCC_NULL), "NULL");
    EXPECT_EQ(img::fcc_to_string(img::fcc::BGDP), "BGGR12_MIPI_PACKED");
    EXPECT_EQ(img::fcc_to_string(make_fourcc("Y10 ")), "Mono10");
    EXPECT_EQ(img::fcc_to_string(make_fourcc("ADp2")), "Polarization ADI Mono16 planar");
    EXPECT_EQ(img::fcc_to_string(make_fourcc("ABCD")), "ABCD");
    EXPECT_EQ(img::fcc_to_string(static_cast<img::fourcc>(0x4241)), "AB");
}

TEST(CapsGeneration, RangedFormatGivesStandardSizesThenTheRange)
{
    const korsa_cam::stream_type_desc virt{img::fcc::BGDP, {640, 480}, {1920, 1080}, {4, 4}};
    std::vector<img::img_type> asked;
    GstCaps* caps =
        gst_helper::convert_videoformatsdescription_to_caps({virt}, [&](const img::img_type& t) {
            asked.push_back(t);
            return korsa_cam::framerate_data{1.0, 30.0, 60.0};
        });
    const auto s = structure_strings(caps);
    const std::vector<std::string> expected = {
        "video/x-bayer, format=(string)bggr12m, width=(int)1920, height=(int)1080, "
        "framerate=(fraction)[ 1/1, 60/1 ];",
        "video/x-bayer, format=(string)bggr12m, width=(int)1440, height=(int)1080, "
        "framerate=(fraction)[ 1/1, 60/1 ];",
        "video/x-bayer, format=(string)bggr12m, width=(int)1280, height=(int)720, "
        "framerate=(fraction)[ 1/1, 60/1 ];",
        "video/x-bayer, format=(string)bggr12m, width=(int)960, height=(int)720, "
        "framerate=(fraction)[ 1/1, 60/1 ];",
        "video/x-bayer, format=(string)bggr12m, width=(int)720, height=(int)480, "
        "framerate=(fraction)[ 1/1, 60/1 ];",
        "video/x-bayer, format=(string)bggr12m, width=(int)640, height=(int)480, "
        "framerate=(fraction)[ 1/1, 60/1 ];",
        "video/x-bayer, format=(string)bggr12m, width=(int)[ 640, 1920, 4 ], "
        "height=(int)[ 480, 1080, 4 ], framerate=(fraction)[ 1/1, 60/1 ];",
    };
    EXPECT_EQ(s, expected);
    // Each fixed size is asked with its own buffer length; the range at its smallest size.
    ASSERT_EQ(asked.size(), 7u);
    EXPECT_EQ(asked[0].buffer_length, 3110400u);
    EXPECT_EQ(asked.back().dim, (img::dim{640, 480}));
    gst_caps_unref(caps);
}

TEST(CapsGeneration, OddRangeGetsItsEndsAndOnlyFittingSizes)
{
    // 1000x700 to 1300x900 step 100x100: no standard size fits (1280 is off the width step).
    const korsa_cam::stream_type_desc odd{img::fcc::RGAP, {1000, 700}, {1300, 900}, {100, 100}};
    GstCaps* caps = gst_helper::convert_videoformatsdescription_to_caps(
        {odd}, [](const img::img_type&) { return korsa_cam::framerate_data{30.0}; });
    const auto s = structure_strings(caps);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_NE(s[0].find("width=(int)1300, height=(int)900"), std::string::npos) << s[0];
    EXPECT_NE(s[1].find("width=(int)1000, height=(int)700"), std::string::npos) << s[1];
    // A single rate is a fraction, not a range.
    EXPECT_NE(s[1].find("framerate=(fraction)30/1"), std::string::npos) << s[1];
    gst_caps_unref(caps);
}

TEST(CapsGeneration, FixedFormatsUnknownCodesAndEmptyRates)
{
    const std::vector<korsa_cam::stream_type_desc> types = {
        {make_fourcc("XXXX"), {640, 480}, {640, 480}, {1, 1}}, // no caps string: skipped
        {img::fcc::Y10P, {1440, 1080}, {1440, 1080}, {1, 1}},  // fixed size
        {img::fcc::RGDP, {640, 480}, {1920, 1080}, {4, 4}},    // no rates: contributes nothing
    };
    GstCaps* caps =
        gst_helper::convert_videoformatsdescription_to_caps(types, [](const img::img_type& t) {
            return t.type == img::fcc::RGDP ? korsa_cam::framerate_data{}
                                            : korsa_cam::framerate_data{25.0, 25.0};
        });
    const auto s = structure_strings(caps);
    ASSERT_EQ(s.size(), 1u);
    // Two equal rates make a plain fraction; a range needs two different ends.
    EXPECT_EQ(s[0], "video/x-raw, format=(string)GRAY10m, width=(int)1440, height=(int)1080, "
                    "framerate=(fraction)25/1;");
    gst_caps_unref(caps);

    GstCaps* none = gst_helper::convert_videoformatsdescription_to_caps(
        {}, [](const img::img_type&) { return korsa_cam::framerate_data{30.0}; });
    EXPECT_TRUE(gst_caps_is_empty(none));
    gst_caps_unref(none);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    gst_init(&argc, &argv);
    return RUN_ALL_TESTS();
}
