#pragma once

// The abstract camera the GStreamer side drives: the hardware camera and the virtual
// camera both implement it.
//
// Rules an implementation keeps (the device state, device_state_impl.h, relies on them):
// - Threads. The owner's threads (the element's state changes and streaming thread, through
//   the device state) call the stream operations one at a time: setup_stream, start_streaming,
//   stop_streaming and close_stream never overlap each other. Property, register, format and
//   device-info calls come from any application thread, serialised by the device state but
//   at any time relative to streaming. The frame callback runs on the camera's own delivery
//   thread. reenqueue_buffer and is_streaming come from any thread (the streaming thread,
//   the delivery thread inside the callback, whichever thread downstream releases a buffer
//   on), also while a stream operation runs on another thread.
// - Lock order. The device state holds its queue mutex when it returns frames (flushing,
//   dropping) and when it asks is_streaming, so a camera's own locks come after that mutex:
//   reenqueue_buffer and is_streaming may take only locks that are never held while calling
//   the frame callback.
// - The frame callback is called with no lock of the camera held: it may call
//   reenqueue_buffer (the device state does for a dropped frame), is_streaming and the
//   property calls, and may block briefly on the device state's queue mutex.
// - stop_streaming returns only when no callback runs any more and none will start;
//   close_stream likewise. A camera whose delivery thread must be waited for there must not
//   hold, while waiting, a lock the callback or reenqueue_buffer takes.
// - Every delivered buffer comes back exactly once through reenqueue_buffer, possibly after
//   close_stream or on another stream; its memory stays valid until then.

#include "camera_types.h"
#include "rawcam_error.h"
#include "result.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace korsa_cam {

using frame_callback = std::function<void(buffer_desc)>;

class camera_itf
{
public:
    virtual ~camera_itf() = default;

    // Prepares streaming; returns the line pitch of the buffers that will be delivered. A
    // second setup without close_stream fails with the generic error 106 (already connected).
    // From start_streaming on, callback runs once per filled buffer on a camera thread.
    virtual result<int> setup_stream(img::img_type type, double fps, frame_callback callback,
                                     int buffer_count) = 0;
    virtual void close_stream() = 0;
    // Any thread; asked under the device state's queue mutex.
    virtual bool is_streaming() = 0;
    virtual std::error_code start_streaming() = 0;
    virtual void stop_streaming() = 0;
    // Hands a buffer back for capture; callable from any thread, from inside the frame
    // callback too, and under the device state's queue mutex. A buffer handed back after the
    // stream was closed is released instead of reused.
    virtual void reenqueue_buffer(buffer_id_type id) = 0;

    virtual std::vector<stream_type_desc> get_available_stream_types() = 0;
    virtual framerate_data get_available_fps(img::img_type type) = 0;

    virtual std::error_code write_register(uint32_t address, std::span<const std::byte> data) = 0;
    // Reads up to data.size() bytes. The callee may shorten the span to the bytes it read
    // (never lengthen it or move its start); the caller uses the span as it comes back.
    virtual std::error_code read_register(uint32_t address, std::span<std::byte>& data) = 0;

    virtual std::vector<property_desc> get_property_list() = 0;
    virtual result<property_range> get_property_range(std::string_view name) = 0;
    virtual result<prop_values> get_property(std::string_view name) = 0;
    virtual std::error_code set_property(std::string_view name, prop_values value) = 0;

    virtual device_info get_device_info() = 0;
    virtual bool test_reachable() = 0;
};

struct camera_create_info
{
    std::shared_ptr<camera_itf> camera;
    std::string serial;
};

} // namespace korsa_cam
