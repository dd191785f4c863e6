#include "virt_camera.h"

#include "standard_properties.h"

#include "log.h"
#include "overlay.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

namespace gst_korsa {
namespace {

using korsa_cam::prop_values;
using korsa_cam::property_desc;
using korsa_cam::property_range;
using korsa_cam::property_type;

constexpr std::string_view prop_exposure = "ExposureTime";
constexpr std::string_view prop_gain = "Gain";
constexpr std::string_view prop_stripes = "Stripes";

constexpr img::pixel_type::R8G8B8A8 status_background{0, 255, 0, 255};
constexpr img::pixel_type::R8G8B8A8 status_text{255, 255, 255, 255};

std::error_code invalid_name()
{
    return std::make_error_code(std::errc::invalid_argument);
}

} // namespace

int64_t virt_cam_period_ms(double fps) noexcept
{
    const double period = 1000.0 / fps;
    if (!(period >= 0.0) || period >= static_cast<double>(virt_cam_max_period_ms))
    {
        return virt_cam_max_period_ms;
    }
    return static_cast<int64_t>(period);
}

virt_cam::virt_cam(std::unique_ptr<virt_cam_clock> clock) : clock_(std::move(clock)) {}

virt_cam::~virt_cam()
{
    stop_streaming();
}

korsa_cam::result<int> virt_cam::setup_stream(img::img_type type, double fps,
                                              korsa_cam::frame_callback callback, int buffer_count)
{
    // Replacing the buffers under a running generator would pull them from under its pen.
    stop_streaming();

    const int bpp = img::get_bits_per_pixel(type.type);
    const int64_t pitch = type.dim.cx > 0 ? static_cast<int64_t>(type.dim.cx) * bpp / 8 : 0;
    if (pitch > std::numeric_limits<int32_t>::max())
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    // Sized for every line the pattern and the text may touch, even if the caller's
    // buffer length says less.
    const int64_t lines = std::max<int32_t>(type.dim.cy, 0);
    const int64_t needed = std::max<int64_t>(type.buffer_length, pitch * lines);
    if constexpr (sizeof(std::size_t) < sizeof(int64_t))
    {
        // 32-bit: a size that does not fit would wrap to a small, too short buffer.
        if (needed > static_cast<int64_t>(std::numeric_limits<std::size_t>::max()))
        {
            return std::make_error_code(std::errc::not_enough_memory);
        }
    }
    const auto bytes = static_cast<std::size_t>(needed);

    std::lock_guard lock(mtx_);
    drop_buffers_locked();
    type_ = type;
    fps_ = fps;
    pitch_ = static_cast<int>(pitch);
    callback_ = std::move(callback);
    if (buffer_count >= -4)
    {
        const int count = buffer_count + 5;
        try
        {
            storage_.reserve(storage_.size() + static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i)
            {
                auto buffer = std::make_unique<frame_buffer>();
                buffer->bytes.resize(bytes);
                free_list_.push_back(buffer.get());
                storage_.push_back(std::move(buffer));
            }
        }
        catch (const std::exception&) // bad_alloc or length_error: absurd sizes
        {
            KLOG_ERROR("virtual camera: no memory for {} buffers of {} bytes", count, bytes);
            drop_buffers_locked();
            return std::make_error_code(std::errc::not_enough_memory);
        }
    }
    return pitch_;
}

void virt_cam::close_stream()
{
    // The generator may be filling a buffer: it has to stop before buffers are freed.
    stop_streaming();
    std::lock_guard lock(mtx_);
    drop_buffers_locked();
}

void virt_cam::drop_buffers_locked()
{
    free_list_.clear();
    std::erase_if(storage_, [](const std::unique_ptr<frame_buffer>& b) { return !b->lent; });
    for (auto& b : storage_)
    {
        b->retired = true;
    }
}

std::error_code virt_cam::start_streaming()
{
    std::lock_guard lock(mtx_);
    if (streaming_)
    {
        return {};
    }
    streaming_ = true;
    try
    {
        generator_ = std::thread(&virt_cam::generator_func, this);
    }
    catch (const std::system_error& e)
    {
        streaming_ = false;
        return e.code();
    }
    return {};
}

void virt_cam::stop_streaming()
{
    if (!generator_.joinable())
    {
        return;
    }
    {
        std::lock_guard lock(mtx_);
        free_list_.clear();
        streaming_ = false;
        clock_->notify_all();
    }
    generator_.join();
}

void virt_cam::reenqueue_buffer(korsa_cam::buffer_id_type id)
{
    std::lock_guard lock(mtx_);
    const auto it = std::find_if(storage_.begin(), storage_.end(),
                                 [id](const std::unique_ptr<frame_buffer>& b) {
                                     return static_cast<void*>(b->bytes.data()) == id;
                                 });
    if (it == storage_.end() || !(*it)->lent)
    {
        KLOG_WARN("virtual camera: buffer {} handed back but not lent out", id);
        return;
    }
    frame_buffer& buffer = **it;
    buffer.lent = false;
    if (buffer.retired)
    {
        storage_.erase(it);
    }
    else if (streaming_)
    {
        free_list_.push_back(&buffer);
        if (awaiting_buffer_)
        {
            clock_->notify_all();
        }
    }
    // Otherwise it rests until the next stream setup: stopping empties the free list.
}

std::size_t virt_cam::allocated_buffers()
{
    std::lock_guard lock(mtx_);
    return storage_.size();
}

void virt_cam::generator_func()
{
    const int64_t period_ns = virt_cam_period_ms(fps_) * 1'000'000;
    uint64_t slot = 0;
    uint64_t delivered = 0;
    int64_t deadline = clock_->now_ns() + period_ns;

    std::unique_lock lock(mtx_);
    while (streaming_)
    {
        if (!clock_->wait_until(lock, deadline))
        {
            continue; // woken early: same deadline
        }
        if (!streaming_)
        {
            break;
        }
        ++slot;
        if (free_list_.empty())
        {
            KLOG_INFO("dropped frame#={:4}", slot);
            if (period_ns == 0)
            {
                // Every deadline is due at once at this rate: going round again would spin
                // with the mutex held and shut out the very reenqueue_buffer (and
                // stop_streaming) it waits for. Frames follow returned buffers instead.
                awaiting_buffer_ = true;
                clock_->wait(lock);
                awaiting_buffer_ = false;
            }
        }
        else
        {
            frame_buffer* buffer = free_list_.back();
            free_list_.pop_back();
            buffer->lent = true;
            lock.unlock();
            produce(*buffer, slot, delivered);
            lock.lock();
            ++delivered;
        }
        // Measured after the work: filling and delivering add to the interval.
        deadline = clock_->now_ns() + period_ns;
    }
}

void virt_cam::produce(frame_buffer& buffer, uint64_t slot, uint64_t delivered)
{
    std::byte* data = buffer.bytes.data();
    const int64_t cam_time = clock_->now_ns();
    fill_pattern(data, delivered);
    draw_status(data);

    korsa_cam::buffer_desc desc;
    desc.buffer_id = data;
    desc.image.type = type_;
    desc.image.data = data;
    desc.image.pitch = pitch_;
    desc.frame.frame_number = delivered;
    desc.frame.frame_id = slot;
    desc.frame.cam_time = cam_time;
    desc.frame.is_incomplete = false;
    if (callback_)
    {
        callback_(desc);
    }
}

void virt_cam::fill_pattern(std::byte* data, uint64_t delivered) const
{
    if (!stripes_)
    {
        // A flat level that rises by one per delivered frame.
        std::memset(data, static_cast<int>(delivered & 0xFF), type_.buffer_length);
        return;
    }
    const int64_t bpp = img::get_bits_per_pixel(type_.type);
    const int64_t width = type_.dim.cx;
    if (bpp == 0 || type_.dim.cy <= 0 || bpp * width < 8)
    {
        return;
    }
    // Runs of 16 pixels, white then black, written over each line's payload only.
    const int64_t run = 2 * bpp;
    const int64_t payload = bpp * width / 8;
    for (int64_t y = 0; y < type_.dim.cy; ++y)
    {
        std::byte* line = data + y * pitch_;
        for (int64_t off = 0, n = 0; off < payload; off += run, ++n)
        {
            const int value = (n % 2 == 0) ? 0xFF : 0x00;
            std::memset(line + off, value, static_cast<std::size_t>(std::min(run, payload - off)));
        }
    }
}

void virt_cam::draw_status(std::byte* data) const
{
    char text[96];
    const auto r = fmt::format_to_n(text, sizeof(text), "virt-cam, exp={} gain={}",
                                    exposure_.load(), gain_.load());
    img::img_descriptor image;
    image.type = type_;
    image.data = data;
    image.pitch = pitch_;
    img_lib::overlay::render_text(image, {10, 320}, 2, text,
                                  static_cast<unsigned>(std::min(r.size, sizeof(text))),
                                  status_background, status_text);
}

std::vector<korsa_cam::stream_type_desc> virt_cam::get_available_stream_types()
{
    return {korsa_cam::stream_type_desc{img::fcc::BGDP, {640, 480}, {1920, 1080}, {4, 4}}};
}

korsa_cam::framerate_data virt_cam::get_available_fps(img::img_type /*type*/)
{
    return {5.0, 60.0};
}

std::error_code virt_cam::write_register(uint32_t /*address*/, std::span<const std::byte> /*data*/)
{
    return std::make_error_code(std::errc::address_not_available);
}

std::error_code virt_cam::read_register(uint32_t /*address*/, std::span<std::byte>& /*data*/)
{
    return std::make_error_code(std::errc::address_not_available);
}

std::vector<property_desc> virt_cam::get_property_list()
{
    // Exposure and gain are the shared controls every camera describes the same way.
    return {
        korsa_cam::standard_properties::exposure_time(),
        korsa_cam::standard_properties::gain(),
        property_desc{std::string(prop_stripes), property_type::boolean, "", "", {}, 0},
    };
}

korsa_cam::result<property_range> virt_cam::get_property_range(std::string_view name)
{
    if (name == prop_exposure)
    {
        return property_range{0, prop_values::from_double(10.0),
                              prop_values::from_double(1000000.0),
                              prop_values::from_double(33000.0), prop_values::from_double(1.0)};
    }
    if (name == prop_gain)
    {
        return property_range{0, prop_values::from_double(0.0), prop_values::from_double(10.0),
                              prop_values::from_double(0.0), prop_values::from_double(1.0)};
    }
    if (name == prop_stripes)
    {
        return property_range{0, prop_values::from_bool(false), prop_values::from_bool(true),
                              prop_values::from_bool(false), prop_values::from_bool(false)};
    }
    return invalid_name();
}

korsa_cam::result<prop_values> virt_cam::get_property(std::string_view name)
{
    if (name == prop_exposure)
    {
        return prop_values::from_double(exposure_.load());
    }
    if (name == prop_gain)
    {
        return prop_values::from_double(gain_.load());
    }
    if (name == prop_stripes)
    {
        return prop_values::from_bool(stripes_.load());
    }
    return invalid_name();
}

std::error_code virt_cam::set_property(std::string_view name, prop_values value)
{
    // Ranges are reported, never enforced.
    if (name == prop_exposure)
    {
        exposure_ = value.as_double();
    }
    else if (name == prop_gain)
    {
        gain_ = value.as_double();
    }
    else if (name == prop_stripes)
    {
        stripes_ = value.as_bool();
    }
    else
    {
        return invalid_name();
    }
    return {};
}

korsa_cam::device_info virt_cam::get_device_info()
{
    return {"virt", "Virtual camera device", "virt"};
}

std::shared_ptr<korsa_cam::camera_itf> create_virt_cam()
{
    return create_virt_cam(std::make_unique<steady_virt_cam_clock>());
}

std::shared_ptr<korsa_cam::camera_itf> create_virt_cam(std::unique_ptr<virt_cam_clock> clock)
{
    return std::make_shared<virt_cam>(std::move(clock));
}

} // namespace gst_korsa
