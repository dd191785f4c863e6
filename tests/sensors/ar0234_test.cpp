// The AR0234 driver on the simulated board: its own register access and verified script
// player, the link-dependent PLL and lanes, and every register its properties and set-ups put
// on the bus.

#include "ar0234/ar0234_access.h"
#include "ar0234/ar0234_registers.h"
#include "ar0234/ar0234_scripts.h"
#include "ar0234/ar0234_sequencer.h"
#include "sensor_connection.h"
#include "sensor_test_support.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

namespace {

using korsa_cam::prop_values;
using korsa_cam::sensor::ar0234_sensor;
using korsa_cam::sensor::ar_reg;
using sensor_test::bus;
using std::chrono::milliseconds;
using test_support::wire;
using strings = std::vector<std::string>;

constexpr int address = 0x10;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

img::img_type grbg(int w, int h)
{
    return img::make_img_type(img::fcc::GRAP, {w, h});
}

struct reg_value
{
    uint16_t address;
    uint16_t value;
    bool operator==(const reg_value&) const = default;
};

// "302A=0005, 302C=0001, ..." as written in the sensor's register list.
std::vector<reg_value> parse(const std::string& list)
{
    std::vector<reg_value> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
    {
        const auto eq = item.find('=');
        out.push_back({static_cast<uint16_t>(std::stoul(item.substr(0, eq), nullptr, 16)),
                       static_cast<uint16_t>(std::stoul(item.substr(eq + 1), nullptr, 16))});
    }
    return out;
}

// The register list of the initialisation, copied from the sensor's documentation of this
// mode rather than from the driver's tables, so that a slip in those fails here.
const std::vector<reg_value>& documented_before_sequencer()
{
    static const auto v = parse("3F4C=121F, 3F4E=121F, 3F50=0B81, 31E0=0003, 31E0=0003, "
                                "30B0=0028, 3088=8000");
    return v;
}
const std::vector<reg_value>& documented_after_sequencer()
{
    static const auto v =
        parse("302A=0005, 302C=0001, 302E=0003, 3030=002C, 3036=000A, 3038=0001, 31AE=0204, "
              "30B0=0028, 31B0=0082, 31B2=005C, 31B4=5248, 31B6=3257, 31B8=904B, 31BA=030B, "
              "31BC=8E09, 3354=002B, 31D0=0000, 3002=0008, 3004=0008, 3006=04B7, 3008=0787, "
              "3064=1802, 300A=04C4, 300C=0264, 30A2=0001, 30A6=0001, 3012=02DC, 3786=0006, "
              "3044=0410, 3094=03D4, 3096=0480, 30BA=7606, 30B0=0028, 30BA=7600, 30FE=002A, "
              "31DE=0410, 3ED6=1435, 3ED8=9865, 3EDA=7698, 3EDC=99FF, 3EE2=BB88, 3EE4=8836, "
              "3EF0=1CF0, 3EF2=0000, 3EF8=6166, 3EFA=3333, 3EFC=6634, 3088=81BA, 3086=3D02, "
              "3276=05DC, 3F00=9D05, 3ED2=FA86, 3EEE=A4FE, 3ECC=6E42, 3ECC=0E42, 3EEC=0C0C, "
              "3EE8=AAE4, 3EE6=3363, 3EE6=3363, 3EE8=AAE4, 3EE8=AAE4, 3180=C24F, 3102=5000, "
              "3060=000D, 3ED0=FF44, 3ED2=AA86, 3ED4=031F, 3EEE=A4AA");
    return v;
}

// Link limits as a connection reports them, remembering the lane counts it was asked about.
class link_limits final : public korsa_cam::connection_constraints
{
public:
    link_limits(int lanes, std::function<int(int)> bandwidth)
        : lanes_(lanes), bandwidth_(std::move(bandwidth))
    {}
    int max_lanes() const override { return lanes_; }
    int max_lane_bandwidth(int lanes) const override
    {
        asked.push_back(lanes);
        return bandwidth_(lanes);
    }
    mutable std::vector<int> asked;

private:
    int lanes_;
    std::function<int(int)> bandwidth_;
};

class Ar0234 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(korsa_sim_load_board(sensor_test::shipped_board("ar0234-direct.board").c_str()),
                  0);
        korsa_sim_trace_clear();
        sensor_ = make(2, 1'600'000'000); // a direct connection
    }
    void TearDown() override { korsa_sim_clear_faults(); }

    std::unique_ptr<ar0234_sensor> make(int lanes, int bandwidth)
    {
        return std::make_unique<ar0234_sensor>(bus, lanes, bandwidth, pauses_.get());
    }

