// One hardware pipeline (velakorsasrc ! fakesink, the plug-in as GStreamer finds it on its
// plug-in path) taken NULL -> PLAYING -> NULL many times in one process, each time until a
// frame reached the sink; then GStreamer is shut down, so a tracer watching object lifetimes
// (GST_TRACERS=leaks) reports whatever is still alive.
//
//   pipeline_cycles [CYCLES] [--keep-one-buffer]
//
// (default 500 cycles; needs the simulated board preloaded). --keep-one-buffer holds on to
// the first frame for ever, a known leak that shows the tracer's report is read right.
//
// Exit status 0 when every cycle streamed, 1 when one did not, 2 when it cannot run.

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct frames_seen
{
    std::mutex mutex; // guards count; the handoff runs on the streaming thread
    std::condition_variable cv;
    unsigned long count = 0;
    bool keep_one = false;

    static void on_handoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer self)
    {
        auto* seen = static_cast<frames_seen*>(self);
        {
            std::lock_guard lock(seen->mutex);
            if (seen->keep_one && seen->count == 0)
            {
                gst_buffer_ref(buffer); // never given back, on purpose
            }
            ++seen->count;
        }
        seen->cv.notify_all();
    }

    bool wait_beyond(unsigned long before)
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return count > before; });
    }
};

int run(int cycles, bool keep_one)
{
    GError* error = nullptr;
    GstElement* pipeline =
        gst_parse_launch("velakorsasrc ! fakesink name=sink signal-handoffs=true", &error);
    if (pipeline == nullptr)
    {
        std::fprintf(stderr, "pipeline_cycles: %s\n", error != nullptr ? error->message : "");
        g_clear_error(&error);
        return 2;
    }
    gst_object_ref_sink(pipeline);
    frames_seen seen;
    seen.keep_one = keep_one;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_signal_connect(sink, "handoff", G_CALLBACK(frames_seen::on_handoff), &seen);
    gst_object_unref(sink);

    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i)
    {
        unsigned long before = 0;
        {
            std::lock_guard lock(seen.mutex);
            before = seen.count;
        }
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
            !seen.wait_beyond(before))
        {
            std::fprintf(stderr, "pipeline_cycles: cycle %d did not stream\n", i + 1);
            status = 1;
        }
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (status != 0)
        {
            break;
        }
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("pipeline_cycles: %d cycles in %.1f s (%.1f ms each), %lu frames\n", cycles, took,
                1000.0 * took / cycles, seen.count);
    gst_object_unref(pipeline);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    int cycles = 500;
    bool keep_one = false;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--keep-one-buffer") == 0)
        {
            keep_one = true;
        }
        else
        {
            cycles = std::max(1, std::atoi(argv[i]));
        }
    }
    const int status = run(cycles, keep_one);
    // The tracer lists the objects still alive here.
    gst_deinit();
    return status;
}
