// Time of a complete sensor detection (create_sensor_itf) on a simulated board, with the real
// pauses: the mandated sleeps, the bus transactions and bytes, the bus time they would take
// at 400 kHz, and the measured wall time. Run it with the simulated board preloaded:
//
//   KORSA_SIM_BOARD=sim/board/boards/imx290-direct.board
//   LD_PRELOAD=build/plain/sim/board/libkorsa_board_sim.so build/plain/bench/bringup_timing [runs]
//
// (both variables on the command line of the one program).
//
// The simulator answers at once, so the wall time is the sleeps plus the software's own
// cost; the bus time is what the same traffic would add on a real 400 kHz bus.

#include "korsa_sim/board_sim.hpp"
#include "library_logger.h"
#include "sensor_dispatch.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

struct traffic
{
    std::size_t transactions = 0;
    std::size_t bytes = 0; // device address byte plus data bytes of every message
};

traffic count_traffic()
{
    traffic t;
    std::set<unsigned long> numbers;
    for (const auto& x : korsa_sim::trace())
    {
        numbers.insert(x.transaction);
        t.bytes += 1 + (x.read ? x.requested : x.data.size());
    }
    t.transactions = numbers.size();
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const char* board = std::getenv("KORSA_SIM_BOARD");
    if (korsa_sim_active() == 0 || board == nullptr)
    {
        fmt::print(stderr, "needs the simulated board preloaded and KORSA_SIM_BOARD set\n");
        return 2;
    }
    // The bring-up's info lines would only clutter the figures.
    gstlog::default_gst_logger_raw()->set_level(spdlog::level::warn);
    std::vector<double> wall_ms;
    std::chrono::milliseconds slept{0};
    traffic t;
    for (int i = 0; i < runs; ++i)
    {
        korsa_sim_reset();
        slept = std::chrono::milliseconds(0);
        linux_helper::sleeper pause([&](std::chrono::milliseconds d) {
            slept += d;
            linux_helper::sleeper::real_sleep(d);
        });
        const auto start = std::chrono::steady_clock::now();
        auto r = korsa_cam::sensor::create_sensor_itf({}, pause);
        const auto end = std::chrono::steady_clock::now();
        if (!r)
        {
            fmt::print(stderr, "bring-up failed: {}\n", r.error().message());
            return 1;
        }
        wall_ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        t = count_traffic();
    }
    std::sort(wall_ms.begin(), wall_ms.end());
    const double median = wall_ms[wall_ms.size() / 2];
    const double bus_ms = static_cast<double>(t.bytes) * 9.0 / 400000.0 * 1000.0;
    const double expected = static_cast<double>(slept.count()) + bus_ms;
    fmt::print("board: {}\n", board);
    fmt::print("runs: {}\n", runs);
    fmt::print("mandated sleeps: {} ms\n", slept.count());
    fmt::print("bus transactions: {}, bytes on the wire: {}\n", t.transactions, t.bytes);
    fmt::print("bus time at 400 kHz (9 clocks a byte): {:.1f} ms\n", bus_ms);
    fmt::print("sleeps + bus time: {:.1f} ms\n", expected);
    fmt::print("wall time: median {:.1f} ms, min {:.1f} ms, max {:.1f} ms\n", median,
               wall_ms.front(), wall_ms.back());
    fmt::print("median wall - sleeps (software; the simulator spends no bus time): {:.1f} ms\n",
               median - static_cast<double>(slept.count()));
    fmt::print("median wall / (sleeps + bus time): {:.3f}\n", median / expected);
    return 0;
}
