#pragma once

// The bridge between the element and one open camera. It opens and closes the camera,
// forwards stream and property calls, and runs the frame hand-over: frames the camera
// delivers on its own thread are counted, filtered and queued with a bound; the element's
// streaming thread takes them one by one; every frame goes back to its camera exactly once.
// A device-lost watcher thread polls the camera while it is open.
//
// Threads and locks (the hardware camera inherits these rules):
// - The owner (the element) orders open, close, the stream calls and the settings: it calls
//   them under its own mutex or from its state changes, never two at once. `serial` is the
//   owner's to read and write under that order.
// - Property, register and device-info calls may come from any thread at any time, also
//   while another thread closes. They run under camera_mutex_, which close takes before it
//   lets go of the camera, so a call never runs on a camera being released and calls from
//   several threads reach the camera one at a time.
// - Frames: queue_mutex_ (see below); buffers come back from any thread.
// - The device-lost watcher runs on a thread of its own and reports a loss without holding
//   any lock of this object, so the report may block on the element (an end-of-stream event
//   waits for the element's state lock) while another thread closes this object. Close does
//   not wait for a report in flight: the watcher then finishes on its own and touches only
//   its own context (the camera, the serial and a copy of the callback).
//
// Frames handed out (gst_buffer_desc) do not point back at this object but at a shared
// return path (see frame_return_path.h), so a GstBuffer may be released at any time, also
// after this object is gone.

#include "camera_itf.h"
#include "fps_meter.h"
#include "frame_drop_info.h"
#include "frame_return_path.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace gst_korsa {

// What a device state reaches outside itself; tests replace these, the element keeps the
// defaults.
struct device_state_hooks
{
    using opener =
        std::function<korsa_cam::result<korsa_cam::camera_create_info>(const std::string& serial)>;

    // Opens the camera for a serial (default: the camera selection, create_camera_object).
    opener open_camera;
    // Microseconds of the clock the frame rate is measured against (default: system clock).
    std::function<int64_t()> now_us;
    // How often the device-lost watcher asks the camera whether it still answers.
    std::chrono::milliseconds poll_interval{1000};
    // Called on the closing thread as close starts to stop the watcher, before it tells the
    // watcher to stop. Tests use it to line a close up against a loss report in flight.
    std::function<void()> watcher_stopping;
};

class device_state
{
public:
    device_state();
    explicit device_state(device_state_hooks hooks);
    ~device_state();

    device_state(const device_state&) = delete;
    device_state& operator=(const device_state&) = delete;

    // Closes what is open, then opens the camera for `serial` (empty: the library's choice)
    // and starts the device-lost watcher. On failure the error is returned and nothing is
    // open; `serial` then holds the serial asked for, so the next open asks for it again.
    std::error_code open(const std::string& serial);
    // Stops and closes the stream, stops the watcher and lets go of the camera. `serial`
    // stays: the owner reopens the same camera on its next run. Safe against property calls
    // on other threads; waits for one that runs. Also safe on the watcher thread itself (an
    // application reacting to the loss report from inside it).
    void close();

    bool is_open() const;

    // Property, register and device-info calls: any thread, any time (see above). Without a
    // camera they answer empty, -1 or the generic error 9 (bad file descriptor).
    std::string get_device_name();
    std::vector<korsa_cam::device_info> get_device_list();
    std::vector<korsa_cam::stream_type_desc> get_available_stream_types();
    korsa_cam::framerate_data get_available_fps(img::img_type type);

    // Without a camera these answer with the generic error 9 (bad file descriptor).
    korsa_cam::result<int> setup_stream(img::img_type type, double fps);
    std::error_code start_stream();
    // Stops the camera, returns every queued frame to it and wakes a waiting taker.
    void stop_stream();
    void close_stream();

    // While flushing, arriving frames are dropped and wait_for_next_img answers at once.
    // Turning it on returns every queued frame to the camera.
    void set_flushing_state(bool flushing);

    // The streaming thread's call (not to overlap with open or close, which the element
    // orders). Blocks until a frame is queued. Answers (frame, false), or (none, true) while
    // flushing, or (none, false) when no camera is open or it no longer streams (end of stream).
    std::pair<gst_buffer_desc_ptr, bool> wait_for_next_img();

    // The camera's delivery callback.
    void receive_buffer(korsa_cam::buffer_desc buffer);

    // Returns a frame taken with wait_for_next_img: by id to the current stream's camera, or
    // by record to the camera and stream the frame came from.
    void requeue_buffer(korsa_cam::buffer_id_type id);
    void requeue_buffer(gst_buffer_desc_ptr desc);

    // Raw sensor register access for debugging: -1 when unavailable.
    int sensor_debug_get(int address);
    std::error_code sensor_debug_set(int address, int value);

