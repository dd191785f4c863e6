#include "eeprom_access.h"

#include "i2c_com.h"
#include "log.h"
#include "rawcam_error.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <span>

namespace korsa_cam::sensor {
namespace {

constexpr uint8_t product_marker_reg = 0x14;
constexpr uint8_t product_marker = 0xCC;
constexpr uint8_t product_id_reg = 0x15;
constexpr unsigned product_id_length = 29;

// Text up to the first zero byte, or the whole field.
std::string field_text(std::span<const uint8_t> field)
{
    std::string out;
    for (uint8_t b : field)
    {
        if (b == 0)
        {
            break;
        }
        out.push_back(static_cast<char>(b));
    }
    return out;
}

result<qel_eeprom_info>
read_qel_eeprom_struct(const std::array<uint8_t, identification_eeprom_size>& raw)
{
    if (raw[0] != 1 || raw[8] >= 0x80)
    {
        KLOG_ERROR("Invalid data in eeprom ver={} serial[0]=0x{:x}", static_cast<unsigned>(raw[0]),
                   static_cast<unsigned>(raw[8]));
        return make_error_code(status::eeprom_data_invalid);
    }
    const std::span<const uint8_t> bytes(raw);
    qel_eeprom_info info;
    info.version = raw[0];
    info.serial = field_text(bytes.subspan(8, 16));
    info.name = field_text(bytes.subspan(24, 32));
    info.extra = field_text(bytes.subspan(56, 32));
    return info;
}

} // namespace

std::vector<std::string> parse_product_id_string(std::string_view product_id)
{
    std::vector<std::string> fields(1);
    for (char c : product_id)
    {
        if (c == '-')
        {
            fields.emplace_back();
        }
        else
        {
            fields.back().push_back(c);
        }
    }
    return fields;
}

std::string product_id_text(const std::vector<uint8_t>& raw)
{
    std::string out;
    for (uint8_t b : raw)
    {
        if (std::isprint(b) == 0)
        {
            break;
        }
        out.push_back(static_cast<char>(b));
    }
    return out;
}

result<sensor_info> read_third_party_eeprom_sensor_info(int bus)
{
    linux_helper::i2c_com eeprom(bus, product_eeprom_address);
    if (!eeprom.present())
    {
        return make_error_code(status::i2c_device_not_found);
    }
    auto marker = eeprom.read8_reg(product_marker_reg);
    if (!marker)
    {
        throw std::system_error(marker.error(), "Failed to read the product-id EEPROM marker");
    }
    if (marker.value() != product_marker)
    {
        return make_error_code(status::eeprom_data_invalid);
    }
    auto raw = eeprom.read8_vec(product_id_reg, product_id_length);
    if (!raw)
    {
        return raw.error();
    }
    const std::string product_id = product_id_text(raw.value());
    const auto fields = parse_product_id_string(product_id);
    if (fields.size() < 4)
    {
        KLOG_ERROR("Invalid product id ('{}') found in third party eeprom", product_id);
        return make_error_code(status::eeprom_data_invalid);
    }
    if (fields[0] != "QEL" && fields[0] != "OEM")
    {
        KLOG_ERROR("Invalid Manufacturer in product id ('{}') found in thrird party eeprom",
                   product_id);
        return make_error_code(status::eeprom_data_invalid);
    }
    return sensor_info{fields[0], fields[1], fields[2], fields[3]};
}

result<qel_eeprom_info> read_qel_eeprom_info(int bus)
{
    linux_helper::i2c_com eeprom(bus, identification_eeprom_address);
    if (!eeprom.present())
    {
        return make_error_code(status::i2c_device_not_found);
    }
    std::array<uint8_t, identification_eeprom_size> raw{};
    for (std::size_t i = 0; i < raw.size(); ++i)
    {
        auto b = eeprom.read16_reg(static_cast<uint16_t>(i));
        if (!b)
        {
            return b.error();
        }
        raw[i] = b.value();
    }
    return read_qel_eeprom_struct(raw);
}

} // namespace korsa_cam::sensor
