// "Gain", "BlackLevel" and "ExposureTime" of the IMX sensors: what their setters write and
// store, for in-range values and for the values nobody should send but someone will.

#include "common/imx_blacklevel.h"
#include "common/imx_exposure.h"
#include "common/imx_gain.h"
#include "null_sensor.h"
#include "property_handler.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using korsa_cam::prop_values;
using korsa_cam::sensor::imx_registers;
using linux_helper::i2c_com;
using sensor_test::bus;
using sensor_test::hold_register;
using sensor_test::sensor_address;
using test_support::wire;
using strings = std::vector<std::string>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

class registry final : public test_support::null_sensor_hardware, public korsa_cam::property_handler
{};

class ImxRegistrars : public sensor_test::board_test
{
protected:
    double get(const char* name)
    {
        auto v = props_.get_property(name);
        EXPECT_TRUE(v) << name;
        return v ? v.value().as_double() : -12345.0;
    }
    std::error_code set(const char* name, double v)
    {
        return props_.set_property(name, prop_values::from_double(v));
    }

    i2c_com i2c_{bus, sensor_address};
    imx_registers regs_{i2c_, hold_register, true};
    registry props_;
};

TEST_F(ImxRegistrars, GainWritesWholeStepsInsideItsOwnHold)
{
    korsa_cam::sensor::imx_gain_register(props_, regs_, 0x3014, 72.0, 0.3);
    EXPECT_EQ(korsa_sim_trace_size(), 0u); // registration writes nothing

    auto range = props_.get_property_range("Gain");
    ASSERT_TRUE(range);
    EXPECT_EQ(range.value().min.dbl, 0.0);
    EXPECT_EQ(range.value().max.dbl, 72.0);
    EXPECT_EQ(range.value().default_value.dbl, 0.0);
    EXPECT_EQ(range.value().step.dbl, 0.3);
    EXPECT_EQ(get("Gain"), 0.0);

    // The driver's own accessor has a hold open; the setter brackets its write all the same.
    regs_.push_reg_hold();
    korsa_sim_trace_clear();
    EXPECT_FALSE(set("Gain", 6.0));
    EXPECT_FALSE(set("Gain", 72.0));
    EXPECT_FALSE(set("Gain", 0.29)); // below one step
    EXPECT_EQ(wire(sensor_writes()),
              (strings{"[30 01 01]", "[30 14 14 00]", "[30 01 00]", "[30 01 01]", "[30 14 F0 00]",
                       "[30 01 00]", "[30 01 01]", "[30 14 00 00]", "[30 01 00]"}));
    EXPECT_EQ(get("Gain"), 0.29);
    regs_.pop_reg_hold();
}

TEST_F(ImxRegistrars, BlackLevelClampsStoresAndWrites)
{
    korsa_cam::sensor::imx_blacklevel_register(props_, regs_, 0x300A, 511, 240);
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
    EXPECT_EQ(get("BlackLevel"), 240.0);
    auto range = props_.get_property_range("BlackLevel");
    ASSERT_TRUE(range);
    EXPECT_EQ(range.value().max.dbl, 511.0);
    EXPECT_EQ(range.value().default_value.dbl, 240.0);
    EXPECT_EQ(range.value().step.dbl, 1.0);

    EXPECT_FALSE(set("BlackLevel", 600));
    EXPECT_EQ(get("BlackLevel"), 511.0);
    EXPECT_FALSE(set("BlackLevel", -5));
    EXPECT_EQ(get("BlackLevel"), 0.0);
    EXPECT_FALSE(set("BlackLevel", 60.7));
    EXPECT_EQ(get("BlackLevel"), 60.7);
    EXPECT_EQ(wire(test_support::without(sensor_writes(), hold_register)),
              (strings{"[30 0A FF 01]", "[30 0A 00 00]", "[30 0A 3C 00]"}));
}