    // Through the creation function, as detection creates the driver.
    std::unique_ptr<ar0234_sensor> create(const korsa_cam::connection_constraints& link)
    {
        auto created = korsa_cam::sensor::create_ar0234(bus, true, link, pauses_.get());
        auto* driver = dynamic_cast<ar0234_sensor*>(created.get());
        if (driver == nullptr)
        {
            return nullptr;
        }
        created.release();
        return std::unique_ptr<ar0234_sensor>(driver);
    }

    void initialise()
    {
        ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 30));
        korsa_sim_trace_clear();
        pauses_.clear();
    }

    static std::vector<test_support::register_write> writes()
    {
        return test_support::register_writes(bus, address);
    }
    // Every 16-bit register write in order; byte-wide writes keep their one byte.
    static std::vector<reg_value> written()
    {
        std::vector<reg_value> out;
        for (const auto& w : writes())
        {
            const uint16_t v = w.bytes.size() == 1 ? w.bytes[0] : (w.bytes[0] << 8) | w.bytes[1];
            out.push_back({w.address, v});
        }
        return out;
    }
    static std::optional<uint16_t> last(uint16_t reg)
    {
        std::optional<uint16_t> v;
        for (const auto& w : written())
        {
            if (w.address == reg)
            {
                v = w.value;
            }
        }
        return v;
    }
    static uint16_t chip16(unsigned reg)
    {
        const auto b = korsa_sim::regs(bus, address, reg, 2);
        return b.size() == 2 ? static_cast<uint16_t>((b[0] << 8) | b[1]) : 0xDEAD;
    }

    std::error_code set(const char* name, double v)
    {
        return sensor_->set_property(name, prop_values::from_double(v));
    }
    std::error_code set_int(const char* name, int64_t v)
    {
        return sensor_->set_property(name, prop_values::from_int64(v));
    }

    struct timing
    {
        uint16_t frame, line, integration;
    };
    static timing written_timing()
    {
        return {last(0x300A).value_or(0xDEAD), last(0x300C).value_or(0xDEAD),
                last(0x3012).value_or(0xDEAD)};
    }

    test_support::recording_sleeper pauses_{[] { return korsa_sim_trace_size(); }};
    std::unique_ptr<ar0234_sensor> sensor_;
};

