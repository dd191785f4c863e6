// Soak run of the hardware camera on a simulated board: velakorsasrc ! fakesink at the
// sensor's full rate for a given time, with a consumer that keeps every buffer for a random
// time (up to a few frame periods) and lets it go on a thread of its own. Afterwards every
// capture buffer must be back with the receiver (none lost), and the process's memory,
// descriptors and threads must not have grown between the end of the warm-up and the end.
//
//   KORSA_SIM_BOARD=sim/board/boards/imx290-direct.board
//   LD_PRELOAD=build/plain/sim/board/libkorsa_board_sim.so build/plain/bench/soak SECONDS
//
// (both on the one command line; scripts/soak.sh sets this up). Exit status 0 when everything held,
// 1 otherwise.

#include "gst_src_impl.h"

#include "korsa_sim/board_sim.h"
#include "korsa_vc_sim/vc_sim_hooks.h"

#include <gst/gst.h>

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

struct process_figures
{
    long rss_kib = 0;
    int fds = 0;
    int threads = 0;
};

process_figures read_figures()
{
    process_figures f;
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key)
    {
        if (key == "VmRSS:")
        {
            status >> f.rss_kib;
        }
        else if (key == "Threads:")
        {
            status >> f.threads;
        }
        std::getline(status, key);
    }
    if (DIR* dir = ::opendir("/proc/self/fd"))
    {
        while (const dirent* e = ::readdir(dir))
        {
            f.fds += e->d_name[0] != '.' ? 1 : 0;
        }
        ::closedir(dir);
        f.fds -= 1; // the one opendir holds
    }
    return f;
}

// Buffers the consumer holds, each until its own time; released on the releaser's thread.
class holder
{
public:
    holder() : thread_([this] { run(); }) {}
    ~holder()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    void keep(GstBuffer* buffer, clock_type::time_point until)
    {
        {
            std::lock_guard lock(mutex_);
            held_.push_back({buffer, until});
            peak_ = std::max(peak_, held_.size());
        }
        cv_.notify_all();
    }
    std::size_t peak() const
    {
        std::lock_guard lock(mutex_);
        return peak_;
    }

private:
    struct entry
    {
        GstBuffer* buffer;
        clock_type::time_point until;
    };

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;)
        {
            if (held_.empty())
            {
                if (stop_)
                {
                    return;
                }
                cv_.wait(lock);
                continue;
            }
            // The earliest due buffer goes first; the others wait their turn.
            auto due = std::min_element(held_.begin(), held_.end(),
                                        [](auto& a, auto& b) { return a.until < b.until; });
            if (!stop_ && clock_type::now() < due->until)
            {
                cv_.wait_until(lock, due->until);
                continue;
            }
            GstBuffer* buffer = due->buffer;
            held_.erase(due);
            lock.unlock();
            gst_buffer_unref(buffer); // the frame goes home from this thread
            lock.lock();
        }
    }

    mutable std::mutex mutex_; // guards held_, peak_, stop_; nothing is called under it
    std::condition_variable cv_;
    std::deque<entry> held_;
    std::size_t peak_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

// What the consumer saw, counted on the streaming thread.
struct consumer
{
    holder keeper;
    std::mt19937 random{12345};
    double period_ms = 0;
    std::atomic<std::uint64_t> pulled{0};
    std::atomic<std::uint64_t> gaps{0}; // frames the element dropped (the consumer was slow)
    std::uint32_t last_number = 0;

    static void on_handoff(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer self)
    {
        static_cast<consumer*>(self)->take(buffer, pad);
    }

