#pragma once

// The Pi's CSI-2 raw camera receiver: configures "vc.ril.rawcam" from the receiver settings
// of one stream and delivers whole frames in shared memory that the process reads directly.

#include "csi_settings.h"
#include "mmal_obj.h"
#include "vcsm_pool.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <system_error>

namespace mmal::pi {

class raspirawcam_component
{
public:
    using frame_callback = std::function<void(buffer_header&)>;

    raspirawcam_component() = default;
    ~raspirawcam_component();
    raspirawcam_component(const raspirawcam_component&) = delete;
    raspirawcam_component& operator=(const raspirawcam_component&) = delete;

    // Builds the receiver for one stream, closing any previous one. output_bit_depth below
    // 1 or equal to the native depth delivers frames as received; extra_buffers is added to
    // the receiver's recommended buffer count.
    std::error_code setup(const csi_settings& settings, unsigned extra_buffers,
                          int output_bit_depth);
    // Starts delivery; callback runs on the receiver's thread with data() at the frame. A
    // start after stop (without a new setup) enables the stopped receiver again.
    std::error_code start(frame_callback callback);
    // Stop and close disable the port, which hands every buffer it still holds back, and
    // wait for callbacks in transit: callback may run until they return, on MMAL's thread or
    // on the calling one. Buffers handed back that way carry no frame and are released to
    // the pool without reaching callback. So a caller must not hold, around stop or close,
    // a lock that callback (or whatever it calls, such as requeue_buffer's caller) takes.
    void stop();
    void close();
    // Gives a delivered buffer back for refilling (or to its pool when the receiver no
    // longer takes it). An error means the header was not one of this receiver's current
    // buffers and was left untouched.
    std::error_code requeue_buffer(MMAL_BUFFER_HEADER_T* header);

    uint32_t stride() const noexcept { return stride_; }
    bool streaming() const noexcept { return streaming_.load(); }
    // The current stream's buffer pool (a shared handle: whoever keeps a copy keeps the
    // buffers' memory alive past close); empty when nothing is set up.
    pool buffer_pool() { return pool_.get_pool(); }

private:
    void configure(const csi_settings& settings, unsigned extra_buffers, int output_bit_depth);
    void shut_down_stream();

    component component_;
    vcsm_pool pool_;
    uint32_t stride_ = 0;
    std::atomic<bool> streaming_{false};
    bool component_disabled_ = false; // by stop, until start enables it again
    port output_; // output port 0, kept so that returning buffers needs no lookup
};

} // namespace mmal::pi