TEST_F(Ar0234, PllLanesAndRatesFollowTheLink)
{
    test_support::log_capture log;
    // Direct: 2 lanes at 1.6 Gbit/s, of which 900 Mbit/s are used.
    link_limits direct_link{2, [](int) { return 1'600'000'000; }};
    auto direct = create(direct_link);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct_link.asked, (std::vector<int>{2}));
    EXPECT_EQ(direct->pll_multiplier(), 50);
    EXPECT_EQ(direct->pixel_clock(), 90'000'000);
    EXPECT_EQ(direct->get_connection_config().num_output_lanes, 2);
    EXPECT_EQ(direct->get_connection_config().sensor_clock, 1);
    EXPECT_EQ(direct->get_available_fps_list(grbg(1920, 1200)), (std::vector<double>{1.0, 60.0}));
    EXPECT_EQ(log.lines(),
              (strings{"PLL Multiplier = 50, CSI lanes = 900 Mbps x 2", "Pixel Clock = 90000000"}));
    // FPD-Link: 4 lanes, which the link carries at 800 Mbit/s each.
    link_limits fpd_link{4, [](int lanes) { return lanes <= 2 ? 1'600'000'000 : 800'000'000; }};
    auto fpd = create(fpd_link);
    ASSERT_TRUE(fpd);
    EXPECT_EQ(fpd_link.asked, (std::vector<int>{4}));
    EXPECT_EQ(fpd->pll_multiplier(), 44);
    EXPECT_EQ(fpd->pixel_clock(), 79'200'000);
    EXPECT_EQ(fpd->get_connection_config().num_output_lanes, 4);
    EXPECT_EQ(fpd->get_available_fps_list(grbg(1920, 1200)), (std::vector<double>{1.0, 105.0}));
    EXPECT_EQ(fpd->get_available_fps_list(grbg(256, 128)), (std::vector<double>{1.0, 845.0}));
    EXPECT_TRUE(log.has(spdlog::level::debug, "PLL Multiplier = 44, CSI lanes = 800 Mbps x 4"));
    EXPECT_TRUE(log.has(spdlog::level::debug, "Pixel Clock = 79200000"));
    // A link with eight lanes is driven with the sensor's four, at the rate for four.
    link_limits wide_link{8, [](int lanes) { return lanes == 4 ? 800'000'000 : 1; }};
    auto wide = create(wide_link);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide_link.asked, (std::vector<int>{4}));
    EXPECT_EQ(wide->get_connection_config().num_output_lanes, 4);
    EXPECT_EQ(wide->pll_multiplier(), 44);
    // The colour argument changes nothing: there is only the colour sensor.
    auto mono = korsa_cam::sensor::create_ar0234(bus, false, fpd_link, pauses_.get());
    ASSERT_TRUE(mono);
    ASSERT_EQ(mono->get_available_format_list().size(), 1u);
    EXPECT_EQ(mono->get_available_format_list()[0].type, img::fcc::GRAP);
    // A bus that does not exist gives no driver rather than an exception.
    {
        test_support::log_capture quiet;
        std::unique_ptr<korsa_cam::sensor::sensor_impl_itf> missing;
        EXPECT_NO_THROW(missing = korsa_cam::sensor::create_ar0234(77, true, fpd_link));
        EXPECT_FALSE(missing);
    }

    // A fast four-lane link raises the slowest rate: 4 x 90 MHz.
    auto fast = make(4, 1'600'000'000);
    EXPECT_EQ(fast->get_available_fps_list(grbg(1920, 1200)), (std::vector<double>{2.0, 120.0}));
    // A link that reports nothing gives a zero PLL, not a negative one, and defined rates.
    auto none = make(0, -5);
    EXPECT_EQ(none->pll_multiplier(), 0);
    EXPECT_EQ(none->get_available_fps_list(grbg(0, -25)), (std::vector<double>{1.0, 0.0}));

    const auto f = sensor_->get_available_format_list();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].type, img::fcc::GRAP);
    EXPECT_EQ(f[0].dim_min, (img::dim{256, 128}));
    EXPECT_EQ(f[0].dim_max, (img::dim{1920, 1200}));

    strings names;
    for (const auto& d : sensor_->get_property_list())
    {
        names.push_back(d.name);
    }
    EXPECT_EQ(names, (strings{"ExposureTime", "OffsetX", "OffsetY", "OffsetAutoCenter",
                              "SensorRegisterAddress", "SensorRegisterValue", "SensorRegisterRead",
                              "SensorRegisterWrite", "TriggerMode", "Gain", "StrobeMode"}));
    auto gain = sensor_->get_property_range("Gain");
    auto trigger = sensor_->get_property_range("TriggerMode");
    auto strobe = sensor_->get_property_range("StrobeMode");
    auto exposure = sensor_->get_property_range("ExposureTime");
    ASSERT_TRUE(gain && trigger && strobe && exposure);
    EXPECT_EQ(gain.value().max.dbl, 19.2);
    EXPECT_EQ(gain.value().step.dbl, 0.1);
    EXPECT_EQ(trigger.value().max.i64, 2);
    EXPECT_EQ(strobe.value().max.i64, 2);
    EXPECT_EQ(exposure.value().max.dbl, 250000.0);
    EXPECT_EQ(sensor_->get_property("Gain").value().dbl, 0.0);
    EXPECT_EQ(korsa_sim_trace_size(), 0u); // construction touches no register
}

TEST_F(Ar0234, InitScriptHoldsTheDocumentedRegisters)
{
    const ar_reg* s = korsa_cam::sensor::ar0234_scripts::ar0234_init;
    std::vector<reg_value> writes;
    std::vector<uint16_t> waits;
    std::size_t unverified = 0;
    for (; s->address != ar_reg::end_marker; ++s)
    {
        if (s->address == ar_reg::delay_marker)
        {
            waits.push_back(s->value);
            EXPECT_EQ(writes.size(), 1u); // right after the reset
            continue;
        }
        EXPECT_EQ(s->flags & ar_reg::byte_wide, 0) << std::hex << s->address;
        unverified += (s->flags & ar_reg::never_verify) != 0 ? 1 : 0;
        writes.push_back({s->address, s->value});
    }
    ASSERT_EQ(writes.size(), 311u);
    EXPECT_EQ(waits, (std::vector<uint16_t>{200}));
    EXPECT_EQ(korsa_cam::sensor::ar0234_scripts::ar0234_init[0].flags, ar_reg::never_verify);
    EXPECT_EQ(writes[0], (reg_value{0x301A, 0x00D9}));
    // Apart from the reset only the sequencer port goes unverified.
    EXPECT_EQ(unverified, 1u + 235u + 1u);

    std::size_t i = 1;
    for (const auto& r : documented_before_sequencer())
    {
        EXPECT_EQ(writes[i], r) << "entry " << i;
        ++i;
    }
    const uint16_t first[] = {0xC1AE, 0x327F, 0x5780, 0x272F};
    for (std::size_t k = 0; k < 235; ++k, ++i)
    {
        EXPECT_EQ(writes[i].address, 0x3086) << "word " << k;
        if (k < 4)
        {
            EXPECT_EQ(writes[i].value, first[k]) << "word " << k;
        }
        if (k >= 233)
        {
            EXPECT_EQ(writes[i].value, 0x2C2C) << "word " << k;
        }
    }
    for (const auto& r : documented_after_sequencer())
    {
        EXPECT_EQ(writes[i], r) << "entry " << i;
        ++i;
    }
    EXPECT_EQ(i, 311u);
}

TEST_F(Ar0234, InitOnADirectLinkVerifiesAndSetsLanesAndPll)
{
    test_support::log_capture log;
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 30));

    // The chip version first, then every write of the script, then lanes and PLL.
    const auto reads = test_support::register_reads(bus, address);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0].address, 0x3000);
    EXPECT_EQ(reads[0].bytes, (std::vector<uint8_t>{0x0A, 0x56}));

    const auto w = written();
    ASSERT_GE(w.size(), 313u);
    EXPECT_EQ(w[0], (reg_value{0x301A, 0x00D9}));
    std::vector<reg_value> expected_verified;
    for (std::size_t i = 1; i < 311; ++i)
    {
        if (w[i].address != 0x3086)
        {
            expected_verified.push_back(w[i]);
        }
    }
    EXPECT_EQ(expected_verified.size(), 311u - 1 - 236);
    // Each of them read back right after its write, two bytes.
    std::vector<reg_value> verified;
    for (std::size_t k = 1; k < reads.size(); ++k)
    {
        ASSERT_EQ(reads[k].bytes.size(), 2u);
        verified.push_back({reads[k].address,
                            static_cast<uint16_t>((reads[k].bytes[0] << 8) | reads[k].bytes[1])});
    }
    EXPECT_EQ(verified, expected_verified);
    EXPECT_TRUE(log.lines_starting_with("write_script").empty());

    EXPECT_EQ(w[311], (reg_value{0x31AE, 0x0202}));
    EXPECT_EQ(w[312], (reg_value{0x3030, 50}));
    EXPECT_EQ(chip16(0x31AE), 0x0202);
    EXPECT_EQ(chip16(0x3030), 50);
    ASSERT_EQ(pauses_.pauses().size(), 1u);
    EXPECT_EQ(pauses_.pauses()[0].duration, milliseconds(200));

    // The sequencer program landed in the sensor's sequencer memory, in order, and the one
    // patch word at its own position.
    constexpr unsigned seq = 0x10000;
    const auto& words = korsa_cam::sensor::ar0234_sequencer::sequencer_words;
    for (std::size_t k = 0; k < words.size(); ++k)
    {
        ASSERT_EQ(chip16(seq + 2 * k), words[k]) << "word " << k;
    }
    EXPECT_EQ(chip16(seq + 2 * 0x1BA), 0x3D02);

    EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    EXPECT_EQ(log.lines_starting_with("AR0234 initialisation script holds a placeholder").size(),
              korsa_cam::sensor::ar0234_sequencer::maker_sequencer_supplied ? 0u : 1u);
}

