#include "rawcam_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

using korsa_cam::status;

TEST(StatusCodes, EveryValueHasItsMessageAndGenericCondition)
{
    const std::vector<std::pair<std::string, int>> expected = {
        {"Success", 0},
        {"Failed to open i2c bus device handle", ECONNREFUSED},
        {"Failed to find i2c device at address", ENOTCONN},
        {"Invalid data present in sensor EEPROM", EPROTO},
        {"Failed to open fpd-link deserializer", ENOENT},
        {"Failed to open fpd-link serializer, no camera connected?", ENOENT},
        {"Failed to identify gpio chip on sensor board", ENOENT},
        {"Another process already uses the camera", EACCES},
        {"Failed to fetch streaming caps from camera", EBADF},
        {"Failed to access i2c bus", ECONNABORTED},
        {"Unknown sensor type encountered", ECONNREFUSED},
        {"Failed to find a device on the i2c bus", ECONNREFUSED},
        {"Invalid property value specified", EINVAL},
    };
    ASSERT_EQ(expected.size(), 13u);
    for (int v = 0; v < 13; ++v)
    {
        const std::error_code ec = korsa_cam::make_error_code(static_cast<status>(v));
        EXPECT_EQ(ec.value(), v);
        EXPECT_EQ(&ec.category(), &korsa_cam::error_category());
        EXPECT_EQ(ec.message(), expected[v].first) << v;
        const std::error_condition cond = ec.default_error_condition();
        EXPECT_EQ(cond.value(), expected[v].second) << v;
        EXPECT_EQ(&cond.category(), &std::generic_category()) << v;
    }
}

TEST(StatusCodes, CategoryNameAndOutOfRangeValues)
{
    const auto& cat = korsa_cam::error_category();
    EXPECT_STREQ(cat.name(), "KORSA Error");
    for (int v : {13, -1, 1000, INT32_MIN})
    {
        EXPECT_EQ(cat.message(v), "Unknown Error") << v;
        const std::error_condition cond = cat.default_error_condition(v);
        EXPECT_EQ(cond.value(), v);
        EXPECT_EQ(&cond.category(), &cat);
    }
}

TEST(StatusCodes, ComparisonNeedsValueAndCategory)
{
    const std::error_code in_use = korsa_cam::make_error_code(status::camera_in_use);
    EXPECT_EQ(in_use, status::camera_in_use);
    EXPECT_NE(in_use, std::error_code(7, std::generic_category()));
    // A library status still matches the generic condition it stands for.
    EXPECT_EQ(in_use, std::errc::permission_denied);
    EXPECT_FALSE(korsa_cam::make_error_code(status::success));
}
