#include "common/imx_exposure.h"

#include "property_ranges.h"
#include "standard_properties.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace korsa_cam::sensor {

std::shared_ptr<double> imx_exposure_register(property_handler& handler, exposure_apply apply,
                                              double min_seconds, double max_seconds,
                                              double default_seconds)
{
    // An empty apply would only fail at the first write, inside whatever thread asked.
    if (!apply)
    {
        throw std::invalid_argument("ExposureTime: empty apply function");
    }
    auto seconds = std::make_shared<double>(default_seconds);
    handler.add_real(
        standard_properties::exposure_time(),
        make_real_range(min_seconds * 1000000.0, max_seconds * 1000000.0,
                        default_seconds * 1000000.0, 1.0),
        [apply = std::move(apply), seconds](double us) -> std::error_code {
            if (std::isnan(us))
            {
                return std::make_error_code(std::errc::argument_out_of_domain);
            }
            *seconds = us * 1e-6;
            return apply(*seconds);
        },
        [seconds]() -> result<double> { return *seconds * 1000000.0; });
    return seconds;
}

} // namespace korsa_cam::sensor
