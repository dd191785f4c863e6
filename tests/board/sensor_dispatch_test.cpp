// Sensor detection end to end on the simulated boards: connection, product id, driver
// choice, wrapping, identification, every message, and bring-ups with each bus transaction
// failing in turn.

#include "bringup_test_support.h"
#include "eeprom_access.h"
#include "imx290/imx290_access.h"
#include "rawcam_error.h"
#include "sensor_connection.h"
#include "sensor_dispatch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using board_test::log_capture;
using board_test::shipped_board;
using board_test::text_board;
using bringup_test::board_text;
using bringup_test::chip;
using korsa_cam::setup_parameter;
using korsa_cam::status;
using namespace korsa_cam::sensor;

// What a driver creation call was asked for.
struct request_seen
{
    std::string model;
    int bus;
    bool colour;
    int max_lanes;
    bool pause_is_real;
};

// A driver table naming all six models whose drivers are doubles with "TriggerMode".
class double_table
{
public:
    double_table()
    {
        for (const auto& e : driver_table())
        {
            const std::string model(e.model);
            entries_.push_back({e.model, [this, model](const driver_request& r) {
                                    seen.push_back({model, r.bus, r.colour,
                                                    r.constraints.max_lanes(), r.pause.is_real()});
                                    if (fail_with)
                                    {
                                        fail_with();
                                    }
                                    return std::make_unique<bringup_test::trigger_driver>(
                                        korsa_cam::sensor_config{clock, 2});
                                }});
        }
    }
    std::span<const driver_entry> table() const { return entries_; }

    std::vector<request_seen> seen;
    int clock = 1;
    std::function<void()> fail_with;

private:
    std::vector<driver_entry> entries_;
};

class Detection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board_test::require_simulator();
        korsa_sim_set_euid(-1);
    }

    korsa_cam::result<sensor_init_data> run(const setup_parameter& p = {})
    {
        return create_sensor_itf(p, drivers.table(), rec.get());
    }

    double_table drivers;
    test_support::recording_sleeper rec = bringup_test::trace_sleeper();
};

// Key values of a shipped board file.
struct board_facts
{
    std::string product_id;
    std::string serial;
    std::string name;
    bool fpd_link = false;
};

board_facts facts_of(const std::string& path)
{
    board_facts f;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
    {
        auto value = [&](const std::string& key) -> std::string {
            return line.rfind(key, 0) == 0 ? line.substr(key.size()) : std::string();
        };
        if (auto v = value("product_id="); !v.empty())
            f.product_id = v;
        if (auto v = value("serial="); !v.empty())
            f.serial = v;
        if (auto v = value("name="); !v.empty())
            f.name = v;
        f.fpd_link = f.fpd_link || line == "type=fpd-deserializer";
    }
    return f;
}

std::vector<std::string> shipped_boards()
{
    std::vector<std::string> out;
    const auto dir = std::filesystem::path(shipped_board("x")).parent_path();
    for (const auto& e : std::filesystem::directory_iterator(dir))
    {
        if (e.path().extension() == ".board")
        {
            out.push_back(e.path().string());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool has_property(korsa_cam::sensor::sensor_impl_itf& s, const std::string& name)
{
    const auto list = s.get_property_list();
    return std::any_of(list.begin(), list.end(),
                       [&](const korsa_cam::property_desc& d) { return d.name == name; });
}

TEST_F(Detection, DefaultTableNamesTheSixModelsInOrder)
{
    std::vector<std::string> names;
    for (const auto& e : driver_table())
    {
        names.emplace_back(e.model);
        EXPECT_TRUE(static_cast<bool>(e.create));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"IMX390", "IMX296", "IMX297", "IMX335", "IMX290",
                                               "AR0234"}));
    // A model the library does not know ends the same way through the real table.
    text_board board(board_text(chip("clock", "type=si5356a") +
                                chip("pid", "type=product-eeprom\nproduct_id=QEL-F-IMX999-1")));
    ASSERT_TRUE(board.ok());
    log_capture logs;
    auto r = create_sensor_itf({}, rec.get());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), make_error_code(status::unknown_sensor_type));
    EXPECT_TRUE(logs.has(spdlog::level::err, "Unknown sensor 'IMX999'"));
}

