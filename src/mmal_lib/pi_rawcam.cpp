#include "pi_rawcam.h"

#include "log.h"
#include "videocore_platform.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>

namespace mmal::pi {

namespace {

constexpr const char* rawcam_name = "vc.ril.rawcam";
constexpr const char* buffer_name = "mmal_vc_port buffer";
// Extra bytes per pixel column on top of the receiver's recommendation.
constexpr uint64_t slack_per_column = 20;

std::error_code invalid_argument() noexcept
{
    return std::make_error_code(std::errc::invalid_argument);
}

MMAL_CAMERA_RX_CONFIG_UNPACK unpack_for(uint32_t bit_depth)
{
    switch (bit_depth)
    {
    case 8:
        return MMAL_CAMERA_RX_CONFIG_UNPACK_8;
    case 10:
        return MMAL_CAMERA_RX_CONFIG_UNPACK_10;
    case 12:
        return MMAL_CAMERA_RX_CONFIG_UNPACK_12;
    case 14:
        return MMAL_CAMERA_RX_CONFIG_UNPACK_14;
    case 16:
        return MMAL_CAMERA_RX_CONFIG_UNPACK_16;
    default:
        KLOG_ERROR("Unknown native bit depth {}", bit_depth);
        return MMAL_CAMERA_RX_CONFIG_UNPACK_NONE;
    }
}

MMAL_CAMERA_RX_CONFIG_PACK pack_for(int bit_depth)
{
    switch (bit_depth)
    {
    case 8:
        return MMAL_CAMERA_RX_CONFIG_PACK_8;
    case 10:
        return MMAL_CAMERA_RX_CONFIG_PACK_RAW10;
    case 12:
        return MMAL_CAMERA_RX_CONFIG_PACK_RAW12;
    case 14:
        return MMAL_CAMERA_RX_CONFIG_PACK_14;
    case 16:
        return MMAL_CAMERA_RX_CONFIG_PACK_16;
    default:
        KLOG_ERROR("Unknown output bit depth {}", bit_depth);
        return MMAL_CAMERA_RX_CONFIG_PACK_NONE;
    }
}

// Settings that would overflow the receiver's format fields or its buffer arithmetic are
// refused before the receiver sees them.
bool settings_usable(const csi_settings& s)
{
    if (s.width <= 0 || s.height == 0 || s.height > static_cast<uint32_t>(INT32_MAX))
    {
        KLOG_WARN("Invalid receiver size {}x{}", s.width, s.height);
        return false;
    }
    if (!std::isfinite(s.fps) || s.fps <= 0.0 ||
        s.fps * 65536.0 > static_cast<double>(std::numeric_limits<int32_t>::max()))
    {
        KLOG_WARN("Invalid receiver frame rate {}", s.fps);
        return false;
    }
    return true;
}

} // namespace

raspirawcam_component::~raspirawcam_component()
{
    close();
}

std::error_code raspirawcam_component::setup(const csi_settings& settings, unsigned extra_buffers,
                                             int output_bit_depth)
{
    close();
    stride_ = 0;
    if (!settings_usable(settings))
    {
        return invalid_argument();
    }
    try
    {
        configure(settings, extra_buffers, output_bit_depth);
    }
    catch (const std::system_error& ex)
    {
        KLOG_WARN("Failed to setup raspi rawcam. Ex={}", ex.what());
        close();
        return ex.code();
    }
    catch (const std::exception& ex)
    {
        KLOG_WARN("Failed to setup raspi rawcam. Ex={}", ex.what());
        close();
        return std::make_error_code(std::errc::connection_aborted);
    }
    return {};
}

void raspirawcam_component::configure(const csi_settings& settings, unsigned extra_buffers,
                                      int output_bit_depth)
{
    ensure_videocore_platform();
    component_ = component::create(rawcam_name);
    output_ = component_.get_output_port(0);
    setup_vcsm_port(output_);

    MMAL_PARAMETER_CAMERA_RX_CONFIG_T rx_cfg{};
    rx_cfg.hdr.id = MMAL_PARAMETER_CAMERA_RX_CONFIG;
    rx_cfg.hdr.size = sizeof rx_cfg;
    if (std::error_code ec = output_.get_parameter(rx_cfg.hdr))
    {
        throw std::system_error(ec, "Failed to get cfg");
    }

    int output_depth = output_bit_depth;
    if (output_bit_depth < 1 || static_cast<uint32_t>(output_bit_depth) == settings.bit_depth)
    {
        output_depth = static_cast<int>(settings.bit_depth);
        rx_cfg.unpack = MMAL_CAMERA_RX_CONFIG_UNPACK_NONE;
        rx_cfg.pack = MMAL_CAMERA_RX_CONFIG_PACK_NONE;
    }
    else
    {
        rx_cfg.unpack = unpack_for(settings.bit_depth);
        rx_cfg.pack = pack_for(output_bit_depth);
    }
    // Zero keeps what the receiver already has.
    if (settings.data_lanes != 0)
    {
        rx_cfg.data_lanes = settings.data_lanes;
    }
    if (settings.embedded_data_lines != 0)
    {
        rx_cfg.embedded_data_lines = settings.embedded_data_lines;
    }
    if (settings.image_id != 0)
    {
        rx_cfg.image_id = settings.image_id;
    }
    if (std::error_code ec = output_.set_parameter(rx_cfg.hdr))
    {
        throw std::system_error(ec, "Failed to set MMAL_PARAMETER_CAMERA_RX_CONFIG_T");
    }

    MMAL_PARAMETER_CAMERA_RX_TIMING_T rx_timing{};
    rx_timing.hdr.id = MMAL_PARAMETER_CAMERA_RX_TIMING;
    rx_timing.hdr.size = sizeof rx_timing;
    if (std::error_code ec = output_.get_parameter(rx_timing.hdr))
    {
        throw std::system_error(ec, "Failed to get cfg");
    }
    if (settings.term_override)
    {
        rx_timing.term1 = 1;
        rx_timing.term2 = 1;
    }
    KLOG_TRACE("Timing {}/{}, {}/{}/{}, {}/{}\n", rx_timing.timing1, rx_timing.timing2,
               rx_timing.timing3, rx_timing.timing4, rx_timing.timing5, rx_timing.term1,
               rx_timing.term2);
    if (std::error_code ec = output_.set_parameter(rx_timing.hdr))
    {
        throw std::system_error(ec, "Failed to set timing");
    }

    if (std::error_code ec = component_.enable())
    {
        throw std::system_error(ec, "Failed to enable rawcam component");
    }

    MMAL_PORT_T* out = output_.get();
    MMAL_ES_FORMAT_T* fmt = out->format;
    fmt->encoding = conv_bayer_order_to_fourcc(settings.bayer, output_depth);
    MMAL_VIDEO_FORMAT_T& video = fmt->es->video;
    video.width = static_cast<uint32_t>(settings.width);
    video.height = settings.height;
    video.crop.width = settings.width;
    video.crop.height = static_cast<int32_t>(settings.height);
    video.frame_rate.num = static_cast<int32_t>(std::lround(settings.fps * 65536.0));
    video.frame_rate.den = 65536;
    if (std::error_code ec = output_.format_commit())
    {
        throw std::system_error(ec, "Failed to commit format");
    }

    if (video.height == 0)
    {
        throw std::system_error(invalid_argument(), "Committed format has no lines");
    }
    stride_ = out->buffer_size_recommended / video.height;
    const uint64_t buffer_size =
        uint64_t{out->buffer_size_recommended} + slack_per_column * uint64_t(settings.width);
    const uint64_t buffer_num = uint64_t{out->buffer_num_recommended} + extra_buffers;
    if (buffer_size > std::numeric_limits<uint32_t>::max() ||
        buffer_num > std::numeric_limits<uint32_t>::max())
    {
        throw std::system_error(std::make_error_code(std::errc::value_too_large),
                                "Buffer size or count out of range");
    }
    out->buffer_size = static_cast<uint32_t>(buffer_size);
    out->buffer_num = static_cast<uint32_t>(buffer_num);
    KLOG_DEBUG("Rawcam: format-commit result encoding:'{}', video=({}x{}) "
               "buffer-size-recommended={}B, -using={}B, buffer-num={} stride={}B",
               mmal_fourcc_to_string(fmt->encoding), video.width, video.height,
               out->buffer_size_recommended, out->buffer_size, out->buffer_num, stride_);

    pool_.create(out->buffer_num, out->buffer_size, buffer_name);
}

std::error_code raspirawcam_component::start(frame_callback callback)
{
    if (!component_ || !output_)
    {
        KLOG_WARN("Receiver started without a successful setup");
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (streaming_)
    {
        // Pausing and re-enabling would stall the running stream.
        return std::make_error_code(std::errc::already_connected);
    }
    if (component_disabled_)
    {
        // Stopped earlier: the configuration is still in place, but a disabled receiver
        // captures nothing until it is enabled again.
        if (std::error_code ec = component_.enable())
        {
            return ec;
        }
        component_disabled_ = false;
    }
    output_.pause(true);
    const std::error_code ec = output_.enable([this, cb = std::move(callback)](buffer_header& b) {
        if (!streaming_)
        {
            // Stopping: the port hands back what it still held. Nothing was captured
            // into it, so it goes back to the pool (the header wrapper releases it)
            // instead of reaching the consumer as a frame.
            return;
        }
        b.set_flags(buffer_header::flags::payload_in_user_data);
        if (cb)
        {
            cb(b);
        }
    });
    if (ec)
    {
        return ec;
    }
    pool_.send_all_buffers_to_port(output_);
    streaming_ = true;
    return output_.pause(false);
}

void raspirawcam_component::shut_down_stream()
{
    // Cleared first: buffers the port hands back while it is disabled (on this thread or
    // MMAL's) are then not taken for frames.
    streaming_ = false;
    output_.disable();
    component_.disable();
    component_disabled_ = true;
}

void raspirawcam_component::stop()
{
    if (component_ && streaming_)
    {
        shut_down_stream();
    }
}

void raspirawcam_component::close()
{
    if (!component_)
    {
        return;
    }
    if (streaming_)
    {
        shut_down_stream();
    }
    component_.disable();
    pool_.close();
    output_ = port();
    component_ = component();
    component_disabled_ = false;
}

std::error_code raspirawcam_component::requeue_buffer(MMAL_BUFFER_HEADER_T* header)
{
    if (!component_)
    {
        // Nothing is configured: the header cannot be one of ours, so it is not touched.
        KLOG_WARN("Buffer {} returned to a closed receiver", fmt::ptr(header));
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (!pool_.owns(header))
    {
        KLOG_WARN("Buffer {} does not belong to the receiver's pool", fmt::ptr(header));
        return invalid_argument();
    }
    if (output_.send_buffer(header))
    {
        mmal_buffer_header_release(header);
    }
    return {};
}

} // namespace mmal::pi
