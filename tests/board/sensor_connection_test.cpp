// Connection detection (direct, FPD-Link, routing the legacy camera bus), bringing up the
// sensor's environment, and the two wrappers around a driver double.

#include "bringup_test_support.h"
#include "connected_sensor.h"
#include "rawcam_error.h"
#include "sensor_board_gpio.h"
#include "sensor_connection.h"

#include <algorithm>
#include <cerrno>

namespace {

using board_test::log_capture;
using board_test::shipped_board;
using board_test::text_board;
using bringup_test::board_text;
using bringup_test::chip;
using bringup_test::messages_to;
using bringup_test::pause_ms;
using bringup_test::trigger_driver;
using korsa_cam::prop_values;
using korsa_cam::sensor_connection;
using korsa_cam::status;
using korsa_cam::sensor::sensor_impl_itf;

class Connection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board_test::require_simulator();
        korsa_sim_set_euid(-1);
    }
    void TearDown() override { korsa_sim_set_euid(-1); }
};

using Wrappers = Connection;

std::vector<std::string> names(sensor_impl_itf& s)
{
    std::vector<std::string> out;
    for (const auto& d : s.get_property_list())
    {
        out.push_back(d.name);
    }
    return out;
}

bool is_fpd_link(const sensor_connection& c)
{
    return c.max_lanes() == 4;
}

TEST_F(Connection, NothingOnAnotherBusIsReportedWithoutRouting)
{
    text_board board("[board]\nbuses=1\n[pi]\nkernel_release=4.19.97-v7+\nrevision=00a02082\n"
                     "i2c0_needs_routing=true\n");
    ASSERT_TRUE(board.ok());
    auto c = sensor_connection::detect_and_connect(1);
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error(), make_error_code(status::no_device_on_i2c_bus));
    EXPECT_EQ(c.error().message(), "Failed to find a device on the i2c bus");
    EXPECT_EQ(korsa_sim_i2c0_routed(), 0);
    // One probe for the deserializer, one clock-generator register read (address write only).
    const auto t = korsa_sim::trace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].address, 0x30);
    EXPECT_EQ(t[1].address, 0x70);
}

TEST_F(Connection, LegacyPiRoutesBusZeroAndLooksAgain)
{
    ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-direct-legacy-pi.board").c_str()), 0);
    log_capture logs;
    auto c = sensor_connection::detect_and_connect(0);
    ASSERT_TRUE(c) << c.error().message();
    EXPECT_EQ(korsa_sim_i2c0_routed(), 1);
    EXPECT_FALSE(is_fpd_link(*c.value()));
    EXPECT_EQ(c.value()->bus(), 0);
    EXPECT_TRUE(logs.has(spdlog::level::info, "Detected direct connection"));
    // Both probes twice: before and after routing.
    EXPECT_EQ(messages_to(0x30).size(), 2u);

    // Routed, but nothing answers: the second detection's error.
    text_board empty("[board]\nbuses=0\n[pi]\nkernel_release=4.19.97-v7+\nrevision=00a02082\n"
                     "i2c0_needs_routing=true\n");
    ASSERT_TRUE(empty.ok());
    c = sensor_connection::detect_and_connect(0);
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error(), make_error_code(status::no_device_on_i2c_bus));
    EXPECT_EQ(korsa_sim_i2c0_routed(), 1);

    // The routing itself fails (no GPIO register access): "Failed to access i2c bus".
    text_board locked("[board]\nbuses=0\n[pi]\nkernel_release=4.19.97-v7+\nrevision=00a02082\n"
                      "i2c0_needs_routing=true\ngpiomem=false\nroot=false\n");
    ASSERT_TRUE(locked.ok());
    c = sensor_connection::detect_and_connect(0);
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error(), make_error_code(status::i2c_access_failed));
    EXPECT_EQ(korsa_sim_i2c0_routed(), 0);

    // A current kernel never routes, even on bus 0.
    text_board current("[board]\nbuses=0\n[pi]\nkernel_release=5.10.63-v7l+\n");
    ASSERT_TRUE(current.ok());
    c = sensor_connection::detect_and_connect(0);
    ASSERT_FALSE(c);
    EXPECT_EQ(korsa_sim_i2c0_routed(), 0);
    EXPECT_EQ(messages_to(0x30).size(), 1u);
}

