#pragma once

// How a frame lent to GStreamer finds its way back to the camera that owns its memory.
//
// A GstBuffer wrapping a frame can outlive everything that produced it: a queue or an appsink
// sample held by the application may release it after the stream was stopped or closed, after
// the device state was closed, or after the element and its device state were destroyed. The
// frame record therefore points at nothing the element owns. Instead:
//
// - Every stream start opens a new `frame_return_path`, a small object shared (shared_ptr) by
//   the device state, by each queued frame and by each frame record handed out. It holds the
//   camera (shared) and the count of frames lent out in that stream.
// - Holding the camera keeps the memory the GstBuffer points at alive: a hardware camera is
//   kept by its factory anyway, a virtual camera lives on after its device state closed
//   until its last lent frame has come back.
// - Returning a frame lowers the count of its own stream and calls the camera's
//   reenqueue_buffer. A camera whose stream was closed meanwhile frees the buffer instead of
//   reusing it, so the memory goes back to its owner or is freed, exactly once.
// - Because each stream has its own count, a frame from an earlier stream released late
//   cannot lower the count of the current one and let more frames out than allowed.

#include "camera_itf.h"

#include <atomic>
#include <memory>

namespace gst_korsa {

class frame_return_path
{
public:
    explicit frame_return_path(std::shared_ptr<korsa_cam::camera_itf> camera) noexcept
        : camera_(std::move(camera))
    {}

    frame_return_path(const frame_return_path&) = delete;
    frame_return_path& operator=(const frame_return_path&) = delete;

    // Counts one more frame as lent out when fewer than `limit` are; false otherwise.
    // Called by the frame queue under its lock (the count only grows there).
    bool try_lend(int limit) noexcept;

    // One lent frame comes back: the count drops and the camera gets the buffer again.
    // Callable from any thread.
    void give_back(korsa_cam::buffer_id_type id);

    int frames_out() const noexcept { return frames_out_.load(); }

private:
    const std::shared_ptr<korsa_cam::camera_itf> camera_;
    std::atomic<int> frames_out_{0};
};

// One frame as handed to the element: a copy of the camera's buffer record and the path it
// takes back. The frame data it points to belong to the camera.
struct gst_buffer_desc
{
    korsa_cam::buffer_desc buffer;
    std::shared_ptr<frame_return_path> owner;
};

// Release hook of the GstBuffer that wraps a frame (its GDestroyNotify): returns the frame to
// its camera and frees the record. Safe at any time, also after the element is gone. Null is
// ignored.
void destroy_gst_buffer(gst_buffer_desc* desc);

// Owns one frame taken from the device state: dropping it gives the frame back. Release it
// into the GstBuffer that wraps the frame, whose destroy notification is destroy_gst_buffer.
struct gst_buffer_desc_return
{
    void operator()(gst_buffer_desc* desc) const noexcept { destroy_gst_buffer(desc); }
};
using gst_buffer_desc_ptr = std::unique_ptr<gst_buffer_desc, gst_buffer_desc_return>;

} // namespace gst_korsa
