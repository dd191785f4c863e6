#include "camera_obj.h"

#include "log.h"
#include "sensor_dispatch.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace korsa_cam {
namespace impl {
namespace {

bool pool_owns(const mmal::pool& pool, const MMAL_BUFFER_HEADER_T* header) noexcept
{
    const MMAL_POOL_T* p = pool.get();
    if (p == nullptr)
    {
        return false;
    }
    return std::find(p->header, p->header + p->headers_num, header) != p->header + p->headers_num;
}

// Every header of the pool is back in its free queue.
bool all_home(mmal::pool& pool)
{
    const MMAL_POOL_T* p = pool.get();
    return p == nullptr || mmal_queue_length(p->queue) >= p->headers_num;
}

} // namespace

int64_t payload_bytes_per_line(const img::img_type& type) noexcept
{
    const int64_t width = std::max<int32_t>(type.dim.cx, 0);
    if (const int bits = img::get_bits_per_pixel(type.type); bits > 0)
    {
        return width * bits / 8;
    }
    // Planar codes: the first plane's line. None of the sensors produces these; they follow
    // the sample sizes of the frame-length rule (8-bit, 16-bit and 32-bit samples).
    static constexpr img::fourcc two_bytes[] = {img::make_fourcc("YUGp"), img::make_fourcc("ADp2")};
    static constexpr img::fourcc four_bytes[] = {img::make_fourcc("YUfp")};
    if (std::find(std::begin(two_bytes), std::end(two_bytes), type.type) != std::end(two_bytes))
    {
        return width * 2;
    }
    if (std::find(std::begin(four_bytes), std::end(four_bytes), type.type) != std::end(four_bytes))
    {
        return width * 4;
    }
    return width;
}

camera_obj::camera_obj(std::unique_ptr<sensor::sensor_impl_itf> sensor, device_info info)
    : sensor_(std::move(sensor)), info_(std::move(info))
{}

camera_obj::~camera_obj()
{
    stop_streaming();
    close_stream();
}

result<int> camera_obj::setup_stream(img::img_type type, double fps, frame_callback callback,
                                     int buffer_count)
{
    std::lock_guard control(control_mutex_);
    if (stream_set_up_)
    {
        // The running configuration stays; the caller closes the stream first.
        return std::make_error_code(std::errc::already_connected);
    }
    // The sensor's set-up (its first one runs the init script, with its pauses) needs no
    // lock buffer returns wait for.
    auto settings = sensor_->setup_format(type, fps);
    if (!settings)
    {
        return settings.error();
    }

    std::lock_guard lock(stream_mutex_);
    // The receiver is closed here (close_stream closed it), so no callback runs: setup's own
    // close does nothing that could call back.
    if (std::error_code ec =
            receiver_.setup(settings.value(), static_cast<unsigned>(std::max(buffer_count, 0)), 0))
    {
        return ec;
    }
    stream_type_ = type;
    frame_callback_ = std::move(callback);
    const int64_t pitch =
        std::max<int64_t>(payload_bytes_per_line(type), int64_t{receiver_.stride()});
    line_pitch_ =
        static_cast<int32_t>(std::min<int64_t>(pitch, std::numeric_limits<int32_t>::max()));
    stream_set_up_ = true;
    return line_pitch_;
}

void camera_obj::close_stream()
{
    std::lock_guard control(control_mutex_);
    {
        std::lock_guard lock(stream_mutex_);
        if (!stream_set_up_)
        {
            return;
        }
        // From here on returned buffers are released to their pool, which is kept alive
        // until the last lent one is back.
        stream_set_up_ = false;
        if (mmal::pool pool = receiver_.buffer_pool())
        {
            retired_pools_.push_back(std::move(pool));
        }
    }
    // Without stream_mutex_: disabling the port hands its buffers back and waits for
    // callbacks in transit, which take stream_mutex_ to return them.
    receiver_.close();
    std::vector<mmal::pool> finished;
    {
        std::lock_guard lock(stream_mutex_);
        collect_finished_locked(finished);
    }
    // `finished` goes here, outside the lock: destroying a pool frees its shared memory.
}

bool camera_obj::is_streaming()
{
    return receiver_.streaming();
}

std::error_code camera_obj::start_streaming()
{
    std::lock_guard control(control_mutex_);
    if (!stream_set_up_)
    {
        // Nothing to capture into: the sensor is left alone.
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (receiver_.streaming())
    {
        return std::make_error_code(std::errc::already_connected);
    }
    if (std::error_code ec = sensor_->start_stream())
    {
        return ec;
    }
    // A fresh count per start; the handler owns it (the receiver calls one handler at a time).
    std::error_code ec =
        receiver_.start([this, counter = uint64_t{0}](mmal::buffer_header& b) mutable {
            handle_frame(b, counter);
        });
    if (ec)
    {
        // The sensor would send into a receiver that does not listen.
        (void)sensor_->stop_stream();
    }
    return ec;
}

void camera_obj::stop_streaming()
{
    std::lock_guard control(control_mutex_);
    if (!receiver_.streaming())
    {
        return;
    }
    (void)sensor_->stop_stream();
    // Waits for callbacks in transit, which may return buffers (stream_mutex_, not held here).
    receiver_.stop();
}

void camera_obj::handle_frame(mmal::buffer_header& buffer, uint64_t& counter)
{
    const uint32_t flags = buffer.mmal_flags();
    if ((flags & MMAL_BUFFER_HEADER_FLAG_CODECSIDEINFO) != 0)
    {
        // Side information, not a frame: straight back, and the count does not advance.
        std::vector<mmal::pool> finished;
        MMAL_BUFFER_HEADER_T* header = buffer.release();
        std::lock_guard lock(stream_mutex_);
        give_back_locked(header, finished);
        return;
    }
    buffer_desc desc;
    desc.image.type = stream_type_;
    desc.image.data = static_cast<std::byte*>(buffer.data());
    desc.image.pitch = line_pitch_;
    desc.frame.frame_number = counter++;
    desc.frame.frame_id = 0;
    desc.frame.cam_time = buffer.pts();
    desc.frame.is_incomplete = buffer.length() < stream_type_.buffer_length ||
                               (flags & MMAL_BUFFER_HEADER_FLAG_CORRUPTED) != 0;
    if (!frame_callback_)
    {
        // Nobody to lend it to: the wrapper gives it back to the pool.
        return;
    }
    // From here the consumer owns the buffer until reenqueue_buffer.
    desc.buffer_id = buffer.release();
    frame_callback_(desc);
}

void camera_obj::reenqueue_buffer(buffer_id_type id)
{
    auto* header = static_cast<MMAL_BUFFER_HEADER_T*>(id);
    if (header == nullptr)
    {
        KLOG_WARN("Ignoring the return of an empty buffer id");
        return;
    }
    std::vector<mmal::pool> finished;
    std::lock_guard lock(stream_mutex_);
    give_back_locked(header, finished);
}

void camera_obj::give_back_locked(MMAL_BUFFER_HEADER_T* header, std::vector<mmal::pool>& finished)
{
    for (auto& pool : retired_pools_)
    {
        if (pool_owns(pool, header))
        {
            // Its stream is closed: back to its pool, which still exists.
            mmal_buffer_header_release(header);
            collect_finished_locked(finished);
            return;
        }
    }
    if (stream_set_up_)
    {
        if (!receiver_.requeue_buffer(header))
        {
            return;
        }
    }
    // Not one of this camera's buffers (or one returned twice): touching it could corrupt
    // someone else's pool.
    KLOG_WARN("Buffer {} returned to a camera it does not belong to", fmt::ptr(header));
}

void camera_obj::collect_finished_locked(std::vector<mmal::pool>& finished)
{
    for (auto it = retired_pools_.begin(); it != retired_pools_.end();)
    {
        if (all_home(*it))
        {
            finished.push_back(std::move(*it));
            it = retired_pools_.erase(it);
        }
        else
        {
            ++it;
        }
    }
}

std::size_t camera_obj::retired_pool_count()
{
    std::lock_guard lock(stream_mutex_);
    return retired_pools_.size();
}

std::vector<stream_type_desc> camera_obj::get_available_stream_types()
{
    return sensor_->get_available_format_list();
}

framerate_data camera_obj::get_available_fps(img::img_type type)
{
    return sensor_->get_available_fps_list(type);
}

std::error_code camera_obj::write_register(uint32_t address, std::span<const std::byte> data)
{
    return sensor_->sensor_register_write(
        address,
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

std::error_code camera_obj::read_register(uint32_t address, std::span<std::byte>& data)
{
    std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(data.data()), data.size());
    const std::error_code ec = sensor_->sensor_register_read(address, bytes);
    // The sensor may have shortened the span to what it read; it may not lengthen it.
    data = data.first(std::min(bytes.size(), data.size()));
    return ec;
}

std::vector<property_desc> camera_obj::get_property_list()
{
    return sensor_->get_property_list();
}

result<property_range> camera_obj::get_property_range(std::string_view name)
{
    return sensor_->get_property_range(name);
}

result<prop_values> camera_obj::get_property(std::string_view name)
{
    return sensor_->get_property(name);
}

std::error_code camera_obj::set_property(std::string_view name, prop_values value)
{
    return sensor_->set_property(name, value);
}

device_info camera_obj::get_device_info()
{
    return info_;
}

bool camera_obj::test_reachable()
{
    return sensor_->test_reachable();
}

} // namespace impl

result<std::shared_ptr<impl::camera_obj>> create_camera(const setup_parameter& parameter)
{
    auto init = sensor::create_sensor_itf(parameter);
    if (!init)
    {
        return init.error();
    }
    sensor::sensor_init_data& data = init.value();
    return create_camera(
        std::move(data.sensor),
        device_info{std::move(data.serial), std::move(data.name), std::move(data.identifier)});
}

std::shared_ptr<impl::camera_obj> create_camera(std::unique_ptr<sensor::sensor_impl_itf> sensor,
                                                device_info info)
{
    return std::make_shared<impl::camera_obj>(std::move(sensor), std::move(info));
}

} // namespace korsa_cam
