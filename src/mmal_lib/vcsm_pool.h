#pragma once

// An MMAL buffer pool whose payloads are VideoCore shared memory locked into the process:
// the receiver writes a frame through the VideoCore handle in each header's data, and the
// process reads the same memory through the ARM address in the header's user_data, so a
// frame reaches its consumer without a copy.

#include "mmal_obj.h"

#include <cstdint>
#include <string>

namespace mmal {

// Turns on zero-copy buffers for the port; throws std::system_error on failure.
void setup_vcsm_port(port& p);

class vcsm_pool
{
public:
    vcsm_pool() = default;
    ~vcsm_pool() { close(); }
    vcsm_pool(const vcsm_pool&) = delete;
    vcsm_pool& operator=(const vcsm_pool&) = delete;

    // Replaces the held pool by count buffers of payload_size bytes each; throws
    // std::runtime_error when the pool cannot be created or a buffer cannot be mapped.
    void create(uint32_t count, uint32_t payload_size, const std::string& name);
    void send_all_buffers_to_port(port& p) { pool_.send_all_buffers_to_port(p); }
    // Lets go of the pool; its memory is freed once no one else holds it.
    void close();

    // True when header is one of the held pool's headers.
    bool owns(const MMAL_BUFFER_HEADER_T* header) const noexcept;
    pool& get_pool() noexcept { return pool_; }

private:
    pool pool_;
};

} // namespace mmal