    void take(GstBuffer* buffer, GstPad* pad)
    {
        if (period_ms == 0)
        {
            g_autoptr(GstCaps) caps = gst_pad_get_current_caps(pad);
            int num = 0;
            int den = 1;
            if (caps != nullptr)
            {
                gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &num,
                                           &den);
                g_autofree gchar* text = gst_caps_to_string(caps);
                fmt::print("soak: {}\n", text);
            }
            period_ms = num > 0 ? 1000.0 * den / num : 16.0;
        }
        // The simulated receiver writes its frame number into each frame; a jump is a frame
        // the element dropped because the consumer held too many.
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ))
        {
            const std::uint32_t number = korsa_vc_sim_frame_number(map.data);
            gst_buffer_unmap(buffer, &map);
            if (pulled > 0 && number > last_number + 1)
            {
                gaps += number - last_number - 1;
            }
            last_number = number;
        }
        ++pulled;
        // Held up to ten frame periods: often longer than the queue allows, so the element
        // drops and counts, and buffers come back out of order and from another thread.
        std::uniform_real_distribution<double> hold(0.0, 10000.0 * period_ms);
        keeper.keep(gst_buffer_ref(buffer),
                    clock_type::now() + std::chrono::microseconds(static_cast<long>(hold(random))));
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    gst_init(&argc, &argv);
    if (korsa_sim_active() == 0)
    {
        fmt::print(stderr, "soak: needs the simulated board preloaded and KORSA_SIM_BOARD set\n");
        return 2;
    }
    if (!gst_plugin_velakorsasrc_register())
    {
        return 2;
    }
    g_autoptr(GError) error = nullptr;
    g_autoptr(GstElement) pipeline =
        gst_parse_launch("velakorsasrc max-queued-gst-buffers=6 ! "
                         "fakesink name=sink sync=false signal-handoffs=true",
                         &error);
    if (pipeline == nullptr)
    {
        fmt::print(stderr, "soak: {}\n", error->message);
        return 2;
    }
    gst_object_ref_sink(pipeline);
    g_autoptr(GstBus) bus = gst_element_get_bus(pipeline);
    korsa_vc_sim_reset_counters();

    bool failed = false;
    process_figures warm{};
    process_figures peak{};
    std::uint64_t pulled = 0;
    {
        consumer sink_side;
        {
            g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
            g_signal_connect(sink, "handoff", G_CALLBACK(consumer::on_handoff), &sink_side);
        }
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        {
            fmt::print(stderr, "soak: the pipeline does not start\n");
            return 1;
        }
        const auto start = clock_type::now();
        const int warm_up = std::min(5, seconds / 4);
        std::uint64_t seen = 0;
        for (int second = 1; second <= seconds && !failed; ++second)
        {
            // One second of streaming, watching the bus.
            const auto until = start + std::chrono::seconds(second);
            const auto left =
                std::chrono::duration_cast<std::chrono::nanoseconds>(until - clock_type::now());
            g_autoptr(GstMessage) msg =
                gst_bus_timed_pop_filtered(bus, std::max<GstClockTime>(0, left.count()),
                                           GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
            if (msg != nullptr)
            {
                fmt::print(stderr, "soak: {} on the bus\n", GST_MESSAGE_TYPE_NAME(msg));
                failed = true;
                break;
            }
            const std::uint64_t now_pulled = sink_side.pulled.load();
            if (now_pulled == seen)
            {
                fmt::print(stderr, "soak: no frame for a second\n");
                failed = true;
            }
            seen = now_pulled;
            const process_figures now = read_figures();
            if (second == warm_up)
            {
                warm = now;
                peak = now;
            }
            else if (second > warm_up)
            {
                peak.rss_kib = std::max(peak.rss_kib, now.rss_kib);
                peak.fds = std::max(peak.fds, now.fds);
                peak.threads = std::max(peak.threads, now.threads);
            }
        }
        const double took = std::chrono::duration<double>(clock_type::now() - start).count();
        pulled = sink_side.pulled.load();
        fmt::print("soak: {:.1f} s, {} buffers ({:.1f}/s), {} frames dropped by the element, "
                   "most held at once {}\n",
                   took, pulled, pulled / took, sink_side.gaps.load(), sink_side.keeper.peak());
        // Stopped before the consumer goes, so no handoff reaches it afterwards; the
        // consumer's end then releases every buffer it still holds, after the stream closed.
        gst_element_set_state(pipeline, GST_STATE_NULL);
    }
    const process_figures last = read_figures();

    korsa_vc_sim_stats stats{};
    korsa_vc_sim_get_stats(&stats);
    fmt::print("soak: receiver delivered {} frames; headers alive {}, out at pool destroy {}, "
               "invalid releases {}, invalid sends {}, pools alive {}\n",
               stats.frames_delivered, stats.live_headers, stats.headers_out_at_pool_destroy,
               stats.invalid_header_releases, stats.invalid_sends, stats.live_pools);
    fmt::print("soak: after warm-up rss {} KiB, fds {}, threads {}; peak rss {} KiB, fds {}, "
               "threads {}; at the end rss {} KiB, fds {}, threads {}\n",
               warm.rss_kib, warm.fds, warm.threads, peak.rss_kib, peak.fds, peak.threads,
               last.rss_kib, last.fds, last.threads);
    const bool lost = stats.live_headers != 0 || stats.headers_out_at_pool_destroy != 0 ||
                      stats.invalid_header_releases != 0 || stats.invalid_sends != 0 ||
                      stats.live_pools != 0;
    // Allocators keep some slack; a leak per frame grows far beyond this over the run.
    const bool grew =
        peak.rss_kib > warm.rss_kib + 2048 || peak.fds > warm.fds || peak.threads > warm.threads;
    if (lost)
    {
        fmt::print(stderr, "soak: FAILED: capture buffers not all returned\n");
    }
    if (grew)
    {
        fmt::print(stderr, "soak: FAILED: memory, descriptors or threads grew\n");
    }
    const bool ok = !failed && !lost && !grew && pulled > 0;
    fmt::print("soak: {}\n", ok ? "PASS" : "FAILED");
    return ok ? 0 : 1;
}