TEST_F(Connection, DeserializerWinsOverClockGenerator)
{
    text_board board(board_text(chip("deserializer", "type=fpd-deserializer") +
                                chip("serializer", "type=fpd-serializer") +
                                chip("clock", "type=si5356a")));
    ASSERT_TRUE(board.ok());
    log_capture logs;
    test_support::recording_sleeper rec;
    auto c = sensor_connection::detect_and_connect(10, rec.get());
    ASSERT_TRUE(c) << c.error().message();
    EXPECT_TRUE(is_fpd_link(*c.value()));
    EXPECT_TRUE(logs.has(spdlog::level::info, "Detected FPD-Link connection"));
    EXPECT_TRUE(messages_to(0x70).empty());
    // Detection errors of the FPD-Link bring-up come back unchanged.
    text_board lonely(board_text(chip("deserializer", "type=fpd-deserializer")));
    ASSERT_TRUE(lonely.ok());
    c = sensor_connection::detect_and_connect(10, rec.get());
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error(), make_error_code(status::fpd_serializer_open_failed));
    // A bus that does not exist throws from the bus accessor.
    EXPECT_THROW((void)sensor_connection::detect_and_connect(3, rec.get()), std::system_error);
}

TEST_F(Connection, DirectLimits)
{
    auto c = sensor_connection::detect_and_connect(10);
    ASSERT_TRUE(c);
    EXPECT_EQ(c.value()->max_lanes(), 2);
    for (int lanes : {1, 2, 3, 4})
    {
        EXPECT_EQ(c.value()->max_lane_bandwidth(lanes), 1600000000);
    }
}

TEST_F(Connection, DirectBringUpClockPausesAndBoardIo)
{
    auto rec = bringup_test::trace_sleeper();
    auto c = sensor_connection::detect_and_connect(10, rec.get());
    ASSERT_TRUE(c);
    korsa_sim_trace_clear();
    log_capture logs;
    auto wrapped = c.value()->enable_and_wrap_sensor(
        std::make_unique<trigger_driver>(korsa_cam::sensor_config{2, 2}));
    ASSERT_TRUE(wrapped) << wrapped.error().message();
    EXPECT_TRUE(logs.has(spdlog::level::debug, "Configuring Si5356A for 37.125 MHz"));
    EXPECT_EQ(korsa_sim::reg(10, 0x70, 0x35), 0xA1);
    // 100 ms after the clock, 100 ms before the expander, 10 ms twice in the board set-up.
    EXPECT_EQ(pause_ms(rec), (std::vector<long>{100, 100, 10, 10}));
    const auto p = rec.pauses();
    EXPECT_EQ(p[0].trace_position, p[1].trace_position);
    const auto t = korsa_sim::trace();
    EXPECT_EQ(t[p[1].trace_position].address, 0x43);
    // Trigger source on the PicoBlade input, pins 0 and 1 high.
    EXPECT_EQ(korsa_sim::reg(10, 0x43, 0x05), 0x43);
    EXPECT_EQ(names(*wrapped.value()),
              (std::vector<std::string>{"TriggerSource", "TriggerMode", "ExposureTime"}));

    // The other two clocks.
    for (const auto& [sel, text, reg35] :
         std::vector<std::tuple<int, std::string, int>>{{0, "24 MHz", 0xD5}, {1, "27 MHz", 0xBD}})
    {
        logs.clear();
        auto w = c.value()->enable_and_wrap_sensor(
            std::make_unique<trigger_driver>(korsa_cam::sensor_config{sel, 2}));
        ASSERT_TRUE(w);
        EXPECT_TRUE(logs.has(spdlog::level::debug, "Configuring Si5356A for " + text));
        EXPECT_EQ(korsa_sim::reg(10, 0x70, 0x35), reg35);
    }
}

