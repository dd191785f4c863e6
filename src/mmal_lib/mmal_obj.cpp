#include "mmal_obj.h"

#include "log.h"

#include <cerrno>
#include <exception>
#include <stdexcept>
#include <utility>

#include <interface/mmal/util/mmal_util_params.h>
// mmal_port_pause is exported by the core library but declared only in this header, which
// the SDK installs under its internal "core" folder. It is included by that installed path
// (needing interface/mmal on the include path for its own includes) rather than declared
// here, so the compiler checks our call against the SDK's own declaration. Nothing else of
// the header is used.
#include <interface/mmal/core/mmal_port_private.h>

namespace mmal {

namespace {

constexpr MMAL_FOURCC_T fourcc(const char (&s)[5]) noexcept
{
    return static_cast<MMAL_FOURCC_T>(static_cast<uint8_t>(s[0])) |
           static_cast<MMAL_FOURCC_T>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<MMAL_FOURCC_T>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<MMAL_FOURCC_T>(static_cast<uint8_t>(s[3])) << 24;
}

struct encoding_name
{
    MMAL_FOURCC_T code;
    const char* name;
};

constexpr encoding_name encoding_names[] = {
    {fourcc("I420"), "I420"},       {fourcc("S420"), "I420_SLICE"}, {fourcc("I422"), "I422"},
    {fourcc("S422"), "I422_SLICE"}, {fourcc("NV12"), "NV12"},       {fourcc("NV21"), "NV21"},
    {fourcc("YV12"), "YV12"},       {fourcc("YUYV"), "YUYV"},       {fourcc("YVYU"), "YVYU"},
    {fourcc("UYVY"), "UYVY"},       {fourcc("VYUY"), "VYUY"},       {fourcc("RGBA"), "RGBA"},
    {fourcc("BGRA"), "BGRA"},       {fourcc("ARGB"), "ARGB"},       {fourcc("ABGR"), "ABGR"},
    {fourcc("RGB2"), "RGB16"},      {fourcc("BGR2"), "BGR16"},      {fourcc("RGB3"), "RGB24"},
    {fourcc("BGR3"), "BGR24"},      {fourcc("RGB4"), "RGB32"},      {fourcc("BGR4"), "BGR32"},
    {fourcc("BA81"), "SBGGR8"},     {fourcc("GBRG"), "SGBRG8"},     {fourcc("GRBG"), "SGRBG8"},
    {fourcc("RGGB"), "SRGGB8"},     {fourcc("pBAA"), "SBGGR10P"},   {fourcc("pGAA"), "SGBRG10P"},
    {fourcc("pgAA"), "SGRBG10P"},   {fourcc("pRAA"), "SRGGB10P"},   {fourcc("pB12"), "SBGGR12P"},
    {fourcc("pG12"), "SGBRG12P"},   {fourcc("pg12"), "SGRBG12P"},   {fourcc("pR12"), "SRGGB12P"},
    {fourcc("BG16"), "SBGGR16"},    {fourcc("GB16"), "SGBRG16"},    {fourcc("GR16"), "SGRBG16"},
    {fourcc("RG16"), "SRGGB16"},
};

// Rows by Bayer order (bggr, gbrg, grbg, rggb), columns by depth (8, 10, 12, 16).
constexpr MMAL_FOURCC_T bayer_codes[4][4] = {
    {fourcc("BA81"), fourcc("pBAA"), fourcc("pB12"), fourcc("BG16")},
    {fourcc("GBRG"), fourcc("pGAA"), fourcc("pG12"), fourcc("GB16")},
    {fourcc("GRBG"), fourcc("pgAA"), fourcc("pg12"), fourcc("GR16")},
    {fourcc("RGGB"), fourcc("pRAA"), fourcc("pR12"), fourcc("RG16")},
};

std::error_code nothing_held() noexcept
{
    return std::make_error_code(std::errc::bad_file_descriptor);
}

} // namespace

std::error_code status_to_error_code(MMAL_STATUS_T status) noexcept
{
    switch (status)
    {
    case MMAL_SUCCESS:
        return {};
    case MMAL_ENOMEM:
        return {ENOMEM, std::generic_category()};
    case MMAL_ENOSPC:
        return {ENOSPC, std::generic_category()};
    case MMAL_EINVAL:
        return {EINVAL, std::generic_category()};
    case MMAL_ENOSYS:
        return {ENOSYS, std::generic_category()};
    case MMAL_ENOENT:
        return {ENOENT, std::generic_category()};
    case MMAL_ENXIO:
        return {ENXIO, std::generic_category()};
    case MMAL_EIO:
        return {EIO, std::generic_category()};
    case MMAL_ESPIPE:
        return {ESPIPE, std::generic_category()};
    case MMAL_ECORRUPT:
        return {EPROTO, std::generic_category()};
    case MMAL_ENOTREADY:
        return {ENOSR, std::generic_category()};
    case MMAL_ECONFIG:
        return {EINVAL, std::generic_category()};
    case MMAL_EISCONN:
        return {EISCONN, std::generic_category()};
    case MMAL_ENOTCONN:
        return {ENOTCONN, std::generic_category()};
    case MMAL_EAGAIN:
        return {EAGAIN, std::generic_category()};
    case MMAL_EFAULT:
        return {EFAULT, std::generic_category()};
    default:
        return {static_cast<int>(status), std::generic_category()};
    }
}

std::string mmal_fourcc_to_string(MMAL_FOURCC_T code)
{
    for (const auto& e : encoding_names)
    {
        if (e.code == code)
        {
            return e.name;
        }
    }
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
    {
        out[static_cast<size_t>(i)] = static_cast<char>((code >> (8 * i)) & 0xFF);
    }
    return out;
}

MMAL_FOURCC_T conv_bayer_order_to_fourcc(bayer_order order, int bit_depth)
{
    const int row = static_cast<int>(order);
    if (row < 0 || row > 3)
    {
        KLOG_ERROR("order out of range - {}\n", row);
        return 0;
    }
    int column = 0;
    switch (bit_depth)
    {
    case 8:
        column = 0;
        break;
    case 10:
        column = 1;
        break;
    case 12:
        column = 2;
        break;
    case 16:
        column = 3;
        break;
    default:
        KLOG_ERROR("{} is not not one of the handled bit depths\n", bit_depth);
        return 0;
    }
    return bayer_codes[row][column];
}

buffer_header::buffer_header(buffer_header&& other) noexcept
    : header_(other.release()), flags_(other.flags_)
{}

buffer_header& buffer_header::operator=(buffer_header&& other) noexcept
{
    if (this != &other)
    {
        reset(other.release());
        flags_ = other.flags_;
    }
    return *this;
}

MMAL_BUFFER_HEADER_T* buffer_header::release() noexcept
{
    return std::exchange(header_, nullptr);
}

void buffer_header::reset(MMAL_BUFFER_HEADER_T* header) noexcept
{
    if (MMAL_BUFFER_HEADER_T* old = std::exchange(header_, header))
    {
        mmal_buffer_header_release(old);
    }
}

void* buffer_header::data() const noexcept
{
    if (header_ == nullptr)
    {
        return nullptr;
    }
    if ((static_cast<uint32_t>(flags_) & static_cast<uint32_t>(flags::payload_in_user_data)) != 0)
    {
        return header_->user_data;
    }
    return header_->data;
}

port::port(std::shared_ptr<MMAL_COMPONENT_T> owner, MMAL_PORT_T* mmal_port)
    : rec_(std::make_shared<record>())
{
    rec_->component = std::move(owner);
    rec_->mmal_port = mmal_port;
}

port::record::~record()
{
    if (mmal_port != nullptr &&
        mmal_port->userdata == reinterpret_cast<MMAL_PORT_USERDATA_T*>(this))
    {
        mmal_port->userdata = nullptr;
    }
}

std::string port::name() const
{
    const MMAL_PORT_T* p = get();
    return p != nullptr && p->name != nullptr ? p->name : "";
}

void port::trampoline(MMAL_PORT_T* mmal_port, MMAL_BUFFER_HEADER_T* header)
{
    // The header is released here unless the callback took it out of the wrapper.
    buffer_header wrapped(header);
    auto* rec = reinterpret_cast<record*>(mmal_port->userdata);
    if (rec == nullptr || !rec->callback)
    {
        return;
    }
    try
    {
        rec->callback(wrapped);
    }
    catch (const std::exception& ex)
    {
        // Nothing may unwind into MMAL's thread; the buffer still goes back.
        KLOG_ERROR("Buffer callback of port '{}' threw: {}", mmal_port->name, ex.what());
    }
    catch (...)
    {
        KLOG_ERROR("Buffer callback of port '{}' threw", mmal_port->name);
    }
}

std::error_code port::enable(buffer_callback callback)
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return nothing_held();
    }
    rec_->callback = std::move(callback);
    rec_->mmal_port->userdata = reinterpret_cast<MMAL_PORT_USERDATA_T*>(rec_.get());
    const MMAL_STATUS_T status = mmal_port_enable(rec_->mmal_port, &port::trampoline);
    if (status != MMAL_SUCCESS)
    {
        rec_->callback = nullptr;
        KLOG_ERROR("Failed to enable port '{}'", name());
        return status_to_error_code(status);
    }
    return {};
}

