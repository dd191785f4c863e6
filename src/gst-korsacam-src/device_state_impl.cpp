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
    // Remembered also when the camera cannot be opened now: the next open asks for the same
    // camera instead of whichever the library would pick.
    serial = requested;
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
    std::shared_ptr<korsa_cam::camera_itf> cam = std::move(created.value().camera);
    serial = std::move(created.value().serial);
    {
        std::lock_guard lock(camera_mutex_);
        camera_ = cam;
    }
    {
        std::lock_guard lock(queue_mutex_);
        path_ = std::make_shared<frame_return_path>(cam);
    }

    auto context = std::make_shared<watcher_context>();
    context->camera = cam;
    context->serial = serial;
    context->on_lost = device_lost_callback;
    context->interval = hooks_.poll_interval;
    try
    {
        poll_thread_ = std::thread([context] { watch_device(context); });
    }
    catch (const std::system_error& e)
    {
        KLOG_ERROR("cannot start the device-lost watcher: {}", e.what());
        close();
        return e.code();
    }
    watcher_ = std::move(context);
    return {};
}

void device_state::close()
{
    // close_stream also stops a camera that still delivers, so nothing calls back into this
    // object once the camera is let go.
    close_stream();
    stop_watcher();
    std::shared_ptr<korsa_cam::camera_itf> released;
    property_list cache;
    {
        // Waits for a property call that runs; later ones find no camera.
        std::lock_guard lock(camera_mutex_);
        released.swap(camera_);
        cache.swap(property_cache_);
    }
    {
        std::lock_guard lock(queue_mutex_);
        path_.reset();
    }
    // `released` goes here, outside every lock: a virtual camera ends with its last holder.
}

bool device_state::is_open() const
{
    std::lock_guard lock(camera_mutex_);
    return camera_ != nullptr;
}

std::shared_ptr<korsa_cam::camera_itf> device_state::current_camera() const
{
    std::lock_guard lock(camera_mutex_);
    return camera_;
}

void device_state::stop_watcher()
{
    if (!poll_thread_.joinable())
    {
        return;
    }
    if (hooks_.watcher_stopping)
    {
        hooks_.watcher_stopping();
    }
    bool reporting = false;
    {
        std::lock_guard lock(watcher_->mutex);
        watcher_->stop = true;
        reporting = watcher_->reporting;
    }
    watcher_->cv.notify_all();
    // A report in flight may be waiting for a lock the closing thread holds (the element's
    // state lock, when the application closes from a state change), or this may be the
    // watcher thread itself: waiting for it could never end. It keeps its own context and
    // ends by itself once the report returns.
    if (reporting || poll_thread_.get_id() == std::this_thread::get_id())
    {
        poll_thread_.detach();
    }
    else
    {
        poll_thread_.join();
    }
    watcher_.reset();
}

void device_state::watch_device(const std::shared_ptr<watcher_context>& context)
{
    pthread_setname_np(pthread_self(), "korsa-devlost");
    watcher_context& w = *context;
    std::unique_lock lock(w.mutex);
    while (!w.stop)
    {
        w.cv.wait_for(lock, w.interval, [&w] { return w.stop; });
        if (w.stop)
        {
            return;
        }
        if (w.camera->test_reachable())
        {
            continue;
        }
        // Decided under the lock, so close sees either a watcher it may join or one that
        // reports and must be left alone.
        w.reporting = true;
        lock.unlock();
        KLOG_ERROR("device '{}' does not answer any more", w.serial);
        if (w.on_lost)
        {
            w.on_lost(w.serial);
        }
        return; // reported once; no further polling
    }
}

std::string device_state::get_device_name()
{
    std::lock_guard lock(camera_mutex_);
    return camera_ ? camera_->get_device_info().name : std::string();
}

std::vector<korsa_cam::device_info> device_state::get_device_list()
{
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        return {};
    }
    return {camera_->get_device_info()};
}

std::vector<korsa_cam::stream_type_desc> device_state::get_available_stream_types()
{
    std::lock_guard lock(camera_mutex_);
    return camera_ ? camera_->get_available_stream_types()
                   : std::vector<korsa_cam::stream_type_desc>{};
}

korsa_cam::framerate_data device_state::get_available_fps(img::img_type type)
{
    std::lock_guard lock(camera_mutex_);
    return camera_ ? camera_->get_available_fps(type) : korsa_cam::framerate_data{};
}

