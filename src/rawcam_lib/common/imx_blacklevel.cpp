#include "common/imx_blacklevel.h"

#include "common/saturating_cast.h"
#include "property_ranges.h"
#include "standard_properties.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace korsa_cam::sensor {

void imx_blacklevel_register(property_handler& handler, imx_registers& regs,
                             uint16_t blacklevel_register, uint16_t maximum, uint16_t default_value)
{
    auto value = std::make_shared<double>(default_value);
    handler.add_real(
        standard_properties::black_level(), make_real_range(0.0, maximum, default_value, 1.0),
        [regs, blacklevel_register, maximum, value](double level) mutable -> std::error_code {
            if (std::isnan(level))
            {
                return std::make_error_code(std::errc::argument_out_of_domain);
            }
            *value = std::clamp(level, 0.0, static_cast<double>(maximum));
            return regs.write_u16(blacklevel_register, saturating_cast<uint16_t>(*value));
        },
        [value]() -> result<double> { return *value; });
}

} // namespace korsa_cam::sensor
