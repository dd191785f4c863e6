#include "vcsm_pool.h"

#include "log.h"
#include "vcsm_allocator.h"
#include "videocore_platform.h"

#include <memory>
#include <stdexcept>

namespace mmal {

void setup_vcsm_port(port& p)
{
    p.set_parameter(MMAL_PARAMETER_ZERO_COPY, true);
}

void vcsm_pool::create(uint32_t count, uint32_t payload_size, const std::string& name)
{
    close();
    ensure_videocore_platform();

    // The allocator lives exactly as long as the MMAL pool: the pool frees its payloads
    // through it while it is destroyed, whoever drops the last reference.
    auto allocator = std::make_shared<vcsm_allocator>(name);
    vcsm_allocator* context = allocator.get();
    pool_ = pool::create_pool(count, payload_size, context, &vcsm_allocator::alloc_callback,
                              &vcsm_allocator::free_callback, std::move(allocator));

    bool failed = false;
    for (MMAL_BUFFER_HEADER_T* h : pool_.get_queue().pop_all(0))
    {
        h->user_data = context->arm_address(h->data);
        if (h->user_data == nullptr)
        {
            failed = true;
        }
        mmal_buffer_header_release(h);
    }
    if (failed)
    {
        // A pool with unmapped buffers would hand out frames nobody can read.
        close();
        throw std::runtime_error(fmt::format("Failed to allocate buffer_count={}, payload_size={}",
                                             count, payload_size));
    }
}

void vcsm_pool::close()
{
    pool_ = pool();
}

bool vcsm_pool::owns(const MMAL_BUFFER_HEADER_T* header) const noexcept
{
    const MMAL_POOL_T* p = pool_.get();
    if (p == nullptr || header == nullptr)
    {
        return false;
    }
    for (uint32_t i = 0; i < p->headers_num; ++i)
    {
        if (p->header[i] == header)
        {
            return true;
        }
    }
    return false;
}

} // namespace mmal
