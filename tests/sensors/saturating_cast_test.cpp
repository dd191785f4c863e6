// The conversion every driver uses to turn computed doubles into register values. These run
// in the sanitizer build with float-cast-overflow on, so an unguarded conversion fails there.

#include "common/saturating_cast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using korsa_cam::sensor::saturating_cast;

TEST(SaturatingCast, TruncatesInsideTheRangeAndSaturatesOutside)
{
    EXPECT_EQ(saturating_cast<uint32_t>(675.9), 675u);
    EXPECT_EQ(saturating_cast<uint32_t>(0.999), 0u);
    EXPECT_EQ(saturating_cast<uint16_t>(65535.9), 65535u);
    EXPECT_EQ(saturating_cast<uint16_t>(65536.0), 65535u);
    EXPECT_EQ(saturating_cast<uint8_t>(255.5), 255u);
    EXPECT_EQ(saturating_cast<uint8_t>(256.0), 255u);
    EXPECT_EQ(saturating_cast<uint32_t>(4294967295.5), 4294967295u);
    EXPECT_EQ(saturating_cast<uint32_t>(4294967296.0), 4294967295u);
    EXPECT_EQ(saturating_cast<uint64_t>(1.8446744073709552e19),
              std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(saturating_cast<uint64_t>(9.0e18), 9000000000000000000u);
}

TEST(SaturatingCast, NegativeInfiniteAndNanValuesAreDefined)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(saturating_cast<uint16_t>(-0.5), 0u);
    EXPECT_EQ(saturating_cast<uint16_t>(-1e300), 0u);
    EXPECT_EQ(saturating_cast<uint16_t>(-inf), 0u);
    EXPECT_EQ(saturating_cast<uint16_t>(inf), 65535u);
    EXPECT_EQ(saturating_cast<uint32_t>(1e300), 4294967295u);
    EXPECT_EQ(saturating_cast<uint32_t>(nan), 0u);
    EXPECT_EQ(saturating_cast<uint32_t>(-nan), 0u);
    EXPECT_EQ(saturating_cast<uint32_t>(67500.0 / 0.0), 4294967295u);
}

TEST(SaturatingCast, IntegersOfEveryWidthAndSignClamp)
{
    EXPECT_EQ(saturating_cast<uint16_t>(-88), 0u);
    EXPECT_EQ(saturating_cast<uint16_t>(1932), 1932u);
    EXPECT_EQ(saturating_cast<uint16_t>(int64_t{1} << 40), 65535u);
    EXPECT_EQ(saturating_cast<uint16_t>(std::numeric_limits<int32_t>::min()), 0u);
    EXPECT_EQ(saturating_cast<uint8_t>(uint64_t{300}), 255u);
    EXPECT_EQ(saturating_cast<uint32_t>(std::numeric_limits<uint64_t>::max()), 4294967295u);
    EXPECT_EQ(saturating_cast<uint64_t>(std::numeric_limits<int64_t>::max()),
              static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
}

} // namespace
