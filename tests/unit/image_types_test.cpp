#include "camera_types.h"
#include "image_types.h"
#include "result.h"

#include <gtest/gtest.h>

using img::make_fourcc;

TEST(Fourcc, FirstCharacterIsLeastSignificantByte)
{
    EXPECT_EQ(img::to_uint(make_fourcc("RGGB")), 0x42474752u);
    EXPECT_EQ(img::to_uint(make_fourcc("BA81")), 0x31384142u);
    EXPECT_EQ(make_fourcc("RGG"), img::fourcc::FCC_NULL);
    EXPECT_EQ(img::fourcc_chars(make_fourcc("Y10 ")), "Y10 ");
}

TEST(BufferLength, FollowsTheFormatRules)
{
    EXPECT_EQ(img::calc_buffer_length(img::fcc::NV12, {640, 480}), 460800u);
    EXPECT_EQ(img::calc_buffer_length(img::fcc::YV12, {641, 3}), 641u * 3 + (641 * 3 / 4) * 2);
    EXPECT_EQ(img::calc_buffer_length(img::fcc::BGAP, {1920, 1080}), 2592000u);
    EXPECT_EQ(img::calc_buffer_length(img::fcc::BGDP, {1920, 1080}), 3110400u);
    EXPECT_EQ(img::calc_buffer_length(make_fourcc("ADp2"), {10, 10}), 800u);
    EXPECT_EQ(img::calc_buffer_length(make_fourcc("YUfp"), {10, 10}), 1200u);
    EXPECT_EQ(img::calc_buffer_length(make_fourcc("ADC2"), {10, 10}), 1600u);
    EXPECT_EQ(img::calc_buffer_length(make_fourcc("Y16 "), {10, 10}), 200u);
    EXPECT_EQ(img::calc_buffer_length(make_fourcc("XXXX"), {640, 480}), 0u);
    EXPECT_EQ(img::calc_buffer_length(img::fourcc::FCC_NULL, {640, 480}), 0u);
}

TEST(BufferLength, DividesTheLineBeforeMultiplyingByHeight)
{
    // 3 pixels of 10 bits are 30 bits: 3 whole bytes per line, not 3.75.
    EXPECT_EQ(img::calc_buffer_length(img::fcc::RGAP, {3, 4}), 12u);
}

TEST(BufferLength, NonsenseSizesGiveZeroRatherThanAWrappedLength)
{
    EXPECT_EQ(img::calc_buffer_length(img::fcc::BGDP, {-4, 480}), 0u);
    EXPECT_EQ(img::calc_buffer_length(img::fcc::BGDP, {0, 480}), 0u);
    EXPECT_EQ(img::calc_buffer_length(make_fourcc("ADC2"), {65536, 65536}), 0u);
}

TEST(BitsPerPixel, EveryListedCodeHasItsDepth)
{
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("RAW1")), 8);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("Y10p")), 10);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("IYU1")), 12);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("RAW2")), 16);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("IYU2")), 24);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("RAWf")), 32);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("ADC1")), 64);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("BGrf")), 96);
    EXPECT_EQ(img::get_bits_per_pixel(make_fourcc("ADp1")), 0);
}

TEST(PropValues, ReadingsDependOnTheType)
{
    auto big = korsa_cam::prop_values::from_int64((int64_t{1} << 32) + 1);
    EXPECT_EQ(big.as_int(), 1);
    korsa_cam::prop_values b;
    b.bytes[7] = 1;
    EXPECT_TRUE(b.as_bool());
    EXPECT_FALSE(korsa_cam::prop_values{}.as_bool());
    EXPECT_EQ(korsa_cam::prop_values::from_int(-5).as_int(), -5);
    EXPECT_DOUBLE_EQ(korsa_cam::prop_values::from_double(2.5).as_double(), 2.5);
}

TEST(Result, HoldsAValueOrAnErrorCode)
{
    korsa_cam::result<int> ok = 5;
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok.value(), 5);
    korsa_cam::result<int> bad = std::make_error_code(std::errc::bad_file_descriptor);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().value(), 9);
    EXPECT_THROW((void)bad.value(), std::system_error);
}
