#include "board_description.h"

#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace korsa_sim {
namespace {

struct key_file_deleter
{
    void operator()(GKeyFile* kf) const { g_key_file_free(kf); }
};
struct gfree_deleter
{
    void operator()(gchar* p) const { g_free(p); }
};
struct strv_deleter
{
    void operator()(gchar** p) const { g_strfreev(p); }
};

using key_file_ptr = std::unique_ptr<GKeyFile, key_file_deleter>;
using gstring_ptr = std::unique_ptr<gchar, gfree_deleter>;
using strv_ptr = std::unique_ptr<gchar*, strv_deleter>;

class bad_board : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

long parse_number(const std::string& text, const std::string& what, long min, long max)
{
    const std::string t(g_strstrip(gstring_ptr(g_strdup(text.c_str())).get()));
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(t.c_str(), &end, 0);
    if (t.empty() || errno != 0 || end == nullptr || *end != '\0' || v < min || v > max)
    {
        throw bad_board(what + ": '" + text + "' is not a number in range");
    }
    return v;
}

class group_reader
{
public:
    group_reader(GKeyFile* kf, std::string group) : kf_(kf), group_(std::move(group)) {}

    bool has(const char* key) const
    {
        return g_key_file_has_key(kf_, group_.c_str(), key, nullptr) != FALSE;
    }

    std::optional<std::string> string(const char* key) const
    {
        if (!has(key))
        {
            return std::nullopt;
        }
        gstring_ptr v(g_key_file_get_string(kf_, group_.c_str(), key, nullptr));
        return std::string(v ? v.get() : "");
    }

    long number(const char* key, long fallback, long min, long max) const
    {
        const auto s = string(key);
        return s ? parse_number(*s, where(key), min, max) : fallback;
    }

    bool boolean(const char* key, bool fallback) const
    {
        if (!has(key))
        {
            return fallback;
        }
        GError* err = nullptr;
        const gboolean v = g_key_file_get_boolean(kf_, group_.c_str(), key, &err);
        if (err != nullptr)
        {
            g_error_free(err);
            throw bad_board(where(key) + ": expected true or false");
        }
        return v != FALSE;
    }

    std::vector<std::string> list(const char* key) const
    {
        std::vector<std::string> out;
        if (!has(key))
        {
            return out;
        }
        gsize n = 0;
        strv_ptr v(g_key_file_get_string_list(kf_, group_.c_str(), key, &n, nullptr));
        for (gsize i = 0; v && i < n; ++i)
        {
            std::string item(g_strstrip(v.get()[i]));
            if (!item.empty())
            {
                out.push_back(item);
            }
        }
        return out;
    }

    std::string where(const char* key) const { return "[" + group_ + "] " + key; }

private:
    GKeyFile* kf_;
    std::string group_;
};

std::vector<uint8_t> parse_hex_bytes(const std::string& text, const std::string& what)
{
    std::string digits;
    for (char c : text)
    {
        if (g_ascii_isxdigit(c))
        {
            digits.push_back(c);
        }
        else if (c != ' ' && c != ':')
        {
            throw bad_board(what + ": only hex digits allowed");
        }
    }
    if (digits.size() % 2 != 0)
    {
        throw bad_board(what + ": odd number of hex digits");
    }
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        out.push_back(static_cast<uint8_t>((g_ascii_xdigit_value(digits[i]) << 4) |
                                           g_ascii_xdigit_value(digits[i + 1])));
    }
    return out;
}

register_presets parse_presets(const group_reader& g)
{
    register_presets out;
    for (const auto& item : g.list("registers"))
    {
        const auto eq = item.find('=');
        if (eq == std::string::npos)
        {
            throw bad_board(g.where("registers") + ": expected register=value, got '" + item + "'");
        }
        const long reg = parse_number(item.substr(0, eq), g.where("registers"), 0, 0xFFFF);
        const long val = parse_number(item.substr(eq + 1), g.where("registers"), 0, 0xFF);
        out.emplace_back(static_cast<unsigned>(reg), static_cast<uint8_t>(val));
    }
    return out;
}

