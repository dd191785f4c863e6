#include "property_ranges.h"
#include "rawcam_error.h"
#include "standard_properties.h"
#include "test_sensors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

using namespace korsa_cam;
using korsa_test::einval;
using korsa_test::names_of;
using korsa_test::test_registry;
namespace sp = korsa_cam::standard_properties;

namespace {

prop_values raw(uint64_t bits)
{
    prop_values v;
    std::memcpy(v.bytes, &bits, sizeof bits);
    return v;
}

const property_desc debug_button{"DebugPress", property_type::button, "Special", "Debug", {}, 2};

} // namespace

TEST(PropertyRegistry, FirstRegistrationAnswersAndBothAreListed)
{
    test_registry reg;
    double first_set = -1, second_set = -1;
    reg.add_real(
        sp::gain(), make_real_range(0, 10, 1, 0.1),
        [&](double v) { return (first_set = v), std::error_code{}; },
        []() -> result<double> { return 1.5; });
    reg.add_real(
        sp::exposure_time(), make_real_range(1, 2, 1, 1), [](double) { return std::error_code{}; },
        []() -> result<double> { return 100.0; });
    reg.add_real(
        sp::gain(), make_real_range(0, 48, 0, 0.3),
        [&](double v) { return (second_set = v), std::error_code{}; },
        []() -> result<double> { return 7.0; });

    EXPECT_EQ(names_of(reg.get_property_list()),
              (std::vector<std::string>{"Gain", "ExposureTime", "Gain"}));
    ASSERT_TRUE(reg.get_property("Gain"));
    EXPECT_EQ(reg.get_property("Gain").value().dbl, 1.5);
    ASSERT_TRUE(reg.get_property_range("Gain"));
    EXPECT_EQ(reg.get_property_range("Gain").value().max.dbl, 10.0);
    EXPECT_FALSE(reg.set_property("Gain", prop_values::from_double(3.0)));
    EXPECT_EQ(first_set, 3.0);
    EXPECT_EQ(second_set, -1.0);
}

TEST(PropertyRegistry, NamesMatchByteForByteOnly)
{
    test_registry reg;
    int calls = 0;
    reg.add_real(
        sp::gain(), {}, [&](double) { return ++calls, std::error_code{}; },
        [&]() -> result<double> { return ++calls, 1.0; });

    using namespace std::string_view_literals;
    for (std::string_view name : {"gain"sv, "GAIN"sv, "Gai"sv, "Gain "sv, "Gain\0"sv, ""sv})
    {
        EXPECT_EQ(reg.get_property(name).error(), einval()) << name.size();
        EXPECT_EQ(reg.get_property_range(name).error(), einval()) << name.size();
        EXPECT_EQ(reg.set_property(name, prop_values::from_double(1)), einval()) << name.size();
    }
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(reg.get_property("Gain"sv));
}

// Integer and menu values are the low 32 bits, signed; gets fill all eight bytes.
TEST(PropertyKinds, IntegerAndMenuUseLow32BitsAndSignExtend)
{
    test_registry reg;
    int32_t seen_int = 0, seen_menu = 0;
    reg.add_integer(
        sp::offset_x(), {}, [&](int32_t v) { return (seen_int = v), std::error_code{}; },
        []() -> result<int32_t> { return -5; });
    reg.add_menu(
        sp::trigger_mode(), {}, [&](int32_t v) { return (seen_menu = v), std::error_code{}; },
        []() -> result<int32_t> { return -1; });

    for (const char* name : {"OffsetX", "TriggerMode"})
    {
        int32_t& seen = std::string_view(name) == "OffsetX" ? seen_int : seen_menu;
        EXPECT_FALSE(reg.set_property(name, prop_values::from_int64((int64_t{1} << 32) + 1)));
        EXPECT_EQ(seen, 1) << name;
        EXPECT_FALSE(reg.set_property(name, raw(0x00000000FFFFFFFFull)));
        EXPECT_EQ(seen, -1) << name;
    }
    EXPECT_EQ(reg.get_property("OffsetX").value().i64, -5);
    EXPECT_EQ(reg.get_property("TriggerMode").value().i64, -1);
}

TEST(PropertyKinds, BooleanIsTrueWhenAnyByteIsSet)
{
    test_registry reg;
    int seen = -1;
    bool current = true;
    reg.add_boolean(
        sp::reverse_x(), make_boolean_range(false),
        [&](bool v) { return (seen = v ? 1 : 0), std::error_code{}; },
        [&]() -> result<bool> { return current; });

    EXPECT_FALSE(reg.set_property("ReverseX", prop_values::from_int64(256)));
    EXPECT_EQ(seen, 1);
    EXPECT_FALSE(reg.set_property("ReverseX", prop_values{}));
    EXPECT_EQ(seen, 0);
    EXPECT_FALSE(reg.set_property("ReverseX", raw(uint64_t{1} << 63)));
    EXPECT_EQ(seen, 1);

    EXPECT_EQ(reg.get_property("ReverseX").value().i64, 1);
    current = false;
    EXPECT_EQ(reg.get_property("ReverseX").value().i64, 0);
}

TEST(PropertyKinds, RealCarriesTheDoubleBothWays)
{
    test_registry reg;
    double seen = 0;
    reg.add_real(
        sp::exposure_time(), {}, [&](double v) { return (seen = v), std::error_code{}; },
        []() -> result<double> { return 1e-6; });
    EXPECT_FALSE(reg.set_property("ExposureTime", prop_values::from_double(-2.5)));
    EXPECT_EQ(seen, -2.5);
    EXPECT_EQ(reg.get_property("ExposureTime").value().dbl, 1e-6);
}

