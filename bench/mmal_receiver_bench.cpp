// Per-frame cost of the receiver path: MMAL callback -> port trampoline -> receiver wrapper
// -> user callback -> requeue_buffer -> send back to the port. The simulated layer delivers
// on the benchmark thread without filling the payload, so the figure excludes the fill.

#include "pi_rawcam.h"

#include "korsa_vc_sim/vc_sim_hooks.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cstdint>

namespace {

void receiver_frame_path(benchmark::State& state)
{
    spdlog::set_level(spdlog::level::warn);
    korsa_vc_sim_set_delivery_mode(KORSA_VC_SIM_DELIVERY_MANUAL);

    mmal::pi::csi_settings settings;
    settings.width = static_cast<int32_t>(state.range(0));
    settings.height = static_cast<uint32_t>(state.range(1));
    settings.bayer = mmal::bayer_order::rggb;
    settings.bit_depth = 10;
    settings.fps = 30.0;

    mmal::pi::raspirawcam_component receiver;
    if (receiver.setup(settings, 2, 0))
    {
        state.SkipWithError("setup failed");
        return;
    }
    uint64_t frames = 0;
    uint64_t checksum = 0;
    const auto ec = receiver.start([&](mmal::buffer_header& b) {
        ++frames;
        checksum += b.length() + static_cast<uint64_t>(b.pts());
        receiver.requeue_buffer(b.release());
    });
    if (ec)
    {
        state.SkipWithError("start failed");
        return;
    }
    MMAL_PORT_T* port = korsa_vc_sim_rawcam_output();
    for (auto _ : state)
    {
        if (korsa_vc_sim_deliver_inline(port, 0) != 1)
        {
            state.SkipWithError("no frame delivered");
            break;
        }
    }
    benchmark::DoNotOptimize(checksum);
    receiver.stop();
    receiver.close();
    state.counters["frames"] = static_cast<double>(frames);
}

BENCHMARK(receiver_frame_path)->Args({1920, 1080})->Args({640, 480});

} // namespace

BENCHMARK_MAIN();
