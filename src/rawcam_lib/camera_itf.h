#pragma once

// The abstract camera the GStreamer side drives: the hardware camera and the virtual
// camera both implement it.

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

    // Prepares streaming; returns the line pitch of the buffers that will be delivered.
    // From start_streaming on, callback runs once per filled buffer on a camera thread.
    virtual result<int> setup_stream(img::img_type type, double fps, frame_callback callback,
                                     int buffer_count) = 0;
    virtual void close_stream() = 0;
    virtual bool is_streaming() = 0;
    virtual std::error_code start_streaming() = 0;
    virtual void stop_streaming() = 0;
    // Hands a buffer back for capture; callable from any thread. A buffer handed back after
    // the stream was closed is released instead of reused.
    virtual void reenqueue_buffer(buffer_id_type id) = 0;

    virtual std::vector<stream_type_desc> get_available_stream_types() = 0;
    virtual framerate_data get_available_fps(img::img_type type) = 0;

    virtual std::error_code write_register(uint32_t address, std::span<const std::byte> data) = 0;
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
