#pragma once

// Builders for the property_range a property reports, one per value type, so that registrars
// state minimum, maximum, default and step in the property's own units instead of filling the
// untagged value cells by hand. Flags stay 0.

#include "camera_types.h"

#include <cstdint>

namespace korsa_cam {

inline property_range make_integer_range(int32_t min, int32_t max, int32_t default_value,
                                         int32_t step = 1) noexcept
{
    property_range r;
    r.min = prop_values::from_int(min);
    r.max = prop_values::from_int(max);
    r.default_value = prop_values::from_int(default_value);
    r.step = prop_values::from_int(step);
    return r;
}

inline property_range make_real_range(double min, double max, double default_value,
                                      double step) noexcept
{
    property_range r;
    r.min = prop_values::from_double(min);
    r.max = prop_values::from_double(max);
    r.default_value = prop_values::from_double(default_value);
    r.step = prop_values::from_double(step);
    return r;
}

// 0 to 1 in steps of 1.
inline property_range make_boolean_range(bool default_value) noexcept
{
    return make_integer_range(0, 1, default_value ? 1 : 0, 1);
}

// Indexes 0 to the last entry of the descriptor's menu, in steps of 1.
inline property_range make_menu_range(const property_desc& desc, int32_t default_index) noexcept
{
    const auto entries = static_cast<int32_t>(desc.menu_entries.size());
    return make_integer_range(0, entries > 0 ? entries - 1 : 0, default_index, 1);
}

} // namespace korsa_cam