TEST_F(ImxRegistrars, ExposureIsMicrosecondsOverSharedSeconds)
{
    std::vector<double> applied;
    auto seconds = korsa_cam::sensor::imx_exposure_register(
        props_,
        [&](double s) {
            applied.push_back(s);
            return std::error_code{};
        },
        0.0001, 1.0, 1.0 / 120);
    ASSERT_TRUE(seconds);
    EXPECT_EQ(*seconds, 1.0 / 120);
    EXPECT_TRUE(applied.empty()); // registration does not apply
    auto range = props_.get_property_range("ExposureTime");
    ASSERT_TRUE(range);
    EXPECT_DOUBLE_EQ(range.value().min.dbl, 100.0);
    EXPECT_DOUBLE_EQ(range.value().max.dbl, 1000000.0);
    EXPECT_DOUBLE_EQ(range.value().default_value.dbl, 1000000.0 / 120);

    EXPECT_FALSE(set("ExposureTime", 10000));
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0], 0.01);
    EXPECT_EQ(*seconds, 0.01);
    EXPECT_EQ(get("ExposureTime"), 10000.0);
    EXPECT_THROW(korsa_cam::sensor::imx_exposure_register(props_, {}, 0, 1, 0.5),
                 std::invalid_argument);
}

// Values outside every range: the registers get the nearest end, NaN is refused and leaves
// everything as it was. (Run under the sanitizers, an undefined conversion fails the test.)
TEST_F(ImxRegistrars, HugeInfiniteNegativeAndNanValuesStayDefined)
{
    korsa_cam::sensor::imx_gain_register(props_, regs_, 0x3014, 72.0, 0.3);
    korsa_cam::sensor::imx_blacklevel_register(props_, regs_, 0x300A, 511, 240);
    std::vector<double> applied;
    korsa_cam::sensor::imx_exposure_register(
        props_,
        [&](double s) {
            applied.push_back(s);
            return std::error_code{};
        },
        0.0001, 1.0, 0.01);

    for (double v : {1e300, inf})
    {
        EXPECT_FALSE(set("Gain", v));
        EXPECT_FALSE(set("BlackLevel", v));
    }
    for (double v : {-1.0, -1e300, -inf})
    {
        EXPECT_FALSE(set("Gain", v));
        EXPECT_FALSE(set("BlackLevel", v));
    }
    EXPECT_EQ(wire(test_support::without(sensor_writes(), hold_register)),
              (strings{"[30 14 FF FF]", "[30 0A FF 01]", "[30 14 FF FF]", "[30 0A FF 01]",
                       "[30 14 00 00]", "[30 0A 00 00]", "[30 14 00 00]", "[30 0A 00 00]",
                       "[30 14 00 00]", "[30 0A 00 00]"}));
    EXPECT_EQ(get("Gain"), -inf); // the gain keeps what was asked for, unclamped
    EXPECT_EQ(get("BlackLevel"), 0.0);

    EXPECT_FALSE(set("ExposureTime", inf));
    EXPECT_FALSE(set("ExposureTime", -5));
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0], inf);
    EXPECT_DOUBLE_EQ(applied[1], -5e-6);

    EXPECT_FALSE(set("Gain", 3.0));
    EXPECT_FALSE(set("BlackLevel", 100));
    EXPECT_FALSE(set("ExposureTime", 2000));
    korsa_sim_trace_clear();
    for (const char* name : {"Gain", "BlackLevel", "ExposureTime"})
    {
        EXPECT_EQ(set(name, nan), std::errc::argument_out_of_domain) << name;
        EXPECT_EQ(set(name, -nan), std::errc::argument_out_of_domain) << name;
    }
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
    EXPECT_EQ(applied.size(), 3u);
    EXPECT_EQ(get("Gain"), 3.0);
    EXPECT_EQ(get("BlackLevel"), 100.0);
    EXPECT_DOUBLE_EQ(get("ExposureTime"), 2000.0);
}

TEST_F(ImxRegistrars, BusErrorIsReturnedAndTheNewValueStaysStored)
{
    korsa_cam::sensor::imx_gain_register(props_, regs_, 0x3014, 72.0, 0.3);
    korsa_cam::sensor::imx_blacklevel_register(props_, regs_, 0x300A, 511, 240);
    korsa_sim_fail_address(bus, sensor_address, EREMOTEIO);
    EXPECT_EQ(set("Gain", 6.0), std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(set("BlackLevel", 700), std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(get("Gain"), 6.0);
    EXPECT_EQ(get("BlackLevel"), 511.0);
    korsa_sim_fail_address(bus, sensor_address, 0);

    // Only the data write counts: a failing hold write does not fail the setter.
    korsa_sim_fail_nth(1, EIO);
    EXPECT_FALSE(set("Gain", 1.5));
    EXPECT_EQ(chip_reg(0x3014), 5);
}

} // namespace