TEST_F(Ar0234, InitOnFpdLinkAndOtherLaneCounts)
{
    auto fpd = make(4, 800'000'000);
    ASSERT_TRUE(fpd->setup_format(grbg(1920, 1200), 30));
    EXPECT_EQ(chip16(0x31AE), 0x0204);
    EXPECT_EQ(chip16(0x3030), 44);
    EXPECT_EQ(fpd->setup_format(grbg(1920, 1200), 30).value().data_lanes, 4u);

    korsa_sim_reset();
    ASSERT_TRUE(make(1, 1'600'000'000)->setup_format(grbg(1920, 1200), 30));
    EXPECT_EQ(chip16(0x31AE), 0x0201);

    // A link with eight lanes: the sensor is set up for its four.
    korsa_sim_reset();
    link_limits wide_link{8, [](int lanes) { return lanes == 4 ? 800'000'000 : 1; }};
    auto wide = create(wide_link);
    ASSERT_TRUE(wide);
    const auto csi = wide->setup_format(grbg(1920, 1200), 30);
    ASSERT_TRUE(csi);
    EXPECT_EQ(csi.value().data_lanes, 4u);
    EXPECT_EQ(chip16(0x31AE), 0x0204);
    EXPECT_EQ(chip16(0x3030), 44);

    // Three lanes: the sensor has no such serial format.
    korsa_sim_reset();
    test_support::log_capture log;
    auto three = make(3, 800'000'000);
    const auto r = three->setup_format(grbg(1920, 1200), 30);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::errc::invalid_argument);
    EXPECT_TRUE(
        log.has(spdlog::level::err, "Unexpected config_.num_output_lanes: 3 (expected 1/2/4)"));
    EXPECT_EQ(chip16(0x31AE), 0x0204); // as the script left it
}

TEST_F(Ar0234, ChipVersionProblems)
{
    // A foreign version is only reported.
    korsa_sim::set_regs(bus, address, 0x3000, {0x0A, 0x57});
    {
        test_support::log_capture log;
        ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 30));
        EXPECT_TRUE(log.has(spdlog::level::err, "Unexpected chip_version: a57 (expected 0x0A56)"));
    }
    // A sensor that does not answer fails the set-up with the bus error and is not written.
    korsa_sim_reset();
    auto fresh = make(2, 1'600'000'000);
    korsa_sim_trace_clear();
    korsa_sim_fail_reads(bus, address, 1, EREMOTEIO);
    test_support::log_capture log;
    std::optional<korsa_cam::result<mmal::pi::csi_settings>> r;
    EXPECT_NO_THROW(r = fresh->setup_format(grbg(1920, 1200), 30));
    ASSERT_FALSE(*r);
    EXPECT_EQ(r->error(), std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(log.starting_with("Failed to read chip_version").size(), 1u);
    // The next set-up tries again.
    EXPECT_TRUE(fresh->setup_format(grbg(1920, 1200), 30));
}

TEST_F(Ar0234, FailingThirdInitWriteStopsTheScript)
{
    test_support::log_capture log;
    // Transactions: version address and read, the reset write, then 0x3F4C with its read-back
    // (address write and read), then 0x3F4E.
    korsa_sim_fail_nth(7, EREMOTEIO);
    const auto r = sensor_->setup_format(grbg(1920, 1200), 30);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::error_code(EREMOTEIO, std::generic_category()));
    const auto w = writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[2].address, 0x3F4E);
    EXPECT_EQ(w[2].error, EREMOTEIO);
    EXPECT_EQ(log.lines_starting_with("write_script"),
              (strings{"write_script -- write failed for address [3f4e], value 121f"}));
    EXPECT_TRUE(log.has(spdlog::level::err, "Failed to write init script"));
    EXPECT_EQ(chip16(0x3F50), 0x0000); // never reached

    // The lane and PLL writes report their own failures.
    korsa_sim_reset();
    auto again = make(2, 1'600'000'000);
    korsa_sim_trace_clear();
    // Version read (2), 311 writes of which 74 verified (2 transactions each): the lane write
    // is transaction 2 + 311 + 148 + 1.
    korsa_sim_fail_nth(2 + 311 + 148 + 1, EREMOTEIO);
    log.clear();
    EXPECT_FALSE(again->setup_format(grbg(1920, 1200), 30));
    EXPECT_TRUE(log.has(spdlog::level::err, "Failed to write SERIAL_FORMAT register"));
    korsa_sim_trace_clear();
    korsa_sim_fail_nth(2 + 311 + 148 + 2, EREMOTEIO);
    log.clear();
    EXPECT_FALSE(again->setup_format(grbg(1920, 1200), 30));
    EXPECT_TRUE(log.has(spdlog::level::err, "Failed to write PLL_MULTIPLIER register"));
}