TEST_F(Detection, EveryShippedBoardIsIdentifiedAndWrapped)
{
    const auto boards = shipped_boards();
    ASSERT_GE(boards.size(), 13u);
    for (const auto& path : boards)
    {
        SCOPED_TRACE(path);
        const auto f = facts_of(path);
        ASSERT_EQ(korsa_sim_load_board(path.c_str()), 0);
        drivers.seen.clear();
        const int open_before = korsa_sim_open_i2c_count();
        {
            auto r = run();
            ASSERT_TRUE(r) << r.error().message();
            const auto fields = parse_product_id_string(f.product_id);
            ASSERT_EQ(drivers.seen.size(), 1u);
            EXPECT_EQ(drivers.seen[0].model, fields[2]);
            EXPECT_EQ(drivers.seen[0].colour, fields[1] == "F");
            EXPECT_EQ(drivers.seen[0].max_lanes, f.fpd_link ? 4 : 2);
            EXPECT_FALSE(drivers.seen[0].pause_is_real);
            EXPECT_EQ(r.value().serial, f.serial);
            EXPECT_EQ(r.value().name, f.name);
            EXPECT_EQ(r.value().identifier, "");
            ASSERT_TRUE(r.value().sensor);
            EXPECT_TRUE(has_property(*r.value().sensor, "TriggerSource"));
            EXPECT_TRUE(r.value().sensor->test_reachable());
            // The wrapper keeps the expander's connection open, nothing else stays open.
            EXPECT_EQ(korsa_sim_open_i2c_count(), open_before + 1);
        }
        EXPECT_EQ(korsa_sim_open_i2c_count(), open_before);
    }
}

TEST_F(Detection, MessagesOfASuccessfulBringUp)
{
    log_capture logs;
    auto r = run();
    ASSERT_TRUE(r);
    EXPECT_TRUE(logs.has(spdlog::level::debug,
                         "EEPROM info, id='QEL' filter-type='F' sensor='IMX290' rev='1'"));
    EXPECT_TRUE(logs.has(spdlog::level::debug, "Found QEL EEPROM, ver='1'"));
    EXPECT_TRUE(logs.has(spdlog::level::info, "Device Display Name = 'IMX290 Direct Camera', "
                                              "Device Serial Number = '40110000'"));
    EXPECT_TRUE(logs.at_level(spdlog::level::warn).empty());
    EXPECT_TRUE(logs.at_level(spdlog::level::err).empty());
    EXPECT_EQ(drivers.seen[0].bus, 10); // the default bus of a current kernel
    // Mandated pauses of a direct board: clock settle twice, board I/O twice.
    EXPECT_EQ(bringup_test::pause_ms(rec), (std::vector<long>{100, 100, 10, 10}));
}

TEST_F(Detection, ProductIdDecidesModelAndColour)
{
    struct expect
    {
        std::string product_id;
        std::string parameter_model;
        std::string model;
        bool colour;
    };
    const expect cases[] = {
        {"QEL-F-IMX290-2", "", "IMX290", true},
        {"QEL-M-IMX290-2", "", "IMX290", false},
        {"OEM-F-IMX335-1", "", "IMX335", true},
        {"QEL-F-AR0234-1", "IMX390", "AR0234", true}, // the EEPROM wins over the parameter
        {"ABC-F-IMX335-1", "IMX296", "IMX296", false},
        {"QEL-F-IMX290", "IMX297", "IMX297", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.product_id);
        text_board board(board_text(chip("clock", "type=si5356a") + chip("gpio", "type=tca7408") +
                                    chip("pid", "type=product-eeprom\nproduct_id=" + c.product_id) +
                                    chip("id", "type=id-eeprom\nserial=S1\nname=Board")));
        ASSERT_TRUE(board.ok());
        drivers.seen.clear();
        log_capture logs;
        auto r = run({10, c.parameter_model});
        ASSERT_TRUE(r) << r.error().message();
        ASSERT_EQ(drivers.seen.size(), 1u);
        EXPECT_EQ(drivers.seen[0].model, c.model);
        EXPECT_EQ(drivers.seen[0].colour, c.colour);
        const bool eeprom_ok = c.model != c.parameter_model;
        EXPECT_EQ(logs.lines_starting_with("Failed to read 3rd party EEPROM, err=").size(),
                  eeprom_ok ? 0u : 1u);
        if (!eeprom_ok)
        {
            EXPECT_TRUE(logs.has(spdlog::level::warn,
                                 "Failed to read 3rd party EEPROM, err=Invalid data present in "
                                 "sensor EEPROM."));
        }
    }
}

