// A driver and a connection wrapper shaped like the real ones: the interface is a virtual
// base, the registry a non-public base. Whatever way the object is reached, it must have one
// set of property operations.

#include "chained_property_handler.h"
#include "property_ranges.h"
#include "standard_properties.h"
#include "test_sensors.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

using namespace korsa_cam;
using korsa_test::names_of;
using sensor::sensor_impl_itf;
namespace sp = korsa_cam::standard_properties;

namespace {

// The non-property operations come from the stub; the shape that matters is the direct
// virtual interface base next to a non-public registry.
class test_driver final : public virtual sensor_impl_itf,
                          public korsa_test::no_hardware_ops,
                          protected property_handler
{
public:
    test_driver()
    {
        add_real(
            sp::exposure_time(), make_real_range(10, 1e6, 33000, 1),
            [this](double v) { return (exposure_ = v), std::error_code{}; },
            [this]() -> result<double> { return exposure_; });
        add_menu(
            sp::trigger_mode(), make_menu_range(sp::trigger_mode(), 0),
            [this](int32_t v) { return (trigger_ = v), std::error_code{}; },
            [this]() -> result<int32_t> { return trigger_; });
    }

    property_handler& handler() { return *this; }
    sensor_config get_connection_config() override { return {1, 4}; }

private:
    double exposure_ = 33000;
    int32_t trigger_ = 0;
};

class test_wrapper final : public virtual sensor_impl_itf,
                           public korsa_test::no_hardware_ops,
                           private chained_property_handler
{
public:
    explicit test_wrapper(std::unique_ptr<sensor_impl_itf> s)
        : chained_property_handler(*s), sensor_(std::move(s))
    {
        add_menu(
            sp::trigger_source_direct(), make_menu_range(sp::trigger_source_direct(), 0),
            [](int32_t v) {
                return v == 0 ? std::error_code{}
                              : std::make_error_code(std::errc::result_out_of_range);
            },
            []() -> result<int32_t> { return 0; });
    }

    sensor_config get_connection_config() override { return sensor_->get_connection_config(); }

private:
    std::unique_ptr<sensor_impl_itf> sensor_;
};

} // namespace

TEST(PropertyClassTree, DriverAnswersAlikeAsSensorAndAsHandler)
{
    test_driver driver;
    sensor_impl_itf* as_sensor = &driver;
    property_handler& as_handler = driver.handler();

    // One interface sub-object, shared by the driver and its registry.
    EXPECT_EQ(static_cast<sensor_impl_itf*>(&as_handler), as_sensor);

    EXPECT_EQ(names_of(as_sensor->get_property_list()),
              (std::vector<std::string>{"ExposureTime", "TriggerMode"}));
    EXPECT_EQ(names_of(as_handler.get_property_list()), names_of(as_sensor->get_property_list()));

    EXPECT_FALSE(as_sensor->set_property("ExposureTime", prop_values::from_double(1234)));
    EXPECT_EQ(as_handler.get_property("ExposureTime").value().dbl, 1234.0);
    EXPECT_FALSE(as_handler.set_property("TriggerMode", prop_values::from_int(1)));
    EXPECT_EQ(as_sensor->get_property("TriggerMode").value().i64, 1);
    EXPECT_EQ(as_sensor->get_property_range("TriggerMode").value().max.i64,
              as_handler.get_property_range("TriggerMode").value().max.i64);
}

TEST(PropertyClassTree, WrapperInFrontOfDriverListsItsOwnFirstAndFallsThrough)
{
    std::unique_ptr<sensor_impl_itf> cam =
        std::make_unique<test_wrapper>(std::make_unique<test_driver>());

    EXPECT_EQ(names_of(cam->get_property_list()),
              (std::vector<std::string>{"TriggerSource", "ExposureTime", "TriggerMode"}));
    EXPECT_FALSE(cam->set_property("ExposureTime", prop_values::from_double(777)));
    EXPECT_EQ(cam->get_property("ExposureTime").value().dbl, 777.0);
    EXPECT_EQ(cam->get_property_range("ExposureTime").value().min.dbl, 10.0);

    EXPECT_EQ(cam->set_property("TriggerSource", prop_values::from_int(1)),
              std::make_error_code(std::errc::result_out_of_range));
    EXPECT_EQ(cam->get_property("TriggerSource").value().i64, 0);
    EXPECT_EQ(cam->get_connection_config().num_output_lanes, 4);
    // Destroyed through the interface: the wrapper, then the driver it owns (checked by ASan).
}
