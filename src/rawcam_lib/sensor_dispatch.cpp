#include "sensor_dispatch.h"

#include "ar0234/ar0234_access.h"
#include "eeprom_access.h"
#include "imx290/imx290_access.h"
#include "imx296/imx296_access.h"
#include "imx335/imx335_access.h"
#include "imx390/imx390_access.h"
#include "log.h"
#include "pi_setup.h"
#include "rawcam_error.h"
#include "sensor_connection.h"

#include <array>
#include <exception>
#include <new>
#include <system_error>

namespace korsa_cam::sensor {
namespace {

std::unique_ptr<sensor_impl_itf> imx290(const driver_request& r)
{
    return create_imx290(r.bus, r.colour, r.pause);
}

std::unique_ptr<sensor_impl_itf> imx296(const driver_request& r)
{
    return create_imx296(r.bus, r.colour, r.pause);
}

std::unique_ptr<sensor_impl_itf> imx297(const driver_request& r)
{
    return create_imx297(r.bus, r.colour, r.pause);
}

std::unique_ptr<sensor_impl_itf> imx335(const driver_request& r)
{
    return create_imx335(r.bus, r.colour, r.pause);
}

std::unique_ptr<sensor_impl_itf> imx390(const driver_request& r)
{
    return create_imx390(r.bus, r.pause);
}

std::unique_ptr<sensor_impl_itf> ar0234(const driver_request& r)
{
    return create_ar0234(r.bus, r.colour, r.constraints, r.pause);
}

// The one place a driver is added. The IMX390 has no monochrome variant and ignores colour.
const std::array<driver_entry, 6>& drivers()
{
    static const std::array<driver_entry, 6> table = {{
        {"IMX390", imx390},
        {"IMX296", imx296},
        {"IMX297", imx297},
        {"IMX335", imx335},
        {"IMX290", imx290},
        {"AR0234", ar0234},
    }};
    return table;
}

std::unique_ptr<sensor_impl_itf> create_driver(std::span<const driver_entry> table,
                                               std::string_view model, const driver_request& req)
{
    for (const auto& entry : table)
    {
        if (entry.model == model)
        {
            return entry.create ? entry.create(req) : nullptr;
        }
    }
    return nullptr;
}

result<sensor_init_data> bring_up(const setup_parameter& parameter,
                                  std::span<const driver_entry> table,
                                  const linux_helper::sleeper& pause)
{
    const int bus =
        parameter.i2c_bus < 0 ? pi_setup::get_default_cam0_i2c_bus() : parameter.i2c_bus;

    auto connection = sensor_connection::detect_and_connect(bus, pause);
    if (!connection)
    {
        KLOG_ERROR("Failed to establish sensor/fpd-link connection via i2c bus");
        return connection.error();
    }

    std::string model = parameter.sensor_type;
    bool colour = false;
    if (auto info = read_third_party_eeprom_sensor_info(bus); !info)
    {
        KLOG_WARN("Failed to read 3rd party EEPROM, err={}.", info.error().message());
    }
    else
    {
        const auto& i = info.value();
        KLOG_DEBUG("EEPROM info, id='{}' filter-type='{}' sensor='{}' rev='{}'", i.id,
                   i.filter_type, i.sensor, i.revision);
        model = i.sensor;
        colour = i.filter_type == "F";
    }

    auto driver = create_driver(table, model, {bus, colour, *connection.value(), pause});
    if (!driver)
    {
        KLOG_ERROR("Unknown sensor '{}'", model);
        return make_error_code(status::unknown_sensor_type);
    }

    auto wrapped = connection.value()->enable_and_wrap_sensor(std::move(driver));
    if (!wrapped)
    {
        KLOG_WARN("Failed to enable and wrap sensor.\n");
        return wrapped.error();
    }

    sensor_init_data out;
    out.sensor = std::move(wrapped).value();
    out.serial = "DEADBEEF";
    out.name = "Unknown";
    if (auto id = read_qel_eeprom_info(bus); !id)
    {
        out.name = model;
        KLOG_WARN("Failed to read serial and display name from sensor EEPROM, err={}.",
                  id.error().message());
    }
    else
    {
        KLOG_DEBUG("Found QEL EEPROM, ver='{}'", id.value().version);
        out.name = id.value().name;
        out.serial = id.value().serial;
        KLOG_INFO("Device Display Name = '{}', Device Serial Number = '{}'", out.name, out.serial);
    }
    return out;
}

} // namespace

std::span<const driver_entry> driver_table()
{
    return drivers();
}

result<sensor_init_data> create_sensor_itf(const setup_parameter& parameter,
                                           linux_helper::sleeper pause)
{
    return create_sensor_itf(parameter, drivers(), std::move(pause));
}

result<sensor_init_data> create_sensor_itf(const setup_parameter& parameter,
                                           std::span<const driver_entry> table,
                                           linux_helper::sleeper pause)
{
    // Chips, readers and drivers report some bus failures by throwing; none of that may
    // leave the library's entry point, so it becomes the error the camera opening reports.
    try
    {
        return bring_up(parameter, table, pause);
    }
    catch (const std::system_error& e)
    {
        KLOG_ERROR("Sensor bring-up failed: {}", e.what());
        return e.code();
    }
    catch (const std::bad_alloc&)
    {
        KLOG_ERROR("Sensor bring-up failed: out of memory");
        return std::make_error_code(std::errc::not_enough_memory);
    }
    catch (const std::exception& e)
    {
        KLOG_ERROR("Sensor bring-up failed: {}", e.what());
        return std::make_error_code(std::errc::io_error);
    }
}

} // namespace korsa_cam::sensor