void port::disable()
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return;
    }
    if (mmal_port_disable(rec_->mmal_port) != MMAL_SUCCESS)
    {
        KLOG_INFO("Failed to disable port '{}'", name());
    }
}

std::error_code port::pause(bool paused)
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return nothing_held();
    }
    return status_to_error_code(mmal_port_pause(rec_->mmal_port, paused ? MMAL_TRUE : MMAL_FALSE));
}

std::error_code port::send_buffer(MMAL_BUFFER_HEADER_T* header)
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return nothing_held();
    }
    return status_to_error_code(mmal_port_send_buffer(rec_->mmal_port, header));
}

std::error_code port::format_commit()
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return nothing_held();
    }
    const MMAL_STATUS_T status = mmal_port_format_commit(rec_->mmal_port);
    if (status != MMAL_SUCCESS)
    {
        KLOG_ERROR("Failed mmal_port_format_commit on port '{}'", name());
    }
    return status_to_error_code(status);
}

std::error_code port::get_parameter(MMAL_PARAMETER_HEADER_T& header)
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return nothing_held();
    }
    return status_to_error_code(mmal_port_parameter_get(rec_->mmal_port, &header));
}

std::error_code port::set_parameter(const MMAL_PARAMETER_HEADER_T& header)
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        return nothing_held();
    }
    return status_to_error_code(mmal_port_parameter_set(rec_->mmal_port, &header));
}