TEST_F(Ar0234, VerificationProblemsAreLoggedAndTheScriptGoesOn)
{
    test_support::log_capture log;
    linux_helper::i2c_com i2c_bus(bus, address);
    const ar_reg script[] = {
        {0x3022, 0x0101, ar_reg::byte_wide}, // low byte only
        {0x3060, 0x0020, 0},
        {0x3270, 0x0100, 0},
        {0x3086, 0x1234, 0}, // the sequencer port is never read back
        {0x3012, 0x0042, ar_reg::never_verify},
        korsa_cam::sensor::ar_wait_ms(0),
        korsa_cam::sensor::ar_script_end,
    };
    korsa_sim_fail_reads(bus, address, 1, EREMOTEIO); // the read-back of 0x3022
    korsa_sim_trace_clear();
    ASSERT_FALSE(korsa_cam::sensor::ar_write_script(i2c_bus, script, true, pauses_.get()));
    EXPECT_EQ(wire(writes()), (strings{"[30 22 01]", "[30 60 00 20]", "[32 70 01 00]",
                                       "[30 86 12 34]", "[30 12 00 42]"}));
    EXPECT_TRUE(pauses_.pauses().empty()); // a 0 ms wait does not sleep
    auto reads = test_support::register_reads(bus, address);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].address, 0x3022);
    EXPECT_EQ(reads[1].address, 0x3060);
    EXPECT_EQ(reads[1].bytes.size(), 2u);
    EXPECT_EQ(reads[2].address, 0x3270);

    // A short read-back leaves a byte out and is a mismatch.
    korsa_sim_short_read(bus, address, 1);
    const ar_reg one[] = {{0x3060, 0x0021, 0}, korsa_cam::sensor::ar_script_end};
    ASSERT_FALSE(korsa_cam::sensor::ar_write_script(i2c_bus, one, true, pauses_.get()));
    EXPECT_EQ(log.lines_starting_with("write_script"),
              (strings{"write_script - readback failed for address [3022]: Remote I/O error",
                       "write_script - verification failed for address [3060], expected 21, "
                       "readback 0"}));
    EXPECT_EQ(chip16(0x3060), 0x0021);
}

