#include "device_state_impl.h"

#include "camera_bind.h"
#include "fcc_to_string.h"
#include "frame_info_overlay.h"
#include "log.h"
#include "standard_properties.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>

namespace gst_korsa {
namespace {

constexpr std::string_view prop_show_overlay = "ShowOverlay";

std::error_code no_camera()
{
    return std::make_error_code(std::errc::bad_file_descriptor);
}

int64_t system_clock_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

device_state_hooks with_defaults(device_state_hooks hooks)
{
    if (!hooks.open_camera)
    {
        hooks.open_camera = &create_camera_object;
    }
    if (!hooks.now_us)
    {
        hooks.now_us = &system_clock_us;
    }
    return hooks;
}

} // namespace

bool read_env_switch(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
    {
        return false;
    }
    return std::strtol(value, nullptr, 10) != 0;
}

device_state::device_state() : device_state(device_state_hooks{}) {}

device_state::device_state(device_state_hooks hooks)
    : debug_properties_enabled(read_env_switch("VELA_ENABLE_DEBUG_PROPERTIES")),
      hooks_(with_defaults(std::move(hooks)))
{}

device_state::~device_state()
{
    close();
}

std::error_code device_state::open(const std::string& requested)
{
    close();
    const std::string wanted = requested.empty() ? get_default_device_id() : requested;
    auto created = hooks_.open_camera(wanted);
    if (!created)
    {
        return created.error();
    }
    if (!created.value().camera)
    {
        return std::make_error_code(std::errc::no_such_device);
    }
    camera = std::move(created.value().camera);
    serial = std::move(created.value().serial);
    {
        std::lock_guard lock(queue_mutex_);
        path_ = std::make_shared<frame_return_path>(camera);
    }

    poll_stop_ = false;
    try
    {
        poll_thread_ = std::thread(&device_state::watch_device, this);
    }
    catch (const std::system_error& e)
    {
        KLOG_ERROR("cannot start the device-lost watcher: {}", e.what());
        close();
        return e.code();
    }
    return {};
}

void device_state::close()
{
    // close_stream also stops a camera that still delivers, so nothing calls back into this
    // object once the camera is let go.
    close_stream();
    stop_watcher();
    property_cache_.clear();
    {
        std::lock_guard lock(queue_mutex_);
        path_.reset();
    }
    camera.reset();
    serial.clear();
}

void device_state::stop_watcher()
{
    if (!poll_thread_.joinable())
    {
        return;
    }
    {
        std::lock_guard lock(poll_mutex_);
        poll_stop_ = true;
    }
    poll_cv_.notify_all();
    poll_thread_.join();
}

void device_state::watch_device()
{
    pthread_setname_np(pthread_self(), "korsa-devlost");
    std::unique_lock lock(poll_mutex_);
    const std::shared_ptr<korsa_cam::camera_itf> cam = camera;
    const std::string lost_serial = serial;
    while (!poll_stop_)
    {
        poll_cv_.wait_for(lock, hooks_.poll_interval, [this] { return poll_stop_.load(); });
        if (poll_stop_)
        {
            break;
        }
        if (cam->test_reachable())
        {
            continue;
        }
        KLOG_ERROR("device '{}' does not answer any more", lost_serial);
        if (device_lost_callback)
        {
            device_lost_callback(lost_serial);
        }
        break; // reported once; no further polling
    }
}

std::string device_state::get_device_name()
{
    return camera ? camera->get_device_info().name : std::string();
}

std::vector<korsa_cam::device_info> device_state::get_device_list()
{
    if (!camera)
    {
        return {};
    }
    return {camera->get_device_info()};
}

std::vector<korsa_cam::stream_type_desc> device_state::get_available_stream_types()
{
    return camera ? camera->get_available_stream_types()
                  : std::vector<korsa_cam::stream_type_desc>{};
}

korsa_cam::framerate_data device_state::get_available_fps(img::img_type type)
{
    return camera ? camera->get_available_fps(type) : korsa_cam::framerate_data{};
}

korsa_cam::result<int> device_state::setup_stream(img::img_type type, double fps)
{
    if (!camera)
    {
        return no_camera();
    }
    KLOG_INFO("setup-stream for '{}': {} ({}x{}) [{}B] @{}hz", serial,
              img::fcc_to_string(type.type), type.dim.cx, type.dim.cy, type.buffer_length, fps);
    auto result = camera->setup_stream(
        type, fps, [this](korsa_cam::buffer_desc buffer) { receive_buffer(buffer); },
        max_queued_buffers.load());
    stream_set_up_ = result.has_value();
    return result;
}

std::error_code device_state::start_stream()
{
    if (!camera)
    {
        return no_camera();
    }
    {
        std::lock_guard lock(queue_mutex_);
        fps_.reset();
        // A fresh count: frames of an earlier stream released later lower their own.
        path_ = std::make_shared<frame_return_path>(camera);
        queue_.reserve(static_cast<std::size_t>(std::clamp(max_queued_buffers.load(), 0, 1024)));
    }
    return camera->start_streaming();
}

void device_state::stop_stream()
{
    if (!camera || !stream_set_up_)
    {
        return;
    }
    camera->stop_streaming();
    std::vector<queued_frame> stale;
    {
        std::lock_guard lock(queue_mutex_);
        stale.swap(queue_);
        queue_.reserve(stale.capacity());
    }
    queue_cv_.notify_all();
    // The camera no longer streams; it keeps or frees what comes back. Returning the frames
    // (rather than forgetting them) keeps every frame's way home exactly once.
    return_frames(stale);
}

void device_state::close_stream()
{
    if (!camera || !stream_set_up_)
    {
        return;
    }
    if (camera->is_streaming())
    {
        stop_stream();
    }
    stream_set_up_ = false;
    camera->close_stream();
}

void device_state::return_frames(std::vector<queued_frame>& frames)
{
    for (auto& frame : frames)
    {
        frame.path->give_back(frame.buffer.buffer_id);
    }
    frames.clear();
}

void device_state::set_flushing_state(bool flushing)
{
    {
        std::lock_guard lock(queue_mutex_);
        flushing_ = flushing;
        if (flushing)
        {
            return_frames(queue_);
        }
    }
    queue_cv_.notify_all();
}

void device_state::receive_buffer(korsa_cam::buffer_desc buffer)
{
    korsa_cam::camera_itf* const cam = camera.get();
    if (cam == nullptr)
    {
        return;
    }
    std::unique_lock lock(queue_mutex_);
    if (!cam->is_streaming())
    {
        // A frame that raced with stopping: not queued, but still given back.
        lock.unlock();
        cam->reenqueue_buffer(buffer.buffer_id);
        return;
    }
    fps_.frame_arrived(hooks_.now_us());

    if (buffer.frame.is_incomplete && drop_incomplete)
    {
        ++drop_info_.pck_drops;
        lock.unlock();
        cam->reenqueue_buffer(buffer.buffer_id);
        return;
    }
    if (!flushing_ && path_ && path_->try_lend(max_queued_buffers.load()))
    {
        queue_.push_back(queued_frame{buffer, path_});
        lock.unlock();
        queue_cv_.notify_all();
        return;
    }
    ++drop_info_.qum_drops;
    lock.unlock();
    cam->reenqueue_buffer(buffer.buffer_id);
}

std::pair<gst_buffer_desc_ptr, bool> device_state::wait_for_next_img()
{
    korsa_cam::camera_itf* const cam = camera.get();
    if (cam == nullptr)
    {
        return {nullptr, false};
    }
    std::unique_lock lock(queue_mutex_);
    for (;;)
    {
        if (!cam->is_streaming())
        {
            return {nullptr, false};
        }
        if (flushing_)
        {
            return {nullptr, true};
        }
        if (!queue_.empty())
        {
            break;
        }
        queue_cv_.wait(lock);
        if (!queue_.empty())
        {
            break;
        }
    }
    queued_frame frame = std::move(queue_.front());
    queue_.erase(queue_.begin());
    const bool overlay = show_overlay;
    const frame_drop_info drops = drop_info_;
    const double fps = fps_.fps();
    lock.unlock();

    if (overlay)
    {
        draw_frame_info(frame.buffer.image, frame.buffer.frame, drops, fps);
    }
    return {gst_buffer_desc_ptr(new gst_buffer_desc{frame.buffer, std::move(frame.path)}), false};
}

void device_state::requeue_buffer(korsa_cam::buffer_id_type id)
{
    std::shared_ptr<frame_return_path> path;
    {
        std::lock_guard lock(queue_mutex_);
        path = path_;
    }
    if (path)
    {
        path->give_back(id);
    }
}

void device_state::requeue_buffer(gst_buffer_desc_ptr desc)
{
    desc.reset();
}

int device_state::sensor_debug_get(int address)
{
    if (!camera)
    {
        return -1;
    }
    std::byte value{0};
    std::span<std::byte> data(&value, 1);
    if (camera->read_register(static_cast<uint32_t>(address), data))
    {
        return -1;
    }
    return static_cast<int>(std::to_integer<uint8_t>(value));
}

std::error_code device_state::sensor_debug_set(int address, int value)
{
    if (!camera)
    {
        return no_camera();
    }
    const std::byte byte{static_cast<uint8_t>(value & 0xFF)};
    return camera->write_register(static_cast<uint32_t>(address),
                                  std::span<const std::byte>(&byte, 1));
}

const std::vector<korsa_cam::property_desc>& device_state::get_property_list()
{
    if (property_cache_.empty() && camera)
    {
        property_cache_ = camera->get_property_list();
        property_cache_.push_back(korsa_cam::standard_properties::show_overlay());
    }
    return property_cache_;
}

korsa_cam::result<korsa_cam::property_range> device_state::get_property_range(std::string_view name)
{
    if (name == prop_show_overlay)
    {
        using korsa_cam::prop_values;
        return korsa_cam::property_range{0, prop_values::from_bool(false),
                                         prop_values::from_bool(true),
                                         prop_values::from_bool(false), prop_values::from_int(1)};
    }
    if (!camera)
    {
        return no_camera();
    }
    return camera->get_property_range(name);
}

korsa_cam::result<korsa_cam::prop_values> device_state::get_property(std::string_view name)
{
    if (name == prop_show_overlay)
    {
        return korsa_cam::prop_values::from_bool(show_overlay.load());
    }
    if (!camera)
    {
        return no_camera();
    }
    return camera->get_property(name);
}

std::error_code device_state::set_property(std::string_view name, korsa_cam::prop_values value)
{
    if (name == prop_show_overlay)
    {
        show_overlay = value.as_bool();
        return {};
    }
    if (!camera)
    {
        return no_camera();
    }
    return camera->set_property(name, value);
}

void device_state::apply_overlay(img::img_descriptor& image, const korsa_cam::frame_info& info,
                                 const frame_drop_info& drops)
{
    draw_frame_info(image, info, drops, measured_fps());
}

frame_drop_info device_state::drop_info() const
{
    std::lock_guard lock(queue_mutex_);
    return drop_info_;
}

double device_state::measured_fps() const
{
    std::lock_guard lock(queue_mutex_);
    return fps_.fps();
}

int device_state::buffers_out() const
{
    std::lock_guard lock(queue_mutex_);
    return path_ ? path_->frames_out() : 0;
}

} // namespace gst_korsa
