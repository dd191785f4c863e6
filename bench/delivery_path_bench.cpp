// CPU per frame of the whole delivery path of the hardware camera on a simulated board:
// receiver callback -> camera object -> device state queue -> the element's create on the
// streaming thread -> push into a fakesink -> release -> requeue at the receiver's port.
// The simulated receiver delivers on the benchmark thread on demand and without filling the
// payload, so the figure is everything but the fill. CPU time is the whole process's (both
// threads), per frame.
//
//   KORSA_SIM_BOARD=sim/board/boards/imx290-direct.board KORSA_SIM_LOCK_DIR=/tmp
//   LD_PRELOAD=build/plain/sim/board/libkorsa_board_sim.so build/plain/bench/delivery_path_bench
//
// (all three on the one command line.)

#include "gst_src_impl.h"

#include "korsa_sim/board_sim.h"
#include "korsa_vc_sim/vc_sim_hooks.h"

#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sched.h>

namespace {

// Frames that reached the sink; the benchmark thread sleeps on the condition variable until
// the streaming thread pushed the frame it delivered (no spinning, which would count as CPU).
std::mutex g_mutex; // guards g_pushed; nothing is called under it
std::condition_variable g_cv;
std::uint64_t g_pushed = 0;

void on_handoff(GstElement*, GstBuffer*, GstPad*, gpointer)
{
    {
        std::lock_guard lock(g_mutex);
        ++g_pushed;
    }
    g_cv.notify_one();
}

std::uint64_t pushed()
{
    std::lock_guard lock(g_mutex);
    return g_pushed;
}

void wait_pushed_beyond(std::uint64_t count)
{
    std::unique_lock lock(g_mutex);
    g_cv.wait(lock, [&] { return g_pushed > count; });
}

void delivery_path(benchmark::State& state)
{
    if (korsa_sim_active() == 0)
    {
        state.SkipWithError("needs the simulated board preloaded and KORSA_SIM_BOARD set");
        return;
    }
    korsa_vc_sim_set_delivery_mode(KORSA_VC_SIM_DELIVERY_MANUAL);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GstElement) pipeline = gst_parse_launch(
        "velakorsasrc do-timestamp=false ! fakesink name=sink sync=false signal-handoffs=true",
        &error);
    if (pipeline == nullptr)
    {
        state.SkipWithError("no pipeline");
        return;
    }
    gst_object_ref_sink(pipeline);
    {
        g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
        g_signal_connect(sink, "handoff", G_CALLBACK(on_handoff), nullptr);
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
    {
        state.SkipWithError("the pipeline does not start");
        return;
    }
    MMAL_PORT_T* port = nullptr;
    // Set up happens on the streaming thread; the port exists once it has.
    while ((port = korsa_vc_sim_rawcam_output()) == nullptr ||
           korsa_vc_sim_deliver_inline(port, 0) != 1)
    {
        sched_yield();
    }
    wait_pushed_beyond(0);
    std::uint64_t frames = 0;
    for (auto _ : state)
    {
        const std::uint64_t before = pushed();
        // One frame in; this thread then sleeps until the streaming thread pushed it, so
        // frames never pile up and each is the whole road on its own. (A port without a
        // buffer, the last one not yet released by the sink, is rare: yield and try again.)
        while (korsa_vc_sim_deliver_inline(port, 0) != 1)
        {
            sched_yield();
        }
        wait_pushed_beyond(before);
        ++frames;
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    korsa_vc_sim_stats stats{};
    korsa_vc_sim_get_stats(&stats);
    state.counters["headers_alive_after"] = static_cast<double>(stats.live_headers);
}

// Process CPU time: the delivering thread and the streaming thread together.
BENCHMARK(delivery_path)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);
// Fixed frame counts for instruction counting: under callgrind, the difference between the
// two runs' totals over 2000 is the instructions per frame, without the set-up and tear-down
// (see README, "Tests and benchmarks").
BENCHMARK(delivery_path)->Name("delivery_path_1000")->Iterations(1000);
BENCHMARK(delivery_path)->Name("delivery_path_3000")->Iterations(3000);

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    if (!gst_plugin_velakorsasrc_register())
    {
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
