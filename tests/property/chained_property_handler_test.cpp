#include "property_ranges.h"
#include "rawcam_error.h"
#include "standard_properties.h"
#include "test_sensors.h"

#include <gtest/gtest.h>

using namespace korsa_cam;
using korsa_test::einval;
using korsa_test::names_of;
using korsa_test::test_chain;
using korsa_test::test_registry;
namespace sp = korsa_cam::standard_properties;

namespace {

// A wrapped sensor with exposure, trigger mode and gain, counting its calls.
struct behind_sensor
{
    test_registry reg;
    double exposure = 33000;
    int gain_sets = 0;

    behind_sensor()
    {
        reg.add_real(
            sp::exposure_time(), make_real_range(10, 1e6, 33000, 1),
            [this](double v) { return (exposure = v), std::error_code{}; },
            [this]() -> result<double> { return exposure; });
        reg.add_menu(
            sp::trigger_mode(), make_menu_range(sp::trigger_mode(), 0),
            [](int32_t) { return std::error_code{}; }, []() -> result<int32_t> { return 0; });
        reg.add_real(
            sp::gain(), {}, [this](double) { return ++gain_sets, std::error_code{}; },
            []() -> result<double> { return 2.0; });
    }
};

void add_trigger_source(test_chain& chain, int32_t& source)
{
    chain.add_menu(
        sp::trigger_source_fpd_link(), make_menu_range(sp::trigger_source_fpd_link(), 0),
        [&source](int32_t v) { return (source = v), std::error_code{}; },
        [&source]() -> result<int32_t> { return source; });
}

} // namespace

TEST(PropertyChain, ListsOwnPropertiesBeforeTheWrappedOnesAndAnswersFromBehind)
{
    behind_sensor back;
    test_chain chain(back.reg);
    int32_t source = 0;
    add_trigger_source(chain, source);

    EXPECT_EQ(names_of(chain.get_property_list()),
              (std::vector<std::string>{"TriggerSource", "ExposureTime", "TriggerMode", "Gain"}));

    EXPECT_EQ(chain.get_property("ExposureTime").value().dbl, 33000.0);
    EXPECT_EQ(chain.get_property_range("ExposureTime").value().max.dbl, 1e6);
    EXPECT_FALSE(chain.set_property("ExposureTime", prop_values::from_double(500)));
    EXPECT_EQ(back.exposure, 500.0);

    EXPECT_FALSE(chain.set_property("TriggerSource", prop_values::from_int(1)));
    EXPECT_EQ(source, 1);
    EXPECT_EQ(chain.get_property("TriggerSource").value().i64, 1);
}

TEST(PropertyChain, NameUnknownOnBothSidesIsInvalidArgument)
{
    behind_sensor back;
    test_chain chain(back.reg);
    EXPECT_EQ(chain.get_property("Nope").error(), einval());
    EXPECT_EQ(chain.get_property_range("exposuretime").error(), einval());
    EXPECT_EQ(chain.set_property("", prop_values{}), einval());
}

TEST(PropertyChain, OwnAnswersOtherThan22AreFinal)
{
    behind_sensor back;
    test_chain chain(back.reg);
    std::error_code front_result;
    chain.add_real(
        sp::gain(), {}, [&](double) { return front_result; },
        []() -> result<double> { return 9.0; });

    // Same name on both sides: the front answers and is listed first, both are listed.
    EXPECT_EQ(chain.get_property("Gain").value().dbl, 9.0);
    EXPECT_EQ(names_of(chain.get_property_list()).front(), "Gain");
    EXPECT_EQ(chain.get_property_list().size(), 4u);

    EXPECT_FALSE(chain.set_property("Gain", prop_values{}));
    front_result = make_error_code(status::invalid_property_value);
    EXPECT_EQ(chain.set_property("Gain", prop_values{}), front_result);
    EXPECT_EQ(back.gain_sets, 0);
}

TEST(PropertyChain, ErrorValue22OfAnyCategoryFallsThrough)
{
    behind_sensor back;
    test_chain chain(back.reg);
    const std::error_code korsa_22(22, korsa_cam::error_category());
    chain.add_real(
        sp::gain(), {}, [&](double) { return korsa_22; },
        [&]() -> result<double> { return korsa_22; });

    EXPECT_EQ(chain.get_property("Gain").value().dbl, 2.0);
    EXPECT_FALSE(chain.set_property("Gain", prop_values{}));
    EXPECT_EQ(back.gain_sets, 1);
}