TEST_F(Ar0234, GainSteps)
{
    initialise();
    struct case_
    {
        double db;
        uint16_t code;
        double readback;
    };
    for (const auto& c : {case_{19.2, 64, 19.2}, case_{0, 13, 0.0}, case_{30, 64, 19.2},
                          case_{6.0, 29, 6.0}, case_{0.1, 13, 0.0}, case_{0.2, 14, 0.4},
                          case_{-3, 13, 0.0}, case_{inf, 64, 19.2}, case_{-inf, 13, 0.0}})
    {
        korsa_sim_trace_clear();
        ASSERT_FALSE(set("Gain", c.db)) << c.db;
        EXPECT_EQ(written(), (std::vector<reg_value>{{0x3060, c.code}})) << c.db;
        EXPECT_DOUBLE_EQ(sensor_->get_property("Gain").value().dbl, c.readback) << c.db;
    }
    korsa_sim_trace_clear();
    EXPECT_EQ(set("Gain", nan), std::errc::argument_out_of_domain);
    EXPECT_EQ(korsa_sim_trace_size(), 0u);
    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_EQ(set("Gain", 10), std::error_code(EREMOTEIO, std::generic_category()));
}

TEST_F(Ar0234, StrobeOnlyOnExactlyOne)
{
    initialise();
    ASSERT_FALSE(set_int("StrobeMode", 1));
    EXPECT_EQ(last(0x3270), 0x0100);
    EXPECT_EQ(sensor_->get_property("StrobeMode").value().i64, 1);
    ASSERT_FALSE(set_int("StrobeMode", 2));
    EXPECT_EQ(last(0x3270), 0x0000);
    EXPECT_EQ(sensor_->get_property("StrobeMode").value().i64, 0);
    ASSERT_FALSE(set_int("StrobeMode", -1));
    EXPECT_EQ(last(0x3270), 0x0000);
    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_EQ(set_int("StrobeMode", 1), std::error_code(EREMOTEIO, std::generic_category()));
}

TEST_F(Ar0234, TriggerModeWaitsForTheStreamAndSwitchesAtOnceWhileStreaming)
{
    initialise();
    ASSERT_FALSE(set_int("TriggerMode", 1));
    EXPECT_EQ(korsa_sim_trace_size(), 0u); // not streaming: stored only
    EXPECT_EQ(sensor_->get_property("TriggerMode").value().i64, 1);
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(written(), (std::vector<reg_value>{{0x301A, 0x2B58}}));
    EXPECT_EQ(korsa_sim_sensor_streaming(), 0); // waits for triggers

    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("TriggerMode", 0));
    EXPECT_EQ(written(), (std::vector<reg_value>{{0x301A, 0x225C}}));
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1); // free-running
    ASSERT_FALSE(set_int("TriggerMode", 7));
    EXPECT_EQ(last(0x301A), 0x2B58);

    korsa_sim_trace_clear();
    ASSERT_FALSE(sensor_->stop_stream());
    EXPECT_EQ(written(), (std::vector<reg_value>{{0x301A, 0x2258}}));
    ASSERT_FALSE(set_int("TriggerMode", 0));
    EXPECT_EQ(written().size(), 1u);
    ASSERT_FALSE(sensor_->start_stream());
    EXPECT_EQ(last(0x301A), 0x225C);
    EXPECT_EQ(korsa_sim_sensor_streaming(), 1);

    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_EQ(set_int("TriggerMode", 1), std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_EQ(sensor_->stop_stream(), std::error_code(EREMOTEIO, std::generic_category()));
}

