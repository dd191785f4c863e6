#pragma once

// Owning wrappers over the VideoCore multimedia objects (components, ports, queues, pools,
// buffer headers), the mapping of MMAL status values onto std::error_code and the encoding
// lookup tables. The wrappers share ownership of the MMAL objects and add no locking.

#include "csi_settings.h"

#include <interface/mmal/mmal.h>

#include <fmt/format.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace mmal {

// MMAL_SUCCESS gives the empty code; everything else an errno value in the generic category.
std::error_code status_to_error_code(MMAL_STATUS_T status) noexcept;

// Throws std::system_error with the mapped code of status and the formatted text.
template <typename... Args>
[[noreturn]] void raise_system_error_for_status(MMAL_STATUS_T status, std::string_view format,
                                                const Args&... args)
{
    throw std::system_error(status_to_error_code(status),
                            fmt::vformat(format, fmt::make_format_args(args...)));
}

// Name of an MMAL encoding; unknown codes give their four bytes, lowest first.
std::string mmal_fourcc_to_string(MMAL_FOURCC_T code);

// The packed Bayer encoding for an order and a bit depth (8, 10, 12, 16), 0 when none.
MMAL_FOURCC_T conv_bayer_order_to_fourcc(bayer_order order, int bit_depth);

// One buffer header lent to a callback or a caller. Releases the header to its pool on
// destruction unless the holder took it out with release().
class buffer_header
{
public:
    enum class flags : uint32_t
    {
        none = 0,
        payload_in_user_data = 1u << 0, // data() is the header's user_data (the ARM mapping)
    };

    buffer_header() = default;
    explicit buffer_header(MMAL_BUFFER_HEADER_T* header, flags f = flags::none) noexcept
        : header_(header), flags_(f)
    {}
    ~buffer_header() { reset(); }

    buffer_header(const buffer_header&) = delete;
    buffer_header& operator=(const buffer_header&) = delete;
    buffer_header(buffer_header&& other) noexcept;
    buffer_header& operator=(buffer_header&& other) noexcept;

    MMAL_BUFFER_HEADER_T* get() const noexcept { return header_; }
    explicit operator bool() const noexcept { return header_ != nullptr; }

    // Takes the header out: it is no longer released by this object.
    MMAL_BUFFER_HEADER_T* release() noexcept;
    // Releases the held header (if any) and holds the new one.
    void reset(MMAL_BUFFER_HEADER_T* header = nullptr) noexcept;

    flags get_flags() const noexcept { return flags_; }
    void set_flags(flags f) noexcept { flags_ = f; }

    void* data() const noexcept;
    uint32_t length() const noexcept { return header_ != nullptr ? header_->length : 0; }
    uint32_t mmal_flags() const noexcept { return header_ != nullptr ? header_->flags : 0; }
    int64_t pts() const noexcept { return header_ != nullptr ? header_->pts : 0; }

private:
    MMAL_BUFFER_HEADER_T* header_ = nullptr;
    flags flags_ = flags::none;
};

using buffer_callback = std::function<void(buffer_header&)>;

// Shared handle to one port of a component; keeps the component alive.
class port
{
public:
    port() = default;
    port(std::shared_ptr<MMAL_COMPONENT_T> owner, MMAL_PORT_T* mmal_port);

    MMAL_PORT_T* get() const noexcept { return rec_ ? rec_->mmal_port : nullptr; }
    explicit operator bool() const noexcept { return get() != nullptr; }
    std::string name() const;

    // Routes every filled buffer into callback, on MMAL's callback thread.
    std::error_code enable(buffer_callback callback);
    void disable();
    std::error_code pause(bool paused);
    std::error_code send_buffer(MMAL_BUFFER_HEADER_T* header);
    std::error_code format_commit();
    std::error_code get_parameter(MMAL_PARAMETER_HEADER_T& header);
    std::error_code set_parameter(const MMAL_PARAMETER_HEADER_T& header);
    // Throws std::system_error on failure.
    void set_parameter(uint32_t id, bool value);

private:
    struct record
    {
        std::shared_ptr<MMAL_COMPONENT_T> component;
        MMAL_PORT_T* mmal_port = nullptr;
        buffer_callback callback;

        record() = default;
        record(const record&) = delete;
        record& operator=(const record&) = delete;
        // Unhooks the port from this record, so that buffers MMAL still hands back through
        // the port (a component destroyed with the port enabled disables it, which returns
        // them through the callback) are released instead of reaching a gone record.
        ~record();
    };

    static void trampoline(MMAL_PORT_T* mmal_port, MMAL_BUFFER_HEADER_T* header);

    std::shared_ptr<record> rec_;
};

// Shared ownership of one MMAL component and its ports.
class component
{
public:
    component() = default;
    // Throws std::system_error when the component cannot be created.
    explicit component(const std::string& name);
    static component create(const std::string& name) { return component(name); }

    MMAL_COMPONENT_T* get() const noexcept { return comp_.get(); }
    explicit operator bool() const noexcept { return comp_ != nullptr; }

    std::error_code enable();
    void disable();
    // Throws std::runtime_error for an index past the last output port.
    port get_output_port(size_t index) const;
    const std::vector<port>& output_ports() const noexcept { return outputs_; }
    const std::vector<port>& input_ports() const noexcept { return inputs_; }

private:
    std::shared_ptr<MMAL_COMPONENT_T> comp_;
    std::vector<port> outputs_;
    std::vector<port> inputs_;
};

// Shared ownership of one MMAL queue (or a view of a pool's free queue).
class queue
{
public:
    // Creates a new queue; holds nothing if MMAL cannot create one.
    queue();
    explicit queue(std::shared_ptr<MMAL_QUEUE_T> q) noexcept : q_(std::move(q)) {}

    MMAL_QUEUE_T* get() const noexcept { return q_.get(); }

    // Takes headers until a take yields none; timeout 0 never waits.
    std::vector<MMAL_BUFFER_HEADER_T*> pop_all(unsigned timeout_ms = 0);

private:
    std::shared_ptr<MMAL_QUEUE_T> q_;
};

// Shared ownership of one MMAL pool; its queue view shares that ownership.
class pool
{
public:
    // An empty pool with a fresh queue.
    pool() = default;

    // context_owner keeps the allocator context alive until the MMAL pool is gone, since
    // the pool calls the free callback with it while it is destroyed.
    static pool create_pool(uint32_t count, uint32_t payload_size, void* context,
                            mmal_pool_allocator_alloc_t alloc, mmal_pool_allocator_free_t free,
                            std::shared_ptr<void> context_owner = {});

    MMAL_POOL_T* get() const noexcept { return pool_ ? pool_->mmal_pool : nullptr; }
    explicit operator bool() const noexcept { return get() != nullptr; }
    queue& get_queue() noexcept { return queue_; }

    // Sends every free header to the port; refused headers go back to the pool.
    void send_all_buffers_to_port(port& p);

private:
    struct handle
    {
        MMAL_POOL_T* mmal_pool = nullptr;
        std::shared_ptr<void> context_owner;
        handle(MMAL_POOL_T* p, std::shared_ptr<void> owner)
            : mmal_pool(p), context_owner(std::move(owner))
        {}
        ~handle();
        handle(const handle&) = delete;
        handle& operator=(const handle&) = delete;
    };

    std::shared_ptr<handle> pool_;
    queue queue_;
};

} // namespace mmal