TEST_F(Connection, UnsupportedClockFailsBeforeAnyPauseOrBoardIo)
{
    auto rec = bringup_test::trace_sleeper();
    auto c = sensor_connection::detect_and_connect(10, rec.get());
    ASSERT_TRUE(c);
    korsa_sim_trace_clear();
    log_capture logs;
    auto w = c.value()->enable_and_wrap_sensor(
        std::make_unique<trigger_driver>(korsa_cam::sensor_config{3, 2}));
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error(), std::error_code(EOPNOTSUPP, std::generic_category()));
    EXPECT_TRUE(rec.pauses().empty());
    EXPECT_TRUE(korsa_sim::trace().empty());
    EXPECT_TRUE(logs.has(spdlog::level::warn, "sensor_clock value not supported: 3"));
    EXPECT_TRUE(logs.has(spdlog::level::err,
                         "configure_sensor_environment failed with error " + w.error().message()));
    for (const auto& r : logs.records())
    {
        EXPECT_EQ(r.file, "src/rawcam_lib/sensor_connection");
    }
    // A failing clock generator is returned the same way, also without the pause.
    korsa_sim_fail_address(10, 0x70, EREMOTEIO);
    w = c.value()->enable_and_wrap_sensor(std::make_unique<trigger_driver>());
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error(), std::error_code(EREMOTEIO, std::generic_category()));
    EXPECT_TRUE(rec.pauses().empty());
    korsa_sim_fail_address(10, 0x70, 0);
    // No expander: its status, after the clock's pauses.
    text_board no_gpio(board_text(chip("clock", "type=si5356a")));
    ASSERT_TRUE(no_gpio.ok());
    w = c.value()->enable_and_wrap_sensor(std::make_unique<trigger_driver>());
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error(), make_error_code(status::gpio_chip_unidentified));
    // No driver at all.
    w = c.value()->enable_and_wrap_sensor(nullptr);
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error(), std::make_error_code(std::errc::invalid_argument));
}

TEST_F(Connection, FpdLinkBringUpKeepsTheBackChannelTrigger)
{
    ASSERT_EQ(korsa_sim_load_board(shipped_board("imx290-fpdlink.board").c_str()), 0);
    auto rec = bringup_test::trace_sleeper();
    auto c = sensor_connection::detect_and_connect(10, rec.get());
    ASSERT_TRUE(c);
    rec.clear();
    auto w = c.value()->enable_and_wrap_sensor(
        std::make_unique<trigger_driver>(korsa_cam::sensor_config{1, 4}));
    ASSERT_TRUE(w) << w.error().message();
    EXPECT_EQ(pause_ms(rec), (std::vector<long>{100, 100, 10, 10}));
    EXPECT_EQ(korsa_sim::reg(10, 0x31, 0x02), 0x33);
    EXPECT_EQ(korsa_sim::reg(10, 0x31, 0x06), 0x9B);
    EXPECT_EQ(korsa_sim::reg(10, 0x43, 0x05) & 0x40, 0);
    auto v = w.value()->get_property("TriggerSource");
    ASSERT_TRUE(v);
    EXPECT_EQ(v.value().as_int(), 0);
}

// An expander double for the wrappers.
class memory_gpio final : public korsa_cam::sensor_board_gpio
{
public:
    memory_gpio() : sensor_board_gpio(linux_helper::sleeper([](auto) {})) {}
    void set(int pin, bool value) override
    {
        fail_if_asked();
        pins_[pin_bit_index(pin)] = value;
    }
    int get(int pin) override
    {
        fail_if_asked();
        return pins_[pin_bit_index(pin)] ? 1 : 0;
    }
    void disable_all_outputs() override { pins_ = {}; }
    bool failing = false;

private:
    static std::size_t pin_bit_index(int pin)
    {
        (void)pin_bit(pin);
        return static_cast<std::size_t>(pin);
    }
    void fail_if_asked() const
    {
        if (failing)
        {
            throw std::system_error(EREMOTEIO, std::generic_category());
        }
    }
    std::array<bool, 8> pins_{};
};

