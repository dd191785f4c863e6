#include "vcsm_allocator.h"

#include <interface/vcsm/user-vcsm.h>

#include <algorithm>

namespace mmal {

namespace {

uint32_t handle_of_payload(const void* payload) noexcept
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(payload));
}

} // namespace

vcsm_allocator::~vcsm_allocator()
{
    for (const allocation& a : allocations_)
    {
        vcsm_unlock_hdl(a.user_handle);
        vcsm_free(a.user_handle);
    }
}

void* vcsm_allocator::allocate(uint32_t size)
{
    if (size == 0)
    {
        return nullptr;
    }
    std::lock_guard lock(mtx_);
    const unsigned user = vcsm_malloc_cache(size, VCSM_CACHE_TYPE_HOST, name_.c_str());
    if (user == 0)
    {
        return nullptr;
    }
    const unsigned vc = vcsm_vc_hdl_from_hdl(user);
    if (vc == 0)
    {
        vcsm_free(user);
        return nullptr;
    }
    void* arm = vcsm_lock(user);
    if (arm == nullptr)
    {
        vcsm_free(user);
        return nullptr;
    }
    allocations_.push_back({vc, user, arm});
    return reinterpret_cast<void*>(static_cast<uintptr_t>(vc));
}

void vcsm_allocator::release(void* payload)
{
    std::lock_guard lock(mtx_);
    const uint32_t vc = handle_of_payload(payload);
    auto it = std::find_if(allocations_.begin(), allocations_.end(),
                           [vc](const allocation& a) { return a.vc_handle == vc; });
    if (it == allocations_.end())
    {
        return;
    }
    vcsm_unlock_hdl(it->user_handle);
    vcsm_free(it->user_handle);
    allocations_.erase(it);
}

void* vcsm_allocator::arm_address(const void* payload) const
{
    std::lock_guard lock(mtx_);
    const uint32_t vc = handle_of_payload(payload);
    for (const allocation& a : allocations_)
    {
        if (a.vc_handle == vc)
        {
            return a.arm_address;
        }
    }
    return nullptr;
}

std::vector<vcsm_allocator::allocation> vcsm_allocator::allocations() const
{
    std::lock_guard lock(mtx_);
    return allocations_;
}

void* vcsm_allocator::alloc_callback(void* context, uint32_t size)
{
    if (context == nullptr)
    {
        return nullptr;
    }
    return static_cast<vcsm_allocator*>(context)->allocate(size);
}

void vcsm_allocator::free_callback(void* context, void* payload)
{
    if (context != nullptr)
    {
        static_cast<vcsm_allocator*>(context)->release(payload);
    }
}

} // namespace mmal