TEST_F(Ar0234, FrameTimingAndTheLineStretch)
{
    initialise();
    test_support::log_capture log;
    ASSERT_FALSE(set("ExposureTime", 10000));
    auto t = written_timing();
    EXPECT_EQ(t.frame, 4896u);
    EXPECT_EQ(t.line, 612u);
    EXPECT_EQ(t.integration, 1470u);
    EXPECT_TRUE(log.has(spdlog::level::debug,
                        "frame_length_lines = 4896, line_length_pck = 612, cit = 1470"));
    // Inside the grouped parameter hold.
    korsa_sim_trace_clear();
    ASSERT_FALSE(set("ExposureTime", 10000));
    EXPECT_EQ(wire(writes()), (strings{"[30 22 01]", "[30 0A 13 20]", "[30 0C 02 64]",
                                       "[30 12 05 BE]", "[30 22 00]"}));

    // Faster than the height allows: the shortest frame, height + 20.
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 200));
    EXPECT_EQ(written_timing().frame, 1220u);

    // 1 fps needs more lines than the frame-length register holds: the line grows.
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 1));
    t = written_timing();
    EXPECT_EQ(t.frame, 0xFFFFu);
    EXPECT_EQ(t.line, 1373u); // 90 MHz / 65540
    EXPECT_EQ(t.integration, 655u);

    // An exposure needing more than 0xFFFF lines stretches the line instead of the count.
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 30));
    ASSERT_FALSE(set("ExposureTime", 500000));
    t = written_timing();
    EXPECT_EQ(t.frame, 4896u);
    EXPECT_EQ(t.integration, 0xFFFFu);
    EXPECT_EQ(t.line, 686u); // 90 MHz x 0.5 s / 65535
}

TEST_F(Ar0234, NonsenseRatesAndExposuresStayInsideTheRegisters)
{
    initialise();
    struct rate_case
    {
        double fps;
        uint16_t frame, line;
    };
    for (const auto& r :
         {rate_case{0.0, 0xFFFF, 0xFFFF}, rate_case{-30, 1220, 612}, rate_case{nan, 1220, 612},
          rate_case{inf, 1220, 612}, rate_case{-inf, 1220, 612}})
    {
        ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), r.fps));
        const auto t = written_timing();
        EXPECT_EQ(t.frame, r.frame) << r.fps;
        EXPECT_EQ(t.line, r.line) << r.fps;
        EXPECT_GE(t.integration, 2u) << r.fps;
    }
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 30));
    for (double us : {1e15, inf})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        const auto t = written_timing();
        EXPECT_EQ(t.integration, 0xFFFFu) << us;
        EXPECT_EQ(t.line, 0xFFFFu) << us;
    }
    for (double us : {-1.0, -inf, 0.0})
    {
        ASSERT_FALSE(set("ExposureTime", us));
        EXPECT_EQ(written_timing().integration, 2u) << us;
    }
    // A nonsense height: the frame is full, the line never shorter than normal.
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1 << 20), 30));
    auto t = written_timing();
    EXPECT_EQ(t.frame, 0xFFFFu);
    EXPECT_EQ(t.line, 612u);
    EXPECT_EQ(ar0234_sensor::exposure_timing(0, 1200, 30, 0.01).line_length_pck, 612u);
}

