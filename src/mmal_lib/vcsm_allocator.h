#pragma once

// Allocator behind the VCSM pool: hands out VideoCore shared-memory blocks, each locked into
// the process, and remembers per block the VideoCore handle (what the firmware writes
// through), the VCSM user handle and the ARM address (what the process reads).

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mmal {

class vcsm_allocator
{
public:
    struct allocation
    {
        uint32_t vc_handle = 0;
        uint32_t user_handle = 0;
        void* arm_address = nullptr;
    };

    explicit vcsm_allocator(std::string name) : name_(std::move(name)) {}
    // Frees whatever is still allocated, so no block outlives its allocator.
    ~vcsm_allocator();
    vcsm_allocator(const vcsm_allocator&) = delete;
    vcsm_allocator& operator=(const vcsm_allocator&) = delete;

    // The payload pointer for MMAL (the VideoCore handle), or null on any failure.
    void* allocate(uint32_t size);
    // Unlocks and frees the block of payload; an unknown payload changes nothing.
    void release(void* payload);
    // The ARM address of the block of payload, or null when unknown.
    void* arm_address(const void* payload) const;
    std::vector<allocation> allocations() const;

    // Callbacks for mmal_pool_create_with_allocator; context is a vcsm_allocator.
    static void* alloc_callback(void* context, uint32_t size);
    static void free_callback(void* context, void* payload);

private:
    std::string name_;
    mutable std::mutex mtx_;
    std::vector<allocation> allocations_;
};

} // namespace mmal