TEST_F(Detection, UnknownModelsAndDriversThatFail)
{
    text_board board(board_text(chip("clock", "type=si5356a") + chip("gpio", "type=tca7408")));
    ASSERT_TRUE(board.ok());
    for (const std::string model : {"", "imx290", "IMX290 ", "Imx290"})
    {
        SCOPED_TRACE(model);
        log_capture logs;
        auto r = run({10, model});
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), make_error_code(status::unknown_sensor_type));
        EXPECT_TRUE(logs.has(spdlog::level::err, "Unknown sensor '" + model + "'"));
        EXPECT_TRUE(logs.has(spdlog::level::warn, "Failed to read 3rd party EEPROM, err=Failed "
                                                  "to find i2c device at address."));
    }
    EXPECT_TRUE(drivers.seen.empty());
    // With no EEPROM, the parameter's model is used, monochrome.
    auto r = run({10, "IMX290"});
    ASSERT_TRUE(r);
    EXPECT_FALSE(drivers.seen.back().colour);
    EXPECT_EQ(r.value().serial, "DEADBEEF");
    EXPECT_EQ(r.value().name, "IMX290");

    // A creation function that gives nothing.
    std::vector<driver_entry> empty_driver = {
        {"IMX290", [](const driver_request&) { return std::unique_ptr<sensor_impl_itf>(); }}};
    r = create_sensor_itf({10, "IMX290"}, empty_driver, rec.get());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), make_error_code(status::unknown_sensor_type));
}

TEST_F(Detection, IdentificationProblemsOnlyCostSerialAndName)
{
    for (const std::string keys : {"version=2\nserial=40110000\nname=Named", ""})
    {
        SCOPED_TRACE(keys);
        const std::string id = keys.empty() ? "" : chip("id", "type=id-eeprom\n" + keys);
        text_board board(board_text(chip("clock", "type=si5356a") + chip("gpio", "type=tca7408") +
                                    chip("pid", "type=product-eeprom\nproduct_id=QEL-F-IMX335-1") +
                                    id));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto r = run();
        ASSERT_TRUE(r);
        EXPECT_EQ(r.value().serial, "DEADBEEF");
        EXPECT_EQ(r.value().name, "IMX335");
        EXPECT_EQ(r.value().identifier, "");
        const std::string reason = keys.empty() ? "Failed to find i2c device at address"
                                                : "Invalid data present in sensor EEPROM";
        EXPECT_TRUE(logs.has(
            spdlog::level::warn,
            "Failed to read serial and display name from sensor EEPROM, err=" + reason + "."));
    }
}

TEST_F(Detection, ConnectionAndEnableFailuresEndTheBringUp)
{
    {
        text_board board(board_text(chip("pid", "type=product-eeprom\nproduct_id=QEL-F-IMX335-1")));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto r = run();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), make_error_code(status::no_device_on_i2c_bus));
        EXPECT_TRUE(logs.has(spdlog::level::err,
                             "Failed to establish sensor/fpd-link connection via i2c bus"));
        EXPECT_TRUE(drivers.seen.empty());
    }
    {
        // No expander: the driver is created, then the wrapping fails.
        text_board board(board_text(chip("clock", "type=si5356a") +
                                    chip("pid", "type=product-eeprom\nproduct_id=QEL-F-IMX335-1")));
        ASSERT_TRUE(board.ok());
        log_capture logs;
        auto r = run();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), make_error_code(status::gpio_chip_unidentified));
        EXPECT_TRUE(logs.has(spdlog::level::warn, "Failed to enable and wrap sensor.\n"));
        EXPECT_EQ(drivers.seen.size(), 1u);
    }
}

