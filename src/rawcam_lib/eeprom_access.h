#pragma once

// The two EEPROMs of a camera board, both on the sensor's bus:
//   - the product-id EEPROM (0x57, 8-bit register addresses): marker 0xCC at 0x14, then up to
//     29 characters of product id from 0x15, fields separated by '-', e.g. "QEL-F-IMX290-1"
//     (manufacturer, filter type, sensor model, revision);
//   - the identification EEPROM (0x50, 16-bit register addresses): 88 bytes from 0x0000,
//     layout version in byte 0 (must be 1), serial in bytes 8..23 (byte 8 below 0x80),
//     display name in 24..55, further text in 56..87; each text ends at its first zero byte.
//
// What throws: both readers throw std::system_error when the bus cannot be opened (the
// i2c_com constructor does); read_third_party_eeprom_sensor_info() also throws it, with the
// bus error, when reading the marker fails. Every other failure is a returned status. Both
// close their bus handle before returning.
//
//   auto info = read_third_party_eeprom_sensor_info(bus);
//   if (info && info.value().filter_type == "F") ...   // a colour sensor

#include "result.h"

#include <string>
#include <string_view>
#include <vector>

namespace korsa_cam::sensor {

struct sensor_info
{
    std::string id;          // manufacturer code: "QEL" or "OEM"
    std::string filter_type; // "F": colour (Bayer) filter; anything else: monochrome
    std::string sensor;      // model name, e.g. "IMX290"
    std::string revision;
};

struct qel_eeprom_info
{
    int version = 0;
    std::string serial;
    std::string name;
    std::string extra;
};

inline constexpr int product_eeprom_address = 0x57;
inline constexpr int identification_eeprom_address = 0x50;
inline constexpr std::size_t identification_eeprom_size = 88;

// Statuses: i2c_device_not_found, eeprom_data_invalid (wrong marker, fewer than four fields,
// unknown manufacturer), or the bus error of the product-id read.
result<sensor_info> read_third_party_eeprom_sensor_info(int bus);

// Statuses: i2c_device_not_found, eeprom_data_invalid, or the bus error of the first failing
// byte read.
result<qel_eeprom_info> read_qel_eeprom_info(int bus);

// Splits at every '-': "a--b" gives "a", "", "b"; a trailing '-' gives a trailing empty field.
std::vector<std::string> parse_product_id_string(std::string_view product_id);

// The leading printable characters of the raw product-id bytes.
std::string product_id_text(const std::vector<uint8_t>& raw);

} // namespace korsa_cam::sensor
