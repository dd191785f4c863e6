#pragma once

// Shared state of the simulated VideoCore layer. One process-wide mutex guards everything;
// user callbacks (port callbacks, pool allocators) always run without it, so they may call
// back into the layer.

#include "korsa_vc_sim/vc_sim_hooks.h"

#include <interface/mmal/mmal.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct MMAL_QUEUE_T
{
    std::deque<MMAL_BUFFER_HEADER_T*> items;
};

namespace korsa_vc_sim {

struct sim_pool;
struct sim_component;
struct delivery;

} // namespace korsa_vc_sim

struct MMAL_BUFFER_HEADER_PRIVATE_T
{
    korsa_vc_sim::sim_pool* pool = nullptr;
    bool in_free_queue = false;
    bool at_port = false;
};

namespace korsa_vc_sim {

struct vcsm_block
{
    unsigned user_handle = 0;
    unsigned vc_handle = 0;
    std::unique_ptr<uint8_t[]> mem;
    uint32_t size = 0;
    int locks = 0;
    std::string name;
};

struct sim_pool
{
    MMAL_POOL_T pub{};
    MMAL_QUEUE_T queue;
    std::vector<MMAL_BUFFER_HEADER_T> headers;
    std::vector<MMAL_BUFFER_HEADER_T*> header_ptrs;
    std::vector<MMAL_BUFFER_HEADER_PRIVATE_T> privs;
    // Every header points at its own type-specific record, as MMAL's own pools do.
    std::vector<MMAL_BUFFER_HEADER_TYPE_SPECIFIC_T> types;
    void* context = nullptr;
    mmal_pool_allocator_free_t free_fn = nullptr;
};

struct special_buffer
{
    korsa_vc_sim_special kind;
    uint32_t length;
};

// Everything the delivery of one enabled output port needs. Shared with its callback thread,
// which may outlive the port when the port is disabled from inside its own callback.
struct delivery
{
    MMAL_PORT_T* port = nullptr;
    MMAL_PORT_BH_CB_T cb = nullptr;
    bool enabled = false;
    bool stop = false;
    bool paused = false;
    bool zero_copy = false;
    // Set by a disable that leaves the hand-back of the queued buffers to the callback
    // thread; cleared by that thread once it has handed every one back.
    bool flush_pending = false;
    std::deque<MMAL_BUFFER_HEADER_T*> queue;
    std::multiset<std::thread::id> callback_threads;
    std::thread::id thread_id;
    uint64_t ticks_requested = 0;
    uint64_t ticks_answered = 0;
    std::map<uint64_t, int> tick_results;
    std::deque<special_buffer> specials;
    uint32_t frame_count = 0;
    uint32_t stride = 0;
    uint32_t lines = 0;
    MMAL_RATIONAL_T frame_rate{0, 1};
    int64_t last_pts = 0;
    int (*sensor_streaming)() = nullptr;
};

} // namespace korsa_vc_sim

// Private part of a port: its format storage, committed geometry and delivery.
struct MMAL_PORT_PRIVATE_T
{
    korsa_vc_sim::sim_component* comp = nullptr;
    std::string name;
    MMAL_ES_FORMAT_T format{};
    MMAL_ES_SPECIFIC_FORMAT_T es{};
    bool zero_copy = false;
    bool paused = false;
    bool committed = false;
    uint32_t stride = 0;
    uint32_t lines = 0;
    MMAL_RATIONAL_T rate{0, 1};
    std::shared_ptr<korsa_vc_sim::delivery> dl;
    std::thread thread;
};

namespace korsa_vc_sim {

// The simulated "vc.ril.rawcam": a control port and one output port.
struct sim_component
{
    MMAL_COMPONENT_T pub{};
    std::string name;
    uint32_t serial = 0;
    MMAL_PORT_T control{};
    MMAL_PORT_T output{};
    MMAL_PORT_PRIVATE_T control_priv;
    MMAL_PORT_PRIVATE_T output_priv;
    MMAL_PORT_T* outputs[1] = {};
    MMAL_PORT_T* all_ports[2] = {};
    MMAL_PARAMETER_CAMERA_RX_CONFIG_T rx_config{};
    MMAL_PARAMETER_CAMERA_RX_TIMING_T rx_timing{};
};

struct failure
{
    bool armed = false;
    unsigned skip = 0;
    MMAL_STATUS_T status = MMAL_SUCCESS;
};

struct state
{
    std::mutex m;
    std::condition_variable cv;

    int vcsm_users = 0;
    uint64_t vcsm_bytes = 0;
    std::map<unsigned, vcsm_block> vcsm_by_user;
    std::map<unsigned, unsigned> user_by_vc;
    unsigned next_user_handle = 0x100;
    unsigned next_vc_handle = 0x40000000;

    std::map<MMAL_COMPONENT_T*, std::unique_ptr<sim_component>> components;
    uint32_t next_component_serial = 1;
    std::map<MMAL_POOL_T*, std::unique_ptr<sim_pool>> pools;
    std::map<MMAL_QUEUE_T*, std::unique_ptr<MMAL_QUEUE_T>> queues;
    std::set<MMAL_BUFFER_HEADER_T*> live_headers;

    std::array<failure, KORSA_VC_SIM_OP_COUNT_> failures{};
    korsa_vc_sim_delivery_mode mode = KORSA_VC_SIM_DELIVERY_TIMED;
    korsa_vc_sim_flush_thread flush_thread = KORSA_VC_SIM_FLUSH_ON_DISABLING_THREAD;
    korsa_vc_sim_disable_observer disable_observer = nullptr;
    void* disable_observer_context = nullptr;
    korsa_vc_sim_stats counters{};
    std::vector<std::thread> zombies;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    ~state();
};

state& st();

// All of these expect st().m to be held.
bool should_fail(korsa_vc_sim_op op, MMAL_STATUS_T* status = nullptr);
uint8_t* vcsm_memory_of_vc_handle(unsigned vc_handle, uint32_t need);
void release_header_locked(MMAL_BUFFER_HEADER_T* header);
void drop_port_references_locked(const sim_pool& pool);
void complain(const char* what);

} // namespace korsa_vc_sim