TEST_F(Detection, ExceptionsBecomeErrorCodesAtTheEntryPoint)
{
    const int open_before = korsa_sim_open_i2c_count();
    log_capture logs;
    // A bus that does not exist.
    auto r = run({3, ""});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), make_error_code(status::i2c_bus_open_failed));

    // A failing product-id marker read: find its transaction in a good run, then fail it.
    ASSERT_TRUE(run());
    unsigned long marker = 0;
    for (const auto& x : korsa_sim::trace())
    {
        if (x.address == 0x57 && x.read && !x.smbus)
        {
            marker = x.transaction;
            break;
        }
    }
    ASSERT_NE(marker, 0u);
    korsa_sim_reset();
    korsa_sim_fail_nth(marker, EIO);
    r = run();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EIO, std::generic_category()));

    // FPD-Link clock programming on a serializer that stops answering writes.
    ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-fpdlink.board").c_str()), 0);
    ASSERT_TRUE(run());
    unsigned long clock_write = 0;
    for (const auto& x : korsa_sim::trace())
    {
        if (x.address == 0x31 && !x.read && x.data.size() == 2 && x.data[0] == 0x06)
        {
            clock_write = x.transaction;
        }
    }
    ASSERT_NE(clock_write, 0u);
    korsa_sim_reset();
    korsa_sim_fail_nth(clock_write, EREMOTEIO);
    r = run();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EREMOTEIO, std::generic_category()));

    // A driver constructor that throws something else.
    drivers.fail_with = [] { throw std::runtime_error("sensor did not answer"); };
    logs.clear();
    r = run();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::make_error_code(std::errc::io_error));
    EXPECT_TRUE(logs.has(spdlog::level::err, "Sensor bring-up failed: sensor did not answer"));
    EXPECT_EQ(korsa_sim_open_i2c_count(), open_before);
}

// What the failed bus transaction number n hit.
struct failed_access
{
    int address = -1;
    int reg = -1; // register written, or the register whose address write preceded the read
    bool found = false;
};

failed_access failure_at(unsigned long n)
{
    failed_access f;
    const auto t = korsa_sim::trace();
    for (std::size_t i = 0; i < t.size(); ++i)
    {
        if (t[i].transaction != n)
        {
            continue;
        }
        f.found = t[i].error != 0;
        f.address = t[i].address;
        if (!t[i].read && !t[i].data.empty())
        {
            f.reg = t[i].data[0];
        }
        else if (t[i].read && !t[i].smbus && i > 0 && t[i - 1].address == t[i].address &&
                 !t[i - 1].data.empty())
        {
            f.reg = t[i - 1].data[0];
        }
        break;
    }
    return f;
}

// Transactions that fail in a good bring-up too: probes of chips the board does not carry.
std::set<unsigned long> failing_anyway()
{
    std::set<unsigned long> out;
    for (const auto& x : korsa_sim::trace())
    {
        if (x.error != 0)
        {
            out.insert(x.transaction);
        }
    }
    return out;
}

// A failed transaction may still end in success in three documented ways: a probe that fails
// anyway, the identification EEPROM (serial "DEADBEEF", model name as display name), and the
// clock generator's unchecked framing writes (230, 241, 246, 226).
void check_outcome(const korsa_cam::result<sensor_init_data>& r, const failed_access& f,
                   bool fails_anyway, const std::string& model)
{
    ASSERT_TRUE(f.found) << "the injected failure must be on the trace";
    if (!r)
    {
        EXPECT_NE(r.error().value(), 0);
        return;
    }
    if (fails_anyway)
    {
        EXPECT_NE(r.value().serial, "DEADBEEF");
        return;
    }
    if (f.address == 0x50)
    {
        EXPECT_EQ(r.value().serial, "DEADBEEF");
        EXPECT_EQ(r.value().name, model);
        return;
    }
    const bool framing =
        f.address == 0x70 && (f.reg == 230 || f.reg == 241 || f.reg == 246 || f.reg == 226);
    EXPECT_TRUE(framing) << "success although the transaction to 0x" << std::hex << f.address
                         << " (register " << std::dec << f.reg << ") failed";
    EXPECT_NE(r.value().serial, "DEADBEEF");
}

