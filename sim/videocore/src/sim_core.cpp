// Process-wide state, VCSM, queues, pools and buffer headers of the simulated layer.

#include "sim_state.h"

#include <bcm_host.h>
#include <interface/mmal/util/mmal_util.h>
#include <interface/vcsm/user-vcsm.h>

#include <cstdio>
#include <cstring>

namespace korsa_vc_sim {

// The simulated GPU memory is bounded like the real one.
constexpr uint64_t max_vcsm_bytes = 512u << 20;

state::~state()
{
    for (auto& t : zombies)
    {
        if (t.joinable())
        {
            t.join();
        }
    }
}

state& st()
{
    // Never destroyed, as the SDK's own state is not: a camera kept alive until the process
    // exits may still call the layer from a static destructor.
    static state* const s = new state;
    return *s;
}

bool should_fail(korsa_vc_sim_op op, MMAL_STATUS_T* status)
{
    failure& f = st().failures[op];
    if (!f.armed)
    {
        return false;
    }
    if (f.skip > 0)
    {
        --f.skip;
        return false;
    }
    f.armed = false;
    if (status != nullptr)
    {
        *status = f.status;
    }
    return true;
}

void complain(const char* what)
{
    std::fprintf(stderr, "videocore-sim: %s\n", what);
}

uint8_t* vcsm_memory_of_vc_handle(unsigned vc_handle, uint32_t need)
{
    auto& s = st();
    auto it = s.user_by_vc.find(vc_handle);
    if (it == s.user_by_vc.end())
    {
        return nullptr;
    }
    vcsm_block& b = s.vcsm_by_user.at(it->second);
    return b.size >= need ? b.mem.get() : nullptr;
}

void release_header_locked(MMAL_BUFFER_HEADER_T* header)
{
    auto& s = st();
    if (header == nullptr || s.live_headers.count(header) == 0)
    {
        ++s.counters.invalid_header_releases;
        complain("release of an unknown buffer header");
        return;
    }
    MMAL_BUFFER_HEADER_PRIVATE_T* p = header->priv;
    if (p->in_free_queue || p->at_port)
    {
        ++s.counters.invalid_header_releases;
        complain("release of a buffer header that is not held by the client");
        return;
    }
    header->length = 0;
    header->offset = 0;
    header->flags = 0;
    header->pts = MMAL_TIME_UNKNOWN;
    header->dts = MMAL_TIME_UNKNOWN;
    header->cmd = 0;
    p->in_free_queue = true;
    p->pool->queue.items.push_back(header);
    s.cv.notify_all();
}

} // namespace korsa_vc_sim

using namespace korsa_vc_sim;