chip_description parse_chip(const group_reader& g, std::string name)
{
    chip_description c;
    c.name = std::move(name);
    const auto type = g.string("type");
    if (!type)
    {
        throw bad_board(g.where("type") + " is missing");
    }
    c.type = *type;
    const int def = default_address(c.type);
    if (def == -2)
    {
        throw bad_board(g.where("type") + ": unknown chip type '" + c.type + "'");
    }
    if (!g.has("bus"))
    {
        throw bad_board(g.where("bus") + " is missing");
    }
    c.bus = static_cast<int>(g.number("bus", 0, 0, 1023));
    if (def < 0 && !g.has("address"))
    {
        throw bad_board(g.where("address") + " is missing");
    }
    c.address = static_cast<int>(g.number("address", def, 0x03, 0x77));
    c.behind_serializer = g.boolean("behind_serializer", false);
    c.registers = parse_presets(g);
    c.product_id = g.string("product_id").value_or("");
    c.marker = static_cast<int>(g.number("marker", 0xCC, 0, 0xFF));
    c.version = static_cast<int>(g.number("version", 1, 0, 0xFF));
    c.serial = g.string("serial").value_or("");
    c.display_name = g.string("name").value_or("");
    c.extra = g.string("extra").value_or("");
    c.size = static_cast<unsigned>(g.number("size", 0, 0, 0x10000));
    c.inputs = static_cast<unsigned>(g.number("inputs", 0, 0, 0xFF));
    c.fail_reads = static_cast<unsigned>(g.number("fail_reads", 0, 0, 1000000));
    c.fail_error = static_cast<int>(g.number("fail_error", 0, 0, 4095));
    return c;
}

board_description parse(GKeyFile* kf)
{
    board_description d;
    group_reader board(kf, "board");
    d.description = board.string("description").value_or("");
    for (const auto& b : board.list("buses"))
    {
        d.buses.insert(static_cast<int>(parse_number(b, board.where("buses"), 0, 1023)));
    }
    for (const auto& item : board.list("busy"))
    {
        const auto colon = item.find(':');
        if (colon == std::string::npos)
        {
            throw bad_board(board.where("busy") + ": expected bus:address, got '" + item + "'");
        }
        d.busy.emplace(
            static_cast<int>(parse_number(item.substr(0, colon), board.where("busy"), 0, 1023)),
            static_cast<int>(parse_number(item.substr(colon + 1), board.where("busy"), 0, 0x7F)));
    }

    group_reader pi(kf, "pi");
    d.kernel_release = pi.string("kernel_release");
    if (d.kernel_release && d.kernel_release->size() > 64)
    {
        throw bad_board(pi.where("kernel_release") + ": longer than 64 characters");
    }
    if (const auto rev = pi.string("revision"))
    {
        d.revision = parse_hex_bytes(*rev, pi.where("revision"));
    }
    d.gpiomem = pi.boolean("gpiomem", true);
    d.devmem = pi.boolean("devmem", true);
    d.gpio_mmap_fails = pi.boolean("gpio_mmap_fails", false);
    d.i2c0_needs_routing = pi.boolean("i2c0_needs_routing", false);
    if (pi.has("root"))
    {
        d.root = pi.boolean("root", false);
    }

    gsize n = 0;
    strv_ptr groups(g_key_file_get_groups(kf, &n));
    for (gsize i = 0; groups && i < n; ++i)
    {
        const std::string group = groups.get()[i];
        if (group.rfind("chip:", 0) == 0)
        {
            d.chips.push_back(parse_chip(group_reader(kf, group), group.substr(5)));
            d.buses.insert(d.chips.back().bus);
        }
        else if (group != "board" && group != "pi")
        {
            throw bad_board("unknown group [" + group + "]");
        }
    }
    for (std::size_t i = 0; i < d.chips.size(); ++i)
    {
        for (std::size_t j = i + 1; j < d.chips.size(); ++j)
        {
            const auto& a = d.chips[i];
            const auto& b = d.chips[j];
            if (a.bus == b.bus && a.address == b.address && a.type != "fpd-serializer" &&
                b.type != "fpd-serializer")
            {
                throw bad_board("chips '" + a.name + "' and '" + b.name + "' share an address");
            }
        }
    }
    return d;
}

} // namespace

int default_address(std::string_view type)
{
    if (type == "product-eeprom")
        return 0x57;
    if (type == "id-eeprom")
        return 0x50;
    if (type == "imx290" || type == "imx296" || type == "imx297" || type == "imx335")
        return 0x1A;
    if (type == "imx390")
        return 0x21;
    if (type == "ar0234")
        return 0x10;
    if (type == "si5356a")
        return 0x70;
    if (type == "tca7408")
        return 0x43;
    if (type == "tca6408")
        return 0x20;
    if (type == "fpd-deserializer")
        return 0x30;
    if (type == "fpd-serializer")
        return 0x31;
    if (type == "memory8" || type == "memory16")
        return -1;
    return -2;
}

std::optional<board_description> parse_board_description(std::string_view text, std::string& error)
{
    key_file_ptr kf(g_key_file_new());
    GError* err = nullptr;
    if (!g_key_file_load_from_data(kf.get(), text.data(), text.size(), G_KEY_FILE_NONE, &err))
    {
        error = err != nullptr ? err->message : "unreadable key file";
        if (err != nullptr)
        {
            g_error_free(err);
        }
        return std::nullopt;
    }
    try
    {
        return parse(kf.get());
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return std::nullopt;
    }
}

} // namespace korsa_sim