// Records the calls that must pass through a wrapper unchanged.
class forwarding_probe final : public test_support::null_sensor
{
public:
    explicit forwarding_probe(int& calls) : calls_(calls) {}
    korsa_cam::sensor_config get_connection_config() override
    {
        ++calls_;
        return {1, 4};
    }
    std::vector<korsa_cam::stream_type_desc> get_available_format_list() override
    {
        ++calls_;
        return {{img::fourcc{0x50414752}, {8, 8}, {16, 16}, {4, 4}}};
    }
    korsa_cam::framerate_data get_available_fps_list(img::img_type) override
    {
        ++calls_;
        return {1.0, 60.0};
    }
    korsa_cam::result<mmal::pi::csi_settings> setup_format(img::img_type, double fps) override
    {
        ++calls_;
        if (fps < 0)
        {
            return std::make_error_code(std::errc::result_out_of_range);
        }
        mmal::pi::csi_settings s{};
        s.data_lanes = 4;
        s.term_override = true;
        s.fps = fps;
        return s;
    }
    std::error_code start_stream() override
    {
        ++calls_;
        return {5, std::generic_category()};
    }
    std::error_code stop_stream() override
    {
        ++calls_;
        return {6, std::generic_category()};
    }
    std::error_code sensor_register_write(uint32_t a, std::span<const uint8_t> d) override
    {
        ++calls_;
        return a == 0x3000 && d.size() == 2 ? std::error_code{}
                                            : std::make_error_code(std::errc::bad_address);
    }
    std::error_code sensor_register_read(uint32_t a, std::span<uint8_t>& d) override
    {
        ++calls_;
        if (a != 0x3000 || d.empty())
        {
            return std::make_error_code(std::errc::bad_address);
        }
        d[0] = 0x42;
        return {};
    }
    bool test_reachable() override
    {
        ++calls_;
        return false;
    }

private:
    int& calls_;
};

TEST_F(Wrappers, EverySensorCallPassesThroughAndFpdLinkForcesTwoLanes)
{
    for (bool fpd : {false, true})
    {
        SCOPED_TRACE(fpd);
        int calls = 0;
        auto driver = std::make_unique<forwarding_probe>(calls);
        auto gpio = std::make_shared<memory_gpio>();
        std::unique_ptr<sensor_impl_itf> w;
        if (fpd)
            w = std::make_unique<korsa_cam::fpd_connected_sensor>(std::move(driver), gpio);
        else
            w = std::make_unique<korsa_cam::direct_connected_sensor>(std::move(driver), gpio);
        EXPECT_EQ(w->get_connection_config().num_output_lanes, 4);
        EXPECT_EQ(w->get_available_format_list().size(), 1u);
        EXPECT_EQ(w->get_available_fps_list({}).size(), 2u);
        auto s = w->setup_format({}, 25.0);
        ASSERT_TRUE(s);
        EXPECT_EQ(s.value().data_lanes, fpd ? 2u : 4u);
        EXPECT_EQ(s.value().term_override, !fpd);
        EXPECT_EQ(s.value().fps, 25.0);
        EXPECT_EQ(w->setup_format({}, -1.0).error(),
                  std::make_error_code(std::errc::result_out_of_range));
        EXPECT_EQ(w->start_stream().value(), 5);
        EXPECT_EQ(w->stop_stream().value(), 6);
        const uint8_t out[2] = {1, 2};
        EXPECT_FALSE(w->sensor_register_write(0x3000, out));
        uint8_t in[1] = {0};
        std::span<uint8_t> ins(in);
        EXPECT_FALSE(w->sensor_register_read(0x3000, ins));
        EXPECT_EQ(in[0], 0x42);
        EXPECT_FALSE(w->test_reachable());
        EXPECT_EQ(calls, 10);
        // Without "TriggerMode" there is no own property and the selector is left alone.
        EXPECT_TRUE(w->get_property_list().empty());
        EXPECT_EQ(gpio->get(6), 0);
        EXPECT_EQ(w->get_property("TriggerSource").error(),
                  std::make_error_code(std::errc::invalid_argument));
    }
}

