// Wall time of the element's camera open (NULL -> READY) on a simulated board: the camera
// selection, the factory with its lock, the board bring-up and the caps. The first open in a
// run brings the board up; the factory then keeps the camera, so each run here lets go of the
// kept camera first to measure a full bring-up, and also measures an open that reuses it.
// The bus traffic is counted and converted to its time at 400 kHz; the mandated sleeps of the
// bring-up are those bench/bringup_timing prints for the same board.
//
//   KORSA_SIM_BOARD=sim/board/boards/imx290-direct.board KORSA_SIM_LOCK_DIR=/tmp
//   LD_PRELOAD=build/plain/sim/board/libkorsa_board_sim.so build/plain/bench/open_timing [runs]
//
// (all three on the one command line.)

#include "gst_src_impl.h"
#include "pi_cam_factory.h"

#include "korsa_sim/board_sim.hpp"

#include <gst/gst.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

namespace {

std::size_t wire_bytes(std::size_t& transactions)
{
    std::size_t bytes = 0;
    std::set<unsigned long> numbers;
    for (const auto& x : korsa_sim::trace())
    {
        numbers.insert(x.transaction);
        bytes += 1 + (x.read ? x.requested : x.data.size());
    }
    transactions = numbers.size();
    return bytes;
}

double open_ms(GstElement* src)
{
    const auto start = std::chrono::steady_clock::now();
    const GstStateChangeReturn r = gst_element_set_state(src, GST_STATE_READY);
    const auto end = std::chrono::steady_clock::now();
    if (r == GST_STATE_CHANGE_FAILURE)
    {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (korsa_sim_active() == 0 || !gst_plugin_velakorsasrc_register())
    {
        fmt::print(stderr, "needs the simulated board preloaded and KORSA_SIM_BOARD set\n");
        return 2;
    }
    GstElement* src = gst_element_factory_make("velakorsasrc", nullptr);
    gst_object_ref_sink(src);
    std::vector<double> fresh;
    std::vector<double> reused;
    std::size_t transactions = 0;
    std::size_t bytes = 0;
    for (int i = 0; i < runs; ++i)
    {
        {
            std::lock_guard lock(korsa_cam::g_cam_holder_mtx_);
            korsa_cam::g_static_camera_keep_alive.camera.reset();
            korsa_cam::g_static_camera_keep_alive.serial.clear();
        }
        korsa_sim_reset();
        const double ms = open_ms(src);
        if (ms < 0)
        {
            fmt::print(stderr, "the camera does not open\n");
            return 1;
        }
        fresh.push_back(ms);
        bytes = wire_bytes(transactions);
        gst_element_set_state(src, GST_STATE_NULL);
        reused.push_back(open_ms(src));
        gst_element_set_state(src, GST_STATE_NULL);
    }
    gst_object_unref(src);
    const double bus_ms = static_cast<double>(bytes) * 9.0 / 400000.0 * 1000.0;
    fmt::print("board: {}\n", std::getenv("KORSA_SIM_BOARD"));
    fmt::print("runs: {}\n", runs);
    fmt::print("bring-up bus transactions: {}, bytes on the wire: {}, at 400 kHz: {:.1f} ms\n",
               transactions, bytes, bus_ms);
    fmt::print("NULL->READY with bring-up: median {:.1f} ms (min {:.1f}, max {:.1f})\n",
               median(fresh), *std::min_element(fresh.begin(), fresh.end()),
               *std::max_element(fresh.begin(), fresh.end()));
    fmt::print("NULL->READY reusing the kept camera: median {:.2f} ms\n", median(reused));
    gst_deinit();
    return 0;
}
