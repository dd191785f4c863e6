#pragma once

// The hardware camera: one sensor driver (wrapped by its connection) joined with the Pi's
// CSI-2 receiver. The sensor decides the format and produces the receiver settings; the
// receiver fills buffers in shared memory; every filled buffer is lent to the frame callback
// as a buffer_desc pointing at the receiver's own memory (no copy) and comes back through
// reenqueue_buffer.
//
//   auto cam = korsa_cam::create_camera({});                 // board on the default bus
//   if (!cam) return cam.error();
//   auto pitch = cam.value()->setup_stream(type, 30.0, on_frame, 2);
//   cam.value()->start_streaming();
//   ...                                                      // on_frame runs on MMAL's thread
//   cam.value()->stop_streaming();
//   cam.value()->close_stream();
//
// Threads and locks (the rules of camera_itf.h, kept here like this):
// - control_mutex_ serialises setup_stream, start_streaming, stop_streaming and
//   close_stream against each other. The frame handler and reenqueue_buffer never take it,
//   so it may be held across the receiver's stop and close, which wait for callbacks.
// - stream_mutex_ guards the set-up flag, the receiver's configuration and the pools of
//   closed streams against buffer returns. It is held only for short bookkeeping and for the
//   receiver's setup and requeue, never across the receiver's stop or close (those run the
//   frame handler, which takes it to give buffers back) and never while calling the frame
//   callback. The device state returns frames under its queue mutex, so that mutex comes
//   before this one.
// - Property, format and register calls go straight to the sensor, under no lock here.
//
// Buffers still lent out when the stream is closed stay valid: their pool is kept alive here
// until the last of them has come back, and is freed then.

#include "camera_itf.h"
#include "pi_rawcam.h"
#include "result.h"
#include "sensor_impl_itf.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace korsa_cam {
namespace impl {

class camera_obj final : public camera_itf
{
public:
    // Takes over a sensor that is ready (wrapped by its connection) and the identity read
    // from the board.
    camera_obj(std::unique_ptr<sensor::sensor_impl_itf> sensor, device_info info);
    // Stops and closes a stream its owner left open, so no callback outlives the object.
    ~camera_obj() override;

    camera_obj(const camera_obj&) = delete;
    camera_obj& operator=(const camera_obj&) = delete;

    result<int> setup_stream(img::img_type type, double fps, frame_callback callback,
                             int buffer_count) override;
    void close_stream() override;
    bool is_streaming() override;
    std::error_code start_streaming() override;
    void stop_streaming() override;
    void reenqueue_buffer(buffer_id_type id) override;

    std::vector<stream_type_desc> get_available_stream_types() override;
    framerate_data get_available_fps(img::img_type type) override;

    std::error_code write_register(uint32_t address, std::span<const std::byte> data) override;
    std::error_code read_register(uint32_t address, std::span<std::byte>& data) override;

    std::vector<property_desc> get_property_list() override;
    result<property_range> get_property_range(std::string_view name) override;
    result<prop_values> get_property(std::string_view name) override;
    std::error_code set_property(std::string_view name, prop_values value) override;

    device_info get_device_info() override;
    bool test_reachable() override;

    // Pools of closed streams whose buffers are not all back yet.
    std::size_t retired_pool_count();

private:
    // Runs on the receiver's callback thread for every buffer it returns; counter is the
    // frame counter of the current start.
    void handle_frame(mmal::buffer_header& buffer, uint64_t& counter);
    // Gives one header back: to a pool of a closed stream it belongs to, else to the receiver
    // while set up. Pools whose headers are all home move to `finished`, to be let go
    // outside the lock. Expects stream_mutex_ held.
    void give_back_locked(MMAL_BUFFER_HEADER_T* header, std::vector<mmal::pool>& finished);
    void collect_finished_locked(std::vector<mmal::pool>& finished);

    mmal::pi::raspirawcam_component receiver_;
    std::unique_ptr<sensor::sensor_impl_itf> sensor_;
    // Written by setup_stream while no callback runs (the receiver is closed then), read by
    // the frame handler.
    img::img_type stream_type_{};
    frame_callback frame_callback_;
    int32_t line_pitch_ = 0;
    const device_info info_;
    std::atomic<bool> stream_set_up_{false};

    std::mutex control_mutex_; // see the top of this file
    std::mutex stream_mutex_;  // see the top of this file
    // Under stream_mutex_: pools of closed streams with buffers still out.
    std::vector<mmal::pool> retired_pools_;
};

// Bytes of image data in one line of a frame of this type.
int64_t payload_bytes_per_line(const img::img_type& type) noexcept;

} // namespace impl

// Brings up the board on the bus of the parameter (negative: the default camera bus) and
// builds the camera around its sensor, with the serial and name from its EEPROM. Errors of the
// detection (no board, unknown sensor, bus failures) are returned unchanged.
result<std::shared_ptr<impl::camera_obj>> create_camera(const setup_parameter& parameter);

// The hardware camera around a sensor that is ready and its identity (serial, name,
// identifier).
std::shared_ptr<impl::camera_obj> create_camera(std::unique_ptr<sensor::sensor_impl_itf> sensor,
                                                device_info info);

} // namespace korsa_cam