korsa_cam::result<int> device_state::setup_stream(img::img_type type, double fps)
{
    const auto cam = current_camera();
    if (!cam)
    {
        return no_camera();
    }
    KLOG_INFO("setup-stream for '{}': {} ({}x{}) [{}B] @{}hz", serial,
              img::fcc_to_string(type.type), type.dim.cx, type.dim.cy, type.buffer_length, fps);
    // The camera calls back only while it is alive, so a plain pointer to it will do (a
    // shared one would make the camera own itself through its callback).
    korsa_cam::camera_itf* const source = cam.get();
    auto result = cam->setup_stream(
        type, fps, [this, source](korsa_cam::buffer_desc buffer) { receive_from(*source, buffer); },
        max_queued_buffers.load());
    stream_set_up_ = result.has_value();
    return result;
}

std::error_code device_state::start_stream()
{
    const auto cam = current_camera();
    if (!cam)
    {
        return no_camera();
    }
    {
        std::lock_guard lock(queue_mutex_);
        fps_.reset();
        // A fresh count: frames of an earlier stream released later lower their own.
        path_ = std::make_shared<frame_return_path>(cam);
        queue_.reserve(static_cast<std::size_t>(std::clamp(max_queued_buffers.load(), 0, 1024)));
    }
    return cam->start_streaming();
}

void device_state::stop_stream()
{
    const auto cam = current_camera();
    if (!cam || !stream_set_up_)
    {
        return;
    }
    cam->stop_streaming();
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
    const auto cam = current_camera();
    if (!cam || !stream_set_up_)
    {
        return;
    }
    if (cam->is_streaming())
    {
        stop_stream();
    }
    stream_set_up_ = false;
    cam->close_stream();
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
    if (const auto cam = current_camera())
    {
        receive_from(*cam, buffer);
    }
}

void device_state::receive_from(korsa_cam::camera_itf& cam, korsa_cam::buffer_desc buffer)
{
    std::unique_lock lock(queue_mutex_);
    if (!cam.is_streaming())
    {
        // A frame that raced with stopping: not queued, but still given back.
        lock.unlock();
        cam.reenqueue_buffer(buffer.buffer_id);
        return;
    }
    fps_.frame_arrived(hooks_.now_us());

    if (buffer.frame.is_incomplete && drop_incomplete)
    {
        ++drop_info_.pck_drops;
        lock.unlock();
        cam.reenqueue_buffer(buffer.buffer_id);
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
    cam.reenqueue_buffer(buffer.buffer_id);
}

std::pair<gst_buffer_desc_ptr, bool> device_state::wait_for_next_img()
{
    const auto cam = current_camera();
    if (!cam)
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
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        return -1;
    }
    std::byte value{0};
    std::span<std::byte> data(&value, 1);
    if (camera_->read_register(static_cast<uint32_t>(address), data))
    {
        return -1;
    }
    return static_cast<int>(std::to_integer<uint8_t>(value));
}

std::error_code device_state::sensor_debug_set(int address, int value)
{
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        return no_camera();
    }
    const std::byte byte{static_cast<uint8_t>(value & 0xFF)};
    return camera_->write_register(static_cast<uint32_t>(address),
                                   std::span<const std::byte>(&byte, 1));
}

device_state::property_list device_state::get_property_list()
{
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        static const property_list none =
            std::make_shared<const std::vector<korsa_cam::property_desc>>();
        return none;
    }
    if (!property_cache_)
    {
        auto list = camera_->get_property_list();
        list.push_back(korsa_cam::standard_properties::show_overlay());
        property_cache_ =
            std::make_shared<const std::vector<korsa_cam::property_desc>>(std::move(list));
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
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        return no_camera();
    }
    return camera_->get_property_range(name);
}

korsa_cam::result<korsa_cam::prop_values> device_state::get_property(std::string_view name)
{
    if (name == prop_show_overlay)
    {
        return korsa_cam::prop_values::from_bool(show_overlay.load());
    }
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        return no_camera();
    }
    return camera_->get_property(name);
}

std::error_code device_state::set_property(std::string_view name, korsa_cam::prop_values value)
{
    if (name == prop_show_overlay)
    {
        show_overlay = value.as_bool();
        return {};
    }
    std::lock_guard lock(camera_mutex_);
    if (!camera_)
    {
        return no_camera();
    }
    return camera_->set_property(name, value);
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