TEST_F(Wrappers, DirectTriggerSourceIsPicoBladeOnly)
{
    auto gpio = std::make_shared<memory_gpio>();
    std::unique_ptr<sensor_impl_itf> w = std::make_unique<korsa_cam::direct_connected_sensor>(
        std::make_unique<trigger_driver>(), gpio);
    EXPECT_EQ(gpio->get(6), 1); // selected at wrapping
    EXPECT_EQ(names(*w),
              (std::vector<std::string>{"TriggerSource", "TriggerMode", "ExposureTime"}));
    const auto list = w->get_property_list();
    ASSERT_EQ(list[0].menu_entries.size(), 1u);
    EXPECT_STREQ(list[0].menu_entries[0], "PicoBlade");
    EXPECT_EQ(list[0].category, "Special");
    EXPECT_EQ(list[0].group, "Trigger");
    log_capture logs;
    EXPECT_EQ(w->set_property("TriggerSource", prop_values::from_int(1)),
              make_error_code(status::invalid_property_value));
    EXPECT_TRUE(
        logs.has(spdlog::level::warn,
                 "Invalid value=1 specified while writing to the 'TriggerSource' property"));
    EXPECT_FALSE(w->set_property("TriggerSource", prop_values::from_int(0)));
    gpio->set(6, false);
    EXPECT_EQ(w->get_property("TriggerSource").value().as_int(), 0);
    auto r = w->get_property_range("TriggerSource");
    ASSERT_TRUE(r);
    EXPECT_EQ(r.value().max.as_int(), 0);
    // Everything else reaches the driver.
    EXPECT_FALSE(w->set_property("TriggerMode", prop_values::from_int(1)));
    EXPECT_EQ(w->get_property("TriggerMode").value().as_int(), 1);
    EXPECT_EQ(w->get_property("Nope").error(), std::make_error_code(std::errc::invalid_argument));
}

TEST_F(Wrappers, FpdLinkTriggerSourceSwitchesTheSelector)
{
    auto gpio = std::make_shared<memory_gpio>();
    std::unique_ptr<sensor_impl_itf> w =
        std::make_unique<korsa_cam::fpd_connected_sensor>(std::make_unique<trigger_driver>(), gpio);
    EXPECT_EQ(gpio->get(6), 0); // left on the back channel
    const auto list = w->get_property_list();
    ASSERT_EQ(list.size(), 3u);
    ASSERT_EQ(list[0].menu_entries.size(), 2u);
    EXPECT_STREQ(list[0].menu_entries[0], "FPD-Link");
    EXPECT_STREQ(list[0].menu_entries[1], "PicoBlade");
    EXPECT_FALSE(w->set_property("TriggerSource", prop_values::from_int(1)));
    EXPECT_EQ(gpio->get(6), 1);
    EXPECT_EQ(w->get_property("TriggerSource").value().as_int(), 1);
    // Any other index selects the back channel.
    EXPECT_FALSE(w->set_property("TriggerSource", prop_values::from_int(7)));
    EXPECT_EQ(w->get_property("TriggerSource").value().as_int(), 0);
    // A bus failure at the expander is the property call's error, not an exception.
    gpio->failing = true;
    const std::error_code remote(EREMOTEIO, std::generic_category());
    EXPECT_EQ(w->set_property("TriggerSource", prop_values::from_int(1)), remote);
    EXPECT_EQ(w->get_property("TriggerSource").error(), remote);
}

TEST_F(Wrappers, DestructionReleasesTheExpanderBeforeTheDriver)
{
    struct watched_driver final : trigger_driver
    {
        explicit watched_driver(std::weak_ptr<memory_gpio> g, bool& alive_at_end)
            : gpio(std::move(g)), seen(alive_at_end)
        {}
        ~watched_driver() override { seen = !gpio.expired(); }
        std::weak_ptr<memory_gpio> gpio;
        bool& seen;
    };
    bool gpio_alive_when_driver_died = true;
    {
        auto gpio = std::make_shared<memory_gpio>();
        auto driver = std::make_unique<watched_driver>(gpio, gpio_alive_when_driver_died);
        korsa_cam::direct_connected_sensor w(std::move(driver), std::move(gpio));
    }
    EXPECT_FALSE(gpio_alive_when_driver_died);
    EXPECT_THROW(korsa_cam::fpd_connected_sensor(nullptr, nullptr), std::invalid_argument);
}

} // namespace
