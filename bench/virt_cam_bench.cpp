// The virtual camera at 1920x1080 with period 0 against plain memset of the same buffers:
// filling is the work, so frames per second should come close to memset's rate.

#include "virt_camera.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

const img::img_type full_hd = img::make_img_type(img::fcc::BGDP, {1920, 1080});
constexpr int buffer_count = 2; // the element's default: 7 buffers in the camera

void BM_VirtCamFramesPeriodZero(benchmark::State& state)
{
    auto cam = gst_korsa::create_virt_cam();
    std::mutex m;
    std::condition_variable cv;
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> wake_at{1};
    // The consumer gives each frame straight back and wakes the benchmark only now and then,
    // so that waking it costs the generator next to nothing.
    auto callback = [&](korsa_cam::buffer_desc d) {
        cam->reenqueue_buffer(d.buffer_id);
        if (++delivered >= wake_at)
        {
            std::lock_guard lock(m);
            cv.notify_one();
        }
    };
    if (!cam->setup_stream(full_hd, 1.0e6, callback, buffer_count) || cam->start_streaming())
    {
        state.SkipWithError("cannot stream");
        return;
    }
    auto wait_for = [&](uint64_t n) {
        std::unique_lock lock(m);
        wake_at = n;
        cv.wait(lock, [&] { return delivered >= n; });
        return delivered.load();
    };
    const uint64_t first = wait_for(1);
    uint64_t seen = first;
    // One iteration lasts until 20 more frames have arrived.
    for (auto _ : state)
    {
        seen = wait_for(seen + 20);
    }
    cam->stop_streaming();
    state.SetItemsProcessed(static_cast<int64_t>(seen - first));
}
BENCHMARK(BM_VirtCamFramesPeriodZero)->UseRealTime()->MinTime(3.0);

void BM_MemsetSameBuffers(benchmark::State& state)
{
    std::vector<std::vector<std::byte>> buffers(buffer_count + 5,
                                                std::vector<std::byte>(full_hd.buffer_length));
    std::size_t next = 0;
    int level = 0;
    for (auto _ : state)
    {
        std::memset(buffers[next].data(), level++ & 0xFF, buffers[next].size());
        benchmark::ClobberMemory();
        next = (next + 1) % buffers.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_MemsetSameBuffers)->UseRealTime()->MinTime(3.0);

} // namespace