TEST(PropertyKinds, ButtonGetDoesNotPressAndSetPressesWhateverTheValue)
{
    test_registry reg;
    int presses = 0;
    std::error_code outcome;
    reg.add_button(debug_button, {}, [&]() { return ++presses, outcome; });

    auto got = reg.get_property("DebugPress");
    ASSERT_TRUE(got);
    EXPECT_EQ(got.value().i64, 0);
    EXPECT_EQ(presses, 0);

    EXPECT_FALSE(reg.set_property("DebugPress", raw(0xDEADBEEFDEADBEEFull)));
    EXPECT_EQ(presses, 1);
    outcome = std::make_error_code(std::errc::io_error);
    EXPECT_EQ(reg.set_property("DebugPress", prop_values{}), outcome);
    EXPECT_EQ(presses, 2);
}

TEST(PropertyKinds, FunctionErrorsPassUnchanged)
{
    test_registry reg;
    const std::error_code bus = make_error_code(status::i2c_access_failed);
    const std::error_code range = make_error_code(status::invalid_property_value);
    reg.add_integer(
        sp::offset_y(), {}, [&](int32_t) { return range; },
        [&]() -> result<int32_t> { return bus; });
    reg.add_boolean(
        sp::reverse_y(), {}, [&](bool) { return bus; }, [&]() -> result<bool> { return bus; });
    reg.add_real(
        sp::gain(), {}, [&](double) { return bus; }, [&]() -> result<double> { return bus; });
    reg.add_menu(
        sp::strobe_mode(), {}, [&](int32_t) { return bus; },
        [&]() -> result<int32_t> { return bus; });

    for (const char* name : {"OffsetY", "ReverseY", "Gain", "StrobeMode"})
    {
        EXPECT_EQ(reg.get_property(name).error(), bus) << name;
    }
    EXPECT_EQ(reg.set_property("OffsetY", prop_values::from_int(9999)), range);
    EXPECT_EQ(reg.set_property("Gain", prop_values{}), bus);
}

TEST(PropertyRegistry, ReportsDescriptorsAndRangesAsRegistered)
{
    test_registry reg;
    const property_range r_int = make_integer_range(-8, 1000, 4, 4);
    const property_range r_menu = make_menu_range(sp::trigger_source_fpd_link(), 1);
    property_range r_flags = make_real_range(0.5, 2.5, 1.0, 0.25);
    r_flags.flags = 0x40;
    reg.add_integer(
        sp::offset_x(), r_int, [](int32_t) { return std::error_code{}; },
        []() -> result<int32_t> { return 0; });
    reg.add_menu(
        sp::trigger_source_fpd_link(), r_menu, [](int32_t) { return std::error_code{}; },
        []() -> result<int32_t> { return 0; });
    reg.add_real(
        sp::gain(), r_flags, [](double) { return std::error_code{}; },
        []() -> result<double> { return 0.0; });

    const auto same = [](const property_range& a, const property_range& b) {
        return a.flags == b.flags && a.min.i64 == b.min.i64 && a.max.i64 == b.max.i64 &&
               a.default_value.i64 == b.default_value.i64 && a.step.i64 == b.step.i64;
    };
    EXPECT_TRUE(same(reg.get_property_range("OffsetX").value(), r_int));
    EXPECT_TRUE(same(reg.get_property_range("TriggerSource").value(), r_menu));
    EXPECT_TRUE(same(reg.get_property_range("Gain").value(), r_flags));
    EXPECT_EQ(r_int.min.i64, -8); // sign-extended like a value
    EXPECT_EQ(r_menu.max.i64, 1);

    const auto list = reg.get_property_list();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].type, property_type::menu);
    EXPECT_EQ(list[1].category, "Special");
    ASSERT_EQ(list[1].menu_entries.size(), 2u);
    // The entry texts are the static strings themselves, not copies.
    EXPECT_EQ(list[1].menu_entries[1], sp::trigger_source_fpd_link().menu_entries[1]);
}

TEST(PropertyRegistry, RegistrationMistakesAreRefusedAndLeaveTheRegistryAlone)
{
    test_registry reg;
    const auto ok_set = [](double) { return std::error_code{}; };
    const auto ok_get = []() -> result<double> { return 0.0; };

    EXPECT_THROW(reg.add_real(sp::gain(), {}, nullptr, ok_get), std::invalid_argument);
    EXPECT_THROW(reg.add_real(sp::gain(), {}, ok_set, nullptr), std::invalid_argument);
    EXPECT_THROW(reg.add_button(debug_button, {}, nullptr), std::invalid_argument);
    // A real property under an integer descriptor would be listed as integer and misread.
    EXPECT_THROW(reg.add_real(sp::offset_x(), {}, ok_set, ok_get), std::invalid_argument);
    EXPECT_THROW(reg.add_property(nullptr), std::invalid_argument);
    EXPECT_TRUE(reg.get_property_list().empty());
    EXPECT_EQ(reg.get_property("Gain").error(), einval());

    reg.add_property(std::make_unique<property_handler::property_real>(sp::gain(), ok_set, ok_get,
                                                                       property_range{}));
    EXPECT_EQ(names_of(reg.get_property_list()), std::vector<std::string>{"Gain"});
}

// Properties keep a pointer to their descriptor, so registering a temporary one must not compile.
template <typename Desc>
concept registrable_as_real = requires(property_handler& h, Desc&& d)
{
    h.add_real(std::forward<Desc>(d), property_range{}, property_handler::real_setter{},
               property_handler::real_getter{});
};
static_assert(!registrable_as_real<property_desc>);
static_assert(registrable_as_real<const property_desc&>);