void port::set_parameter(uint32_t id, bool value)
{
    if (!rec_ || rec_->mmal_port == nullptr)
    {
        throw std::system_error(nothing_held(), "Failed to set parameter on an empty port");
    }
    const MMAL_STATUS_T status =
        mmal_port_parameter_set_boolean(rec_->mmal_port, id, value ? MMAL_TRUE : MMAL_FALSE);
    if (status != MMAL_SUCCESS)
    {
        raise_system_error_for_status(status, "Failed to set port parameter id={} enable={}", id,
                                      value);
    }
}

component::component(const std::string& name)
{
    MMAL_COMPONENT_T* raw = nullptr;
    const MMAL_STATUS_T status = mmal_component_create(name.c_str(), &raw);
    if (status != MMAL_SUCCESS || raw == nullptr)
    {
        raise_system_error_for_status(status != MMAL_SUCCESS ? status : MMAL_ENOMEM,
                                      "Failed to create component '{}'", name);
    }
    comp_ = std::shared_ptr<MMAL_COMPONENT_T>(
        raw, [](MMAL_COMPONENT_T* c) { mmal_component_destroy(c); });
    outputs_.reserve(raw->output_num);
    for (uint32_t i = 0; i < raw->output_num; ++i)
    {
        outputs_.emplace_back(comp_, raw->output[i]);
    }
    inputs_.reserve(raw->input_num);
    for (uint32_t i = 0; i < raw->input_num; ++i)
    {
        inputs_.emplace_back(comp_, raw->input[i]);
    }
}

std::error_code component::enable()
{
    if (!comp_)
    {
        return nothing_held();
    }
    return status_to_error_code(mmal_component_enable(comp_.get()));
}

void component::disable()
{
    if (!comp_)
    {
        return;
    }
    if (mmal_component_disable(comp_.get()) != MMAL_SUCCESS)
    {
        KLOG_WARN("Failed to disable component '{}'", comp_->name != nullptr ? comp_->name : "");
    }
}

port component::get_output_port(size_t index) const
{
    if (index >= outputs_.size())
    {
        throw std::runtime_error(fmt::format("Failed to fetch output port index={}", index));
    }
    return outputs_[index];
}

queue::queue()
{
    if (MMAL_QUEUE_T* raw = mmal_queue_create())
    {
        q_ = std::shared_ptr<MMAL_QUEUE_T>(raw, [](MMAL_QUEUE_T* q) { mmal_queue_destroy(q); });
    }
    else
    {
        KLOG_WARN("Failed to create an MMAL queue");
    }
}

std::vector<MMAL_BUFFER_HEADER_T*> queue::pop_all(unsigned timeout_ms)
{
    std::vector<MMAL_BUFFER_HEADER_T*> out;
    if (!q_)
    {
        return out;
    }
    for (;;)
    {
        MMAL_BUFFER_HEADER_T* h =
            timeout_ms == 0 ? mmal_queue_get(q_.get()) : mmal_queue_timedwait(q_.get(), timeout_ms);
        if (h == nullptr)
        {
            return out;
        }
        out.push_back(h);
    }
}

pool::handle::~handle()
{
    // The free callbacks run in here, while context_owner still keeps their context alive.
    mmal_pool_destroy(mmal_pool);
}

pool pool::create_pool(uint32_t count, uint32_t payload_size, void* context,
                       mmal_pool_allocator_alloc_t alloc, mmal_pool_allocator_free_t free,
                       std::shared_ptr<void> context_owner)
{
    MMAL_POOL_T* raw = mmal_pool_create_with_allocator(count, payload_size, context, alloc, free);
    if (raw == nullptr)
    {
        throw std::runtime_error(fmt::format(
            "Failed to create pool with alloc/free func and params buffer_num={}, payload_size={} ",
            count, payload_size));
    }
    pool out;
    out.pool_ = std::make_shared<handle>(raw, std::move(context_owner));
    out.queue_ = queue(std::shared_ptr<MMAL_QUEUE_T>(out.pool_, raw->queue));
    return out;
}

void pool::send_all_buffers_to_port(port& p)
{
    if (!p)
    {
        return;
    }
    // Take them all first: a refused header goes back into this very queue.
    for (MMAL_BUFFER_HEADER_T* h : queue_.pop_all(0))
    {
        const std::error_code ec = p.send_buffer(h);
        if (ec)
        {
            KLOG_WARN("Failed to send buffer {} dst port due to err={}\n", fmt::ptr(h),
                      ec.message());
            mmal_buffer_header_release(h);
        }
    }
}

} // namespace mmal
