#pragma once

// Shared pieces of the bring-up tests: reading the bus trace by chip and register, board
// texts, a pause recorder tied to the trace, and a driver double with "TriggerMode".

#include "board_test_support.h"
#include "null_sensor.h"
#include "property_handler.h"
#include "property_ranges.h"
#include "recording_sleeper.h"
#include "standard_properties.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bringup_test {

// Register writes (first byte register, second value) to one chip, in bus order; only
// writes that went through.
inline std::vector<std::pair<uint8_t, uint8_t>> register_writes(int address)
{
    std::vector<std::pair<uint8_t, uint8_t>> out;
    for (const auto& x : korsa_sim::trace())
    {
        if (x.address == address && !x.read && x.error == 0 && x.data.size() == 2)
        {
            out.emplace_back(x.data[0], x.data[1]);
        }
    }
    return out;
}

// Every message to one chip (successful or not).
inline std::vector<korsa_sim::xfer> messages_to(int address)
{
    std::vector<korsa_sim::xfer> out;
    for (auto& x : korsa_sim::trace())
    {
        if (x.address == address)
        {
            out.push_back(std::move(x));
        }
    }
    return out;
}

// Register writes to one chip carrying this register, in bus order.
inline std::vector<uint8_t> values_written(int address, uint8_t reg)
{
    std::vector<uint8_t> out;
    for (const auto& [r, v] : register_writes(address))
    {
        if (r == reg)
        {
            out.push_back(v);
        }
    }
    return out;
}

inline std::size_t transaction_count()
{
    std::set<unsigned long> numbers;
    for (const auto& x : korsa_sim::trace())
    {
        numbers.insert(x.transaction);
    }
    return numbers.size();
}

// A recorder whose pauses know their place in the bus trace.
inline test_support::recording_sleeper trace_sleeper()
{
    return test_support::recording_sleeper([] { return korsa_sim_trace_size(); });
}

inline std::vector<long> pause_ms(const test_support::recording_sleeper& s)
{
    std::vector<long> out;
    for (const auto& p : s.pauses())
    {
        out.push_back(static_cast<long>(p.duration.count()));
    }
    return out;
}

// A board on bus 10 of a current Pi, from chip groups.
inline std::string board_text(const std::string& chips)
{
    return "[board]\nbuses=10\n[pi]\nkernel_release=5.10.63-v7l+\nrevision=00c03111\n" + chips;
}

inline std::string chip(const std::string& name, const std::string& keys)
{
    return "[chip:" + name + "]\nbus=10\n" + keys + "\n";
}

// A driver double: sensor_config of its choice, "TriggerMode" when asked for, and a count of
// the calls that reach it.
class trigger_driver : public test_support::null_sensor_hardware,
                       protected korsa_cam::property_handler
{
public:
    explicit trigger_driver(korsa_cam::sensor_config config = {}, bool with_trigger_mode = true)
        : config_(config)
    {
        namespace sp = korsa_cam::standard_properties;
        if (with_trigger_mode)
        {
            add_menu(
                sp::trigger_mode(), korsa_cam::make_menu_range(sp::trigger_mode(), 0),
                [this](int32_t v) { return (trigger_ = v), std::error_code{}; },
                [this]() -> korsa_cam::result<int32_t> { return trigger_; });
        }
        add_real(
            sp::exposure_time(), korsa_cam::make_real_range(10, 1e6, 1000, 1),
            [this](double v) { return (exposure_ = v), std::error_code{}; },
            [this]() -> korsa_cam::result<double> { return exposure_; });
    }

    korsa_cam::sensor_config get_connection_config() override { return config_; }

private:
    korsa_cam::sensor_config config_;
    int32_t trigger_ = 0;
    double exposure_ = 1000;
};

} // namespace bringup_test
