#pragma once

// The bridge between the element and one open camera.

#include "camera_itf.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace gst_korsa
{

class device_state
{
public:
    device_state();
    ~device_state();

    device_state(const device_state&) = delete;
    device_state& operator=(const device_state&) = delete;

    std::error_code open(const std::string& serial);
    void close();

    bool is_open() const noexcept { return camera != nullptr; }

    std::string get_device_name();
    std::vector<korsa_cam::stream_type_desc> get_available_stream_types();

    int sensor_debug_get(int address);
    std::error_code sensor_debug_set(int address, int value);

    std::string serial;
    std::shared_ptr<korsa_cam::camera_itf> camera;
    std::atomic<bool> drop_incomplete{false};
    std::atomic<bool> show_overlay{false};
    bool debug_properties_enabled = false;
    std::atomic<int> max_queued_buffers{2};

    std::function<void(const std::string&)> device_lost_callback;
};

// Reads an on/off environment switch: set and a nonzero base-10 number means on.
bool read_env_switch(const char* name);

} // namespace gst_korsa
