#pragma once

// What a board description file states, and reading it from a GLib key file.

#include "chip.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korsa_sim {

struct chip_description
{
    std::string name; // the group name after "chip:"
    std::string type;
    int bus = 0;
    int address = 0;
    bool behind_serializer = false;
    register_presets registers;
    // Type specific.
    std::string product_id;   // product-eeprom
    int marker = 0xCC;        // product-eeprom
    int version = 1;          // id-eeprom
    std::string serial;       // id-eeprom
    std::string display_name; // id-eeprom
    std::string extra;        // id-eeprom
    unsigned size = 0;        // eeproms and memory chips, 0 = the type's default
    unsigned inputs = 0;      // expanders: level of the pins configured as inputs
    unsigned fail_reads = 0;  // reads that fail after power-up before the first success
    int fail_error = 0;       // every transaction fails with this errno (0 = none)
};

struct board_description
{
    std::string description;
    std::set<int> buses;
    std::set<std::pair<int, int>> busy; // addresses a kernel driver claims
    std::optional<std::string> kernel_release;
    std::optional<std::vector<uint8_t>> revision;
    bool gpiomem = true;
    bool devmem = true;
    bool gpio_mmap_fails = false;
    bool i2c0_needs_routing = false;
    std::optional<bool> root;
    std::vector<chip_description> chips;
};

// Parses the text of a board file. Returns nothing and sets error when it is malformed.
std::optional<board_description> parse_board_description(std::string_view text, std::string& error);

// The address a chip type sits at unless the file says otherwise; -1 when it must be given.
int default_address(std::string_view type);

} // namespace korsa_sim
