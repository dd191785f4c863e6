#pragma once

// A property registry placed in front of another sensor.
//
// Connection wrappers add a few properties of their own (for example "TriggerSource") and let
// the wrapped sensor answer everything else:
//
//     class direct_connected_sensor : public virtual sensor::sensor_impl_itf,
//                                     private chained_property_handler
//     {
//     public:
//         explicit direct_connected_sensor(std::unique_ptr<sensor::sensor_impl_itf> s)
//             : chained_property_handler(*s), sensor_(std::move(s))
//         { add_menu(standard_properties::trigger_source_direct(), ...); }
//     private:
//         std::unique_ptr<sensor::sensor_impl_itf> sensor_;
//     };
//
// The handler only refers to the next provider; the wrapper owns it and must keep it alive as
// long as property calls can arrive (a member of the wrapper does, as above).
//
// The list is the own properties in registration order followed by the next provider's whole
// list; names present in both are listed twice. A range, get or set call is answered by the
// own registry first; when that answer is an error whose value is 22 (whatever its category)
// the same call is passed on and the next provider's answer returned. Any other answer,
// success or error, is returned as it is. Because the test is on the value alone, an own
// property whose function fails with 22 also defers to the next provider.

#include "property_handler.h"

#include <string_view>
#include <system_error>
#include <vector>

namespace korsa_cam {

class chained_property_handler : public property_handler
{
public:
    explicit chained_property_handler(sensor::sensor_impl_itf& next) noexcept : next_(next) {}

    std::vector<property_desc> get_property_list() override;
    result<property_range> get_property_range(std::string_view name) override;
    result<prop_values> get_property(std::string_view name) override;
    std::error_code set_property(std::string_view name, prop_values value) override;

private:
    sensor::sensor_impl_itf& next_;
};

} // namespace korsa_cam