    // The camera's properties plus "ShowOverlay", which is answered here. The list is cached
    // until close; the snapshot handed out stays valid for as long as the caller holds it,
    // also across a close. Empty without a camera.
    using property_list = std::shared_ptr<const std::vector<korsa_cam::property_desc>>;
    property_list get_property_list();
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view name);
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view name);
    std::error_code set_property(std::string_view name, korsa_cam::prop_values value);

    // Draws the frame-information lines into a frame (with the current measured frame rate).
    void apply_overlay(img::img_descriptor& image, const korsa_cam::frame_info& info,
                       const frame_drop_info& drops);

    frame_drop_info drop_info() const;
    double measured_fps() const;
    // Frames of the current stream accepted into the queue and not yet returned.
    int buffers_out() const;
    bool is_flushing() const noexcept { return flushing_.load(); }

    // The camera asked for or opened last (for an empty request, the one actually opened).
    // Kept across close; the owner clears it when the application clears its serial.
    std::string serial;

    // Settings the element writes.
    std::atomic<bool> drop_incomplete{false};
    std::atomic<bool> show_overlay{false};
    bool debug_properties_enabled = false;
    // The most frames out of the camera's hands at once (queued plus held downstream), and
    // the buffer count the camera is set up with.
    std::atomic<int> max_queued_buffers{2};

    // Called with the serial on the watcher thread when the camera stops answering, with no
    // lock of this object held. The watcher takes a copy when the camera opens, so the copy
    // must stay callable after this object is gone (a report may still be in flight then);
    // it may close this device state (through the element) but not destroy it.
    std::function<void(const std::string&)> device_lost_callback;

private:
    struct queued_frame
    {
        korsa_cam::buffer_desc buffer;
        std::shared_ptr<frame_return_path> path;
    };

    // What the watcher thread works with: shared between it and this object, so that a
    // watcher still reporting after close (which then does not wait for it) touches nothing
    // of this object.
    struct watcher_context
    {
        // Guards `stop` and `reporting`, with `cv` to wake the wait early. The camera's
        // reachability test runs with it held, so close waits for a running test; the loss
        // report runs without it. Called while holding it: the camera's test_reachable only
        // (which takes no device-state lock); never on_lost, the element, or queue_mutex_.
        std::mutex mutex;
        std::condition_variable cv;
        bool stop = false;
        bool reporting = false; // decided to report: close then leaves the thread alone

        std::shared_ptr<korsa_cam::camera_itf> camera;
        std::string serial;
        std::function<void(const std::string&)> on_lost;
        std::chrono::milliseconds interval{1000};
    };

    static void watch_device(const std::shared_ptr<watcher_context>& context);
    void stop_watcher();
    std::shared_ptr<korsa_cam::camera_itf> current_camera() const;
    // Frames from `cam`, the camera this stream was set up on (it calls this itself, so it is
    // alive for the call).
    void receive_from(korsa_cam::camera_itf& cam, korsa_cam::buffer_desc buffer);
    // Hands queued frames back to their cameras.
    static void return_frames(std::vector<queued_frame>& frames);

    device_state_hooks hooks_;

    // Guards camera_ and property_cache_, and is held for the whole of every property,
    // register and device-info call (see the top of this file). Called while holding it:
    // the camera's property, register, format-list and device-info operations; never its
    // stream operations (they run on a copy of camera_ taken under it), the camera
    // selection (open calls it before taking this), the element or the device-lost
    // callback. Order: before the camera's own locks and
    // before queue_mutex_; never taken while holding queue_mutex_ or the watcher's mutex.
    mutable std::mutex camera_mutex_;
    std::shared_ptr<korsa_cam::camera_itf> camera_;
    property_list property_cache_;

    std::atomic<bool> stream_set_up_{false};

    // Guards the queue, the flushing flag's changes, path_, the frame-rate measurement and
    // the drop counters; queue_cv_ wakes wait_for_next_img. Called while holding it: the
    // camera's is_streaming and (through frame_return_path) reenqueue_buffer, nothing else
    // of the camera; so a camera's own locks come after it, and the camera must not call
    // receive_buffer while holding a lock those two take. Never called while holding it:
    // the element, GStreamer, the device-lost callback, camera_mutex_.
    mutable std::mutex queue_mutex_;
    std::condition_variable queue_cv_;
    std::vector<queued_frame> queue_;
    std::atomic<bool> flushing_{false};
    std::shared_ptr<frame_return_path> path_; // of the current stream; empty when closed
    fps_meter fps_;
    frame_drop_info drop_info_;

    // The watcher of the open camera. Only open and close touch these (the owner's order).
    std::thread poll_thread_;
    std::shared_ptr<watcher_context> watcher_;
};

// Reads an on/off environment switch: set and a nonzero base-10 number means on.
bool read_env_switch(const char* name);

} // namespace gst_korsa