// Runs a good bring-up to count its transactions, then one bring-up per transaction with
// exactly that one failing.
void sweep_every_transaction(const std::string& board,
                             const std::function<korsa_cam::result<sensor_init_data>()>& run)
{
    ASSERT_EQ(korsa_sim_load_board(shipped_board(board).c_str()), 0);
    const int open_before = korsa_sim_open_i2c_count();
    {
        auto good = run();
        ASSERT_TRUE(good) << good.error().message();
    }
    ASSERT_EQ(korsa_sim_trace_dropped(), 0u);
    const std::size_t count = bringup_test::transaction_count();
    const auto anyway = failing_anyway();
    ASSERT_GT(count, 200u);
    for (unsigned long n = 1; n <= count; ++n)
    {
        SCOPED_TRACE("transaction " + std::to_string(n) + " of " + std::to_string(count));
        korsa_sim_reset();
        korsa_sim_fail_nth(n, n % 2 == 0 ? EREMOTEIO : EIO);
        log_capture quiet;
        korsa_cam::result<sensor_init_data> r = std::make_error_code(std::errc::io_error);
        EXPECT_NO_THROW(r = run());
        check_outcome(r, failure_at(n), anyway.count(n) != 0, "IMX290");
        r = std::make_error_code(std::errc::io_error); // releases the sensor
        EXPECT_EQ(korsa_sim_open_i2c_count(), open_before);
    }
}

TEST_F(Detection, EachFailingTransactionOfADirectBringUp)
{
    sweep_every_transaction("imx290-direct.board", [this] { return run(); });
}

TEST_F(Detection, EachFailingTransactionOfAnFpdLinkBringUp)
{
    sweep_every_transaction("imx290-fpdlink.board", [this] { return run(); });
}

TEST_F(Detection, RandomEepromContentsThroughTheEntryPoint)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i)
    {
        SCOPED_TRACE(i);
        korsa_sim_reset();
        std::vector<uint8_t> product(64);
        std::vector<uint8_t> ident(88);
        for (auto& b : product)
            b = static_cast<uint8_t>(rng());
        for (auto& b : ident)
            b = static_cast<uint8_t>(rng());
        product[0x14] = 0xCC;
        ident[0] = i % 2 == 0 ? 1 : ident[0];
        ident[8] &= 0x7F;
        korsa_sim_reg_write(10, 0x57, 0, product.data(), product.size());
        korsa_sim_reg_write(10, 0x50, 0, ident.data(), ident.size());
        log_capture quiet;
        korsa_cam::result<sensor_init_data> r = std::make_error_code(std::errc::io_error);
        EXPECT_NO_THROW(r = run({10, "IMX290"}));
        ASSERT_TRUE(r); // the parameter's model stands in for an unreadable product id
        EXPECT_LE(r.value().serial.size(), 16u);
        EXPECT_LE(r.value().name.size(), 32u);
    }
}

TEST_F(Detection, Imx290BoardsGetTheImx290DriverWithTheirFilter)
{
    for (const std::string filter : {"F", "M"})
    {
        SCOPED_TRACE(filter);
        text_board board(
            board_text(chip("clock", "type=si5356a") + chip("gpio", "type=tca7408") +
                       chip("sensor", "type=imx290") +
                       chip("pid", "type=product-eeprom\nproduct_id=QEL-" + filter + "-IMX290-2") +
                       chip("id", "type=id-eeprom\nserial=40110000\nname=IMX290 Camera")));
        ASSERT_TRUE(board.ok());
        auto r = create_sensor_itf({}, rec.get());
        ASSERT_TRUE(r) << r.error().message();
        const auto formats = r.value().sensor->get_available_format_list();
        const auto& expected =
            filter == "F" ? imx290_sensor::colour_formats() : imx290_sensor::mono_formats();
        ASSERT_EQ(formats.size(), expected.size());
        EXPECT_EQ(formats[0].type, expected[0].type);
        // The IMX290 has no trigger mode: no "TriggerSource", selector left as set up.
        EXPECT_FALSE(has_property(*r.value().sensor, "TriggerSource"));
        EXPECT_TRUE(has_property(*r.value().sensor, "Gain"));
        EXPECT_EQ(korsa_sim::reg(10, 0x43, 0x05), 0x03);
        // The driver asked for 37.125 MHz.
        EXPECT_EQ(korsa_sim::reg(10, 0x70, 0x35), 0xA1);
    }
}