extern "C" {

void bcm_host_init(void)
{
    std::lock_guard lock(st().m);
    ++st().counters.bcm_host_inits;
}

void bcm_host_deinit(void) {}

int vcsm_init(void)
{
    std::lock_guard lock(st().m);
    ++st().vcsm_users;
    return 0;
}

void vcsm_exit(void)
{
    std::lock_guard lock(st().m);
    if (st().vcsm_users > 0)
    {
        --st().vcsm_users;
    }
}

unsigned int vcsm_malloc_cache(unsigned int size, VCSM_CACHE_TYPE_T cache, const char* name)
{
    std::lock_guard lock(st().m);
    auto& s = st();
    if (s.vcsm_users == 0)
    {
        complain("vcsm_malloc_cache before vcsm_init");
        return 0;
    }
    if (should_fail(KORSA_VC_SIM_OP_VCSM_MALLOC) || size == 0 || size > max_vcsm_bytes ||
        s.vcsm_bytes + size > max_vcsm_bytes || cache > VCSM_CACHE_TYPE_HOST_AND_VC)
    {
        return 0;
    }
    vcsm_block b;
    b.user_handle = s.next_user_handle++;
    b.vc_handle = s.next_vc_handle++;
    b.mem = std::make_unique<uint8_t[]>(size);
    b.size = size;
    b.name = name != nullptr ? name : "";
    const unsigned user = b.user_handle;
    s.user_by_vc[b.vc_handle] = user;
    s.vcsm_by_user.emplace(user, std::move(b));
    s.vcsm_bytes += size;
    ++s.counters.vcsm_allocs;
    return user;
}

unsigned int vcsm_vc_hdl_from_hdl(unsigned int handle)
{
    std::lock_guard lock(st().m);
    if (should_fail(KORSA_VC_SIM_OP_VCSM_VC_HANDLE))
    {
        return 0;
    }
    auto it = st().vcsm_by_user.find(handle);
    return it == st().vcsm_by_user.end() ? 0 : it->second.vc_handle;
}

void* vcsm_lock(unsigned int handle)
{
    std::lock_guard lock(st().m);
    if (should_fail(KORSA_VC_SIM_OP_VCSM_LOCK))
    {
        return nullptr;
    }
    auto it = st().vcsm_by_user.find(handle);
    if (it == st().vcsm_by_user.end())
    {
        return nullptr;
    }
    ++it->second.locks;
    return it->second.mem.get();
}

int vcsm_unlock_hdl(unsigned int handle)
{
    std::lock_guard lock(st().m);
    auto it = st().vcsm_by_user.find(handle);
    if (it == st().vcsm_by_user.end() || it->second.locks == 0)
    {
        ++st().counters.invalid_vcsm_unlocks;
        complain("unlock of an unknown or unlocked VCSM handle");
        return -1;
    }
    --it->second.locks;
    return 0;
}

void vcsm_free(unsigned int handle)
{
    std::lock_guard lock(st().m);
    auto& s = st();
    auto it = s.vcsm_by_user.find(handle);
    if (it == s.vcsm_by_user.end())
    {
        ++s.counters.invalid_vcsm_frees;
        complain("free of an unknown or already freed VCSM handle");
        return;
    }
    if (it->second.locks > 0)
    {
        ++s.counters.vcsm_freed_while_locked;
    }
    s.vcsm_bytes -= it->second.size;
    s.user_by_vc.erase(it->second.vc_handle);
    s.vcsm_by_user.erase(it);
    ++s.counters.vcsm_frees;
}

MMAL_QUEUE_T* mmal_queue_create(void)
{
    std::lock_guard lock(st().m);
    if (should_fail(KORSA_VC_SIM_OP_QUEUE_CREATE))
    {
        return nullptr;
    }
    auto q = std::make_unique<MMAL_QUEUE_T>();
    MMAL_QUEUE_T* raw = q.get();
    st().queues.emplace(raw, std::move(q));
    return raw;
}

void mmal_queue_destroy(MMAL_QUEUE_T* queue)
{
    std::lock_guard lock(st().m);
    if (st().queues.erase(queue) == 0)
    {
        complain("destroy of an unknown queue");
    }
}

void mmal_queue_put(MMAL_QUEUE_T* queue, MMAL_BUFFER_HEADER_T* buffer)
{
    std::lock_guard lock(st().m);
    if (queue == nullptr || buffer == nullptr || st().live_headers.count(buffer) == 0)
    {
        complain("put of an unknown buffer header or into no queue");
        return;
    }
    if (&buffer->priv->pool->queue == queue)
    {
        buffer->priv->in_free_queue = true;
    }
    queue->items.push_back(buffer);
    st().cv.notify_all();
}

static MMAL_BUFFER_HEADER_T* take_front_locked(MMAL_QUEUE_T* queue)
{
    if (queue->items.empty())
    {
        return nullptr;
    }
    MMAL_BUFFER_HEADER_T* h = queue->items.front();
    queue->items.pop_front();
    if (&h->priv->pool->queue == queue)
    {
        h->priv->in_free_queue = false;
    }
    return h;
}

MMAL_BUFFER_HEADER_T* mmal_queue_get(MMAL_QUEUE_T* queue)
{
    std::lock_guard lock(st().m);
    return queue == nullptr ? nullptr : take_front_locked(queue);
}

MMAL_BUFFER_HEADER_T* mmal_queue_timedwait(MMAL_QUEUE_T* queue, VCOS_UNSIGNED timeout)
{
    std::unique_lock lock(st().m);
    if (queue == nullptr)
    {
        return nullptr;
    }
    st().cv.wait_for(lock, std::chrono::milliseconds(timeout),
                     [queue] { return !queue->items.empty(); });
    return take_front_locked(queue);
}

MMAL_BUFFER_HEADER_T* mmal_queue_wait(MMAL_QUEUE_T* queue)
{
    std::unique_lock lock(st().m);
    if (queue == nullptr)
    {
        return nullptr;
    }
    st().cv.wait(lock, [queue] { return !queue->items.empty(); });
    return take_front_locked(queue);
}

unsigned int mmal_queue_length(MMAL_QUEUE_T* queue)
{
    std::lock_guard lock(st().m);
    return queue == nullptr ? 0u : static_cast<unsigned>(queue->items.size());
}

void mmal_buffer_header_release(MMAL_BUFFER_HEADER_T* header)
{
    std::lock_guard lock(st().m);
    release_header_locked(header);
}

MMAL_POOL_T* mmal_pool_create_with_allocator(unsigned int headers, uint32_t payload_size,
                                             void* allocator_context,
                                             mmal_pool_allocator_alloc_t allocator_alloc,
                                             mmal_pool_allocator_free_t allocator_free)
{
    {
        std::lock_guard lock(st().m);
        if (should_fail(KORSA_VC_SIM_OP_POOL_CREATE) || headers > 4096 ||
            (payload_size > 0 && (allocator_alloc == nullptr || allocator_free == nullptr)))
        {
            return nullptr;
        }
    }
    auto pool = std::make_unique<sim_pool>();
    pool->headers.resize(headers);
    pool->privs.resize(headers);
    pool->types.resize(headers);
    pool->context = allocator_context;
    pool->free_fn = allocator_free;
    // The allocator runs without the layer's lock: it usually allocates shared memory here.
    for (unsigned i = 0; i < headers; ++i)
    {
        MMAL_BUFFER_HEADER_T& h = pool->headers[i];
        std::memset(&h, 0, sizeof h);
        h.priv = &pool->privs[i];
        h.type = &pool->types[i];
        h.priv->pool = pool.get();
        h.pts = MMAL_TIME_UNKNOWN;
        h.dts = MMAL_TIME_UNKNOWN;
        if (payload_size > 0)
        {
            h.data = static_cast<uint8_t*>(allocator_alloc(allocator_context, payload_size));
            if (h.data == nullptr)
            {
                for (unsigned j = 0; j < i; ++j)
                {
                    allocator_free(allocator_context, pool->headers[j].data);
                }
                return nullptr;
            }
            h.alloc_size = payload_size;
        }
        pool->header_ptrs.push_back(&h);
    }
    std::lock_guard lock(st().m);
    pool->pub.queue = &pool->queue;
    pool->pub.headers_num = headers;
    pool->pub.header = pool->header_ptrs.data();
    for (MMAL_BUFFER_HEADER_T* h : pool->header_ptrs)
    {
        h->priv->in_free_queue = true;
        pool->queue.items.push_back(h);
        st().live_headers.insert(h);
    }
    MMAL_POOL_T* raw = &pool->pub;
    st().pools.emplace(raw, std::move(pool));
    return raw;
}

void mmal_pool_destroy(MMAL_POOL_T* pool)
{
    std::unique_ptr<sim_pool> owned;
    {
        std::lock_guard lock(st().m);
        auto it = st().pools.find(pool);
        if (it == st().pools.end())
        {
            complain("destroy of an unknown pool");
            return;
        }
        owned = std::move(it->second);
        st().pools.erase(it);
        for (MMAL_BUFFER_HEADER_T* h : owned->header_ptrs)
        {
            if (!h->priv->in_free_queue)
            {
                ++st().counters.headers_out_at_pool_destroy;
            }
            st().live_headers.erase(h);
        }
        drop_port_references_locked(*owned);
    }
    for (MMAL_BUFFER_HEADER_T* h : owned->header_ptrs)
    {
        if (h->data != nullptr)
        {
            owned->free_fn(owned->context, h->data);
        }
    }
}

const char* mmal_status_to_string(MMAL_STATUS_T status)
{
    static const char* const names[] = {
        "SUCCESS", "ENOMEM",   "ENOSPC",    "EINVAL",  "ENOSYS",  "ENOENT",   "ENXIO",  "EIO",
        "ESPIPE",  "ECORRUPT", "ENOTREADY", "ECONFIG", "EISCONN", "ENOTCONN", "EAGAIN", "EFAULT"};
    const auto i = static_cast<unsigned>(status);
    return i < sizeof names / sizeof names[0] ? names[i] : "UNKNOWN";
}

void korsa_vc_sim_fail(korsa_vc_sim_op op, unsigned skip, MMAL_STATUS_T status)
{
    std::lock_guard lock(st().m);
    if (op >= 0 && op < KORSA_VC_SIM_OP_COUNT_)
    {
        st().failures[op] = failure{true, skip, status};
    }
}

void korsa_vc_sim_clear_failures(void)
{
    std::lock_guard lock(st().m);
    st().failures = {};
}

void korsa_vc_sim_reset_counters(void)
{
    std::lock_guard lock(st().m);
    st().counters = {};
}

uint8_t korsa_vc_sim_pattern_byte(uint32_t frame, uint32_t x, uint32_t y)
{
    // Diagonal stripes that move by eight columns per frame.
    return static_cast<uint8_t>(x / 2 + y + frame * 8);
}

int korsa_vc_sim_is_locked_vcsm_mapping(const void* data)
{
    std::lock_guard lock(st().m);
    for (const auto& [handle, block] : st().vcsm_by_user)
    {
        if (block.locks > 0 && block.mem.get() == data)
        {
            return 1;
        }
    }
    return 0;
}

uint32_t korsa_vc_sim_frame_number(const void* frame_data)
{
    const auto* p = static_cast<const uint8_t*>(frame_data);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // extern "C"
