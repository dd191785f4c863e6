#pragma once

// "ExposureTime": a real property in microseconds over an exposure kept in seconds.
//
//     auto exposure = imx_exposure_register(*this, [this](double s) { return apply(s); },
//                                           0.0001, 1.0, 1.0 / 120);
//     set_property("ExposureTime", 10000) -> *exposure = 0.01, apply(0.01)
//
// The returned shared double is the current exposure in seconds, starting at the default; the
// setter stores the new value there before calling apply and returns apply's result (the
// value stays stored when apply fails). The getter answers it in microseconds. NaN is refused
// with EDOM and changes nothing; any other value goes to apply, whose register arithmetic
// must clamp it. Registration does not call apply; an empty apply throws
// std::invalid_argument there, like every other registration mistake.

#include "property_handler.h"

#include <functional>
#include <memory>
#include <system_error>

namespace korsa_cam::sensor {

using exposure_apply = std::function<std::error_code(double seconds)>;

std::shared_ptr<double> imx_exposure_register(property_handler& handler, exposure_apply apply,
                                              double min_seconds, double max_seconds,
                                              double default_seconds);

} // namespace korsa_cam::sensor