// What detection gives on each shipped IMX296, IMX297 and IMX335 board.
struct sony_board
{
    const char* file;
    img::fourcc fourcc;
    img::dim largest;
    int clock_reg35;    // Si5356A register 0x35 for the model's input clock; 0 on FPD-Link
    bool trigger;       // the driver has "TriggerMode", so the wrapper adds "TriggerSource"
    uint32_t lanes;     // as the connection hands them to the receiver
    bool term_override; // likewise
};

const sony_board sony_boards[] = {
    {"imx296-direct.board", img::fcc::RGAP, {1440, 1080}, 0xA1, true, 1, false},
    {"imx296-fpdlink.board", img::fcc::RGAP, {1440, 1080}, 0, true, 2, false},
    {"imx297-direct.board", img::fcc::Y10P, {720, 540}, 0xA1, true, 1, false},
    {"imx297-fpdlink.board", img::fcc::Y10P, {720, 540}, 0, true, 2, false},
    {"imx297-colour-direct.board", img::fcc::RGAP, {720, 540}, 0xA1, true, 1, false},
    {"imx335-direct.board", img::fcc::RGAP, {2592, 1944}, 0xD5, false, 2, true},
    {"imx335-fpdlink.board", img::fcc::RGAP, {2592, 1944}, 0, false, 2, false},
};

// The board expander's trigger-source selector (pin 6): set is the PicoBlade input. The
// IMX296/IMX297 boards carry a TCA6408 (output register 1), the IMX335 boards a TCA7408
// (output register 5).
int trigger_selector()
{
    const int tca6408 = korsa_sim::reg(10, 0x20, 0x01);
    const int out = tca6408 >= 0 ? tca6408 : korsa_sim::reg(10, 0x43, 0x05);
    return out < 0 ? -1 : (out >> 6) & 1;
}

