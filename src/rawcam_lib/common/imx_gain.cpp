#include "common/imx_gain.h"

#include "common/saturating_cast.h"
#include "property_ranges.h"
#include "standard_properties.h"

#include <cmath>
#include <memory>

namespace korsa_cam::sensor {

void imx_gain_register(property_handler& handler, imx_registers& regs, uint16_t gain_register,
                       double max_gain_db, double db_per_step)
{
    auto value = std::make_shared<double>(0.0);
    handler.add_real(
        standard_properties::gain(), make_real_range(0.0, max_gain_db, 0.0, db_per_step),
        [regs, gain_register, db_per_step, value](double db) mutable -> std::error_code {
            if (std::isnan(db))
            {
                return std::make_error_code(std::errc::argument_out_of_domain);
            }
            *value = db;
            return regs.write_u16(gain_register, saturating_cast<uint16_t>(db / db_per_step));
        },
        [value]() -> result<double> { return *value; });
}

} // namespace korsa_cam::sensor