// Every combination of nonsense the properties, the frame rate and the size can carry,
// through the driver: the registers stay inside what they can hold and what the sensor needs
// (a frame longer than the image, a line at least the normal length, two lines of
// integration). Under the sanitizers this is also the proof that no conversion on the way is
// undefined.
TEST_F(Ar0234, EveryNonsenseCombinationKeepsTheRegistersUsable)
{
    initialise();
    const double rates[] = {nan, inf, -inf, 0.0, -0.0, 1e-300, -30.0, 1e300, 0.7, 60.0};
    const double exposures_us[] = {inf, -inf, 1e300, -1e300, -1.0, 0.0, 1e-300, 33333.0, 4e6};
    for (int height : {128, 1200})
    {
        for (double fps : rates)
        {
            ASSERT_TRUE(sensor_->setup_format(grbg(1920, height), fps)) << fps;
            for (double us : exposures_us)
            {
                SCOPED_TRACE(testing::Message()
                             << height << " lines, " << fps << " fps, " << us << " us");
                ASSERT_FALSE(set("ExposureTime", us));
                ASSERT_GE(chip16(0x300A), height + 20);
                ASSERT_GE(chip16(0x300C), 612u);
                ASSERT_GE(chip16(0x3012), 2u);
            }
        }
    }

    for (double db : {nan, inf, -inf, 1e300, -1e300, -0.0, 1e-300, 19.15, 19.25})
    {
        (void)set("Gain", db);
        EXPECT_GE(chip16(0x3060), 13u) << db;
        EXPECT_LE(chip16(0x3060), 64u) << db;
        const double back = sensor_->get_property("Gain").value().dbl;
        EXPECT_GE(back, 0.0) << db;
        EXPECT_LE(back, 19.2 + 1e-9) << db;
    }

    // Menu values from anywhere in the 64-bit range: the strobe is on or off, and the stream
    // runs free or on the trigger.
    ASSERT_FALSE(sensor_->start_stream());
    for (int64_t v : {INT64_MIN, INT64_MAX, int64_t{1} << 32, (int64_t{1} << 32) + 1, int64_t{-1}})
    {
        (void)set_int("StrobeMode", v);
        const uint16_t flash = chip16(0x3270);
        EXPECT_TRUE(flash == 0x0000 || flash == 0x0100) << v;
        EXPECT_EQ(flash == 0x0100, sensor_->get_property("StrobeMode").value().i64 == 1) << v;
        (void)set_int("TriggerMode", v);
        const uint16_t control = chip16(0x301A);
        EXPECT_TRUE(control == 0x2B58 || control == 0x225C) << v;
        EXPECT_EQ(control == 0x2B58, sensor_->get_property("TriggerMode").value().i64 == 1) << v;
    }
}

TEST_F(Ar0234, WindowFollowsSizeAndOffsets)
{
    initialise();
    ASSERT_TRUE(sensor_->setup_format(grbg(1920, 1200), 30));
    auto w = writes();
    ASSERT_GE(w.size(), 6u);
    EXPECT_EQ(wire(std::vector<test_support::register_write>(w.begin(), w.begin() + 6)),
              (strings{"[30 22 01]", "[30 02 00 08]", "[30 04 00 08]", "[30 06 04 B7]",
                       "[30 08 07 87]", "[30 22 00]"}));
    EXPECT_TRUE(test_support::register_reads(bus, address).empty()); // not verified

    // Centred 1280x720: offsets 320 and 240.
    ASSERT_TRUE(sensor_->setup_format(grbg(1280, 720), 30));
    EXPECT_EQ(last(0x3002), 248u);
    EXPECT_EQ(last(0x3004), 328u);
    EXPECT_EQ(last(0x3006), 240u + 720 + 7);
    EXPECT_EQ(last(0x3008), 320u + 1280 + 7);

    ASSERT_FALSE(set_int("OffsetAutoCenter", 0));
    korsa_sim_trace_clear();
    ASSERT_FALSE(set_int("OffsetX", 11));
    EXPECT_EQ(written(), (std::vector<reg_value>{{0x3022, 1},
                                                 {0x3002, 248},
                                                 {0x3004, 18},
                                                 {0x3006, 967},
                                                 {0x3008, 10 + 1280 + 7},
                                                 {0x3022, 0}}));
    ASSERT_FALSE(set_int("OffsetY", -100)); // below the origin: the window starts at 0
    EXPECT_EQ(last(0x3002), 0u);

    // A failing window write is returned.
    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_EQ(set_int("OffsetX", 20), std::error_code(EREMOTEIO, std::generic_category()));
}

TEST_F(Ar0234, RawRegisterAccess)
{
    const uint8_t data[] = {0x12, 0x34};
    ASSERT_FALSE(sensor_->sensor_register_write(0xFFFF3060, data));
    EXPECT_EQ(wire(writes()), (strings{"[30 60 12 34]"}));
    std::vector<uint8_t> buffer(2);
    std::span<uint8_t> out(buffer);
    ASSERT_FALSE(sensor_->sensor_register_read(0x3000, out));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0x0A, 0x56}));
    EXPECT_TRUE(sensor_->test_reachable());
    korsa_sim_fail_address(bus, address, EREMOTEIO);
    EXPECT_EQ(sensor_->sensor_register_read(0x3000, out),
              std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_FALSE(sensor_->test_reachable());
}

} // namespace