TEST_F(Detection, Imx296Imx297AndImx335BoardsGetTheirDriversAndTriggerSourceWhereTheyTrigger)
{
    for (const auto& b : sony_boards)
    {
        SCOPED_TRACE(b.file);
        const auto f = facts_of(shipped_board(b.file));
        ASSERT_EQ(korsa_sim_load_board(shipped_board(b.file).c_str()), 0);
        auto r = create_sensor_itf({}, rec.get());
        ASSERT_TRUE(r) << r.error().message();
        EXPECT_EQ(r.value().serial, f.serial);
        EXPECT_EQ(r.value().name, f.name);
        auto& sensor = *r.value().sensor;

        const auto formats = sensor.get_available_format_list();
        ASSERT_EQ(formats.size(), 1u);
        EXPECT_EQ(formats[0].type, b.fourcc);
        EXPECT_EQ(formats[0].dim_max, b.largest);
        if (b.clock_reg35 != 0)
        {
            EXPECT_EQ(korsa_sim::reg(10, 0x70, 0x35), b.clock_reg35);
        }

        const auto list = sensor.get_property_list();
        const auto count = [&](const std::string& name) {
            return std::count_if(list.begin(), list.end(),
                                 [&](const korsa_cam::property_desc& d) { return d.name == name; });
        };
        EXPECT_EQ(count("TriggerMode"), b.trigger ? 1 : 0);
        EXPECT_EQ(count("TriggerSource"), b.trigger ? 1 : 0);
        // Only the IMX335 reads out mirrored.
        EXPECT_EQ(count("ReverseX"), b.trigger ? 0 : 1);
        EXPECT_EQ(count("ReverseY"), b.trigger ? 0 : 1);
        EXPECT_EQ(count("Gain"), 1);
        EXPECT_EQ(count("BlackLevel"), 1);
        if (b.trigger)
        {
            ASSERT_EQ(list[0].name, "TriggerSource");
            std::vector<std::string> entries(list[0].menu_entries.begin(),
                                             list[0].menu_entries.end());
            if (f.fpd_link)
            {
                // Left on the back channel; index 1 switches to the PicoBlade input.
                EXPECT_EQ(entries, (std::vector<std::string>{"FPD-Link", "PicoBlade"}));
                EXPECT_EQ(trigger_selector(), 0);
                EXPECT_EQ(sensor.get_property("TriggerSource").value().as_int(), 0);
                EXPECT_FALSE(
                    sensor.set_property("TriggerSource", korsa_cam::prop_values::from_int(1)));
                EXPECT_EQ(trigger_selector(), 1);
                EXPECT_EQ(sensor.get_property("TriggerSource").value().as_int(), 1);
            }
            else
            {
                EXPECT_EQ(entries, (std::vector<std::string>{"PicoBlade"}));
                EXPECT_EQ(trigger_selector(), 1);
                log_capture quiet;
                EXPECT_EQ(sensor.set_property("TriggerSource", korsa_cam::prop_values::from_int(1)),
                          make_error_code(status::invalid_property_value));
            }
        }
        else
        {
            // No trigger input: the selector stays on the back channel as set up.
            EXPECT_EQ(trigger_selector(), 0);
        }

        // The real driver behind the wrapper: the chip streams after start and stops again.
        const auto csi = sensor.setup_format(img::make_img_type(b.fourcc, b.largest), 30.0);
        ASSERT_TRUE(csi) << csi.error().message();
        EXPECT_EQ(csi.value().width, b.largest.cx);
        EXPECT_EQ(csi.value().height, static_cast<uint32_t>(b.largest.cy));
        EXPECT_EQ(csi.value().data_lanes, b.lanes);
        EXPECT_EQ(csi.value().term_override, b.term_override);
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
        ASSERT_FALSE(sensor.start_stream());
        EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
        if (b.trigger)
        {
            // Waiting for a trigger pulse, which nothing sends here.
            ASSERT_FALSE(sensor.set_property("TriggerMode", korsa_cam::prop_values::from_int(1)));
            EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
            ASSERT_FALSE(sensor.set_property("TriggerMode", korsa_cam::prop_values::from_int(0)));
            EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
        }
        ASSERT_FALSE(sensor.stop_stream());
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    }
}

TEST_F(Detection, ShippedBoardsThroughTheRealTable)
{
    for (const auto& path : shipped_boards())
    {
        SCOPED_TRACE(path);
        const auto f = facts_of(path);
        ASSERT_EQ(korsa_sim_load_board(path.c_str()), 0);
        log_capture quiet;
        auto r = create_sensor_itf({}, rec.get());
        const std::string model = parse_product_id_string(f.product_id)[2];
        // Every model's driver is built: each shipped board comes up with its identity.
        ASSERT_TRUE(r) << model << ": " << r.error().message();
        EXPECT_EQ(r.value().serial, f.serial);
        EXPECT_EQ(r.value().name, f.name);
    }
}

TEST_F(Detection, EachFailingTransactionWithTheImx290DriverDirect)
{
    sweep_every_transaction("imx290-direct.board",
                            [this] { return create_sensor_itf({}, rec.get()); });
}

TEST_F(Detection, EachFailingTransactionWithTheImx290DriverFpdLink)
{
    sweep_every_transaction("imx290-fpdlink.board",
                            [this] { return create_sensor_itf({}, rec.get()); });
}

// The one bring-up that really waits: the default sleeper spends the mandated pauses.
TEST(DetectionRealSleep, ABringUpSpendsItsPauses)
{
    board_test::require_simulator();
    double_table drivers;
    const auto start = std::chrono::steady_clock::now();
    auto r = create_sensor_itf({}, drivers.table());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(r) << r.error().message();
    ASSERT_EQ(drivers.seen.size(), 1u);
    EXPECT_TRUE(drivers.seen[0].pause_is_real);
    // 100 + 100 ms around the clock, 2 x 10 ms of board set-up.
    EXPECT_GE(elapsed, std::chrono::milliseconds(220));
}

} // namespace
