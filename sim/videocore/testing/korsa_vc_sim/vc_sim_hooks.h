/* Test hooks of the simulated VideoCore layer. Only tests, benchmarks and tools include this:
 * production code is written against the platform headers alone, so it builds unchanged
 * against the real SDK. */
#ifndef KORSA_VC_SIM_HOOKS_H
#define KORSA_VC_SIM_HOOKS_H

#include <interface/mmal/mmal.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Timed: each enabled receiver output delivers at its committed frame rate on its own
 * thread (the default, like the hardware), while its component is enabled. Manual: frames come only
 * from korsa_vc_sim_tick / korsa_vc_sim_deliver_inline, which makes tests deterministic. */
typedef enum
{
    KORSA_VC_SIM_DELIVERY_TIMED = 0,
    KORSA_VC_SIM_DELIVERY_MANUAL = 1,
} korsa_vc_sim_delivery_mode;

void korsa_vc_sim_set_delivery_mode(korsa_vc_sim_delivery_mode mode);

/* The output port of the most recently created receiver that still exists, or NULL. */
MMAL_PORT_T* korsa_vc_sim_rawcam_output(void);

/* Asks the port's callback thread for one frame and waits until the callback has returned.
 * 1: a frame was delivered; 0: nothing to deliver (port disabled or paused, component
 * disabled, no buffer queued, simulated sensor not streaming); -1: not a receiver output port or
 * called from its own callback thread. */
int korsa_vc_sim_tick(MMAL_PORT_T* port);

/* Delivers one frame on the calling thread (same results as korsa_vc_sim_tick). With
 * fill == 0 the payload is left untouched, so only the buffer path itself is exercised. */
int korsa_vc_sim_deliver_inline(MMAL_PORT_T* port, int fill);

/* Disabling an enabled receiver output works as in the SDK: from the moment the call starts
 * the port refuses buffers and delivers no frames; every buffer still queued at the port is
 * handed back through the port's buffer callback (length 0, no flags) and callbacks in transit
 * are waited for, all before mmal_port_disable returns. Which thread runs the hand-back
 * callbacks is chosen here: the disabling thread itself (the default) or the port's callback
 * thread (the disabling thread then waits for it). A disable from inside the port's own
 * callback always hands back on that thread. */
typedef enum
{
    KORSA_VC_SIM_FLUSH_ON_DISABLING_THREAD = 0,
    KORSA_VC_SIM_FLUSH_ON_CALLBACK_THREAD = 1,
} korsa_vc_sim_flush_thread;

void korsa_vc_sim_set_flush_thread(korsa_vc_sim_flush_thread where);

/* Called once per port disable that has to wait for a callback running on another thread,
 * just before it starts waiting, on the disabling thread and without the layer's lock. Tests
 * use it to let a blocked callback go on only once the disable is under way. NULL clears. */
typedef void (*korsa_vc_sim_disable_observer)(MMAL_PORT_T* port, void* context);
void korsa_vc_sim_set_disable_observer(korsa_vc_sim_disable_observer observer, void* context);

typedef enum
{
    /* A frame with fewer bytes than a whole frame (length given, 0 = half a frame). */
    KORSA_VC_SIM_SHORT_FRAME = 0,
    /* A whole frame carrying MMAL_BUFFER_HEADER_FLAG_CORRUPTED. */
    KORSA_VC_SIM_CORRUPTED_FRAME = 1,
    /* A side-information buffer (MMAL_BUFFER_HEADER_FLAG_CODECSIDEINFO, length given,
     * 0 = 64 bytes); it does not advance the frame count. */
    KORSA_VC_SIM_SIDE_INFO = 2,
} korsa_vc_sim_special;

/* Queues a special buffer for the port: the next deliveries use them in order.
 * 0 on success, -1 for a port that is not an enabled receiver output. */
int korsa_vc_sim_inject(MMAL_PORT_T* port, korsa_vc_sim_special kind, uint32_t length);

typedef enum
{
    KORSA_VC_SIM_OP_COMPONENT_CREATE = 0,
    KORSA_VC_SIM_OP_COMPONENT_ENABLE,
    KORSA_VC_SIM_OP_PARAMETER_GET,
    KORSA_VC_SIM_OP_PARAMETER_SET,
    KORSA_VC_SIM_OP_FORMAT_COMMIT,
    KORSA_VC_SIM_OP_PORT_ENABLE,
    KORSA_VC_SIM_OP_PORT_PAUSE,
    KORSA_VC_SIM_OP_SEND_BUFFER,
    KORSA_VC_SIM_OP_POOL_CREATE,
    KORSA_VC_SIM_OP_QUEUE_CREATE,
    KORSA_VC_SIM_OP_VCSM_MALLOC,
    KORSA_VC_SIM_OP_VCSM_VC_HANDLE,
    KORSA_VC_SIM_OP_VCSM_LOCK,
    KORSA_VC_SIM_OP_COUNT_
} korsa_vc_sim_op;

/* Makes one call of op fail after `skip` further successful calls. MMAL calls return
 * `status`; VCSM calls return 0 or NULL. */
void korsa_vc_sim_fail(korsa_vc_sim_op op, unsigned skip, MMAL_STATUS_T status);
void korsa_vc_sim_clear_failures(void);

typedef struct
{
    /* Objects alive now. */
    uint64_t live_components;
    uint64_t live_pools;
    uint64_t live_queues;
    uint64_t live_headers;
    uint64_t free_headers; /* headers back in their pool's free queue */
    uint64_t live_vcsm_handles;
    uint64_t locked_vcsm_handles;
    /* Counters since start or korsa_vc_sim_reset_counters. */
    uint64_t vcsm_allocs;
    uint64_t vcsm_frees;
    uint64_t invalid_vcsm_frees; /* double or unknown frees */
    uint64_t invalid_vcsm_unlocks;
    uint64_t vcsm_freed_while_locked;
    uint64_t invalid_header_releases; /* unknown header, or one already in its pool / at a port */
    uint64_t invalid_sends;           /* unknown header, or one not owned by the client */
    uint64_t headers_out_at_pool_destroy; /* headers still with the client or at a port */
    uint64_t frames_delivered;
    uint64_t buffers_flushed; /* handed back through the callback by a port disable */
    uint64_t bcm_host_inits;
} korsa_vc_sim_stats;

void korsa_vc_sim_get_stats(korsa_vc_sim_stats* stats);
void korsa_vc_sim_reset_counters(void);

/* The test pattern: byte (x, y) of frame n, except that the first four bytes of a frame hold
 * n (little endian), so frames can be told apart. */
uint8_t korsa_vc_sim_pattern_byte(uint32_t frame, uint32_t x, uint32_t y);
uint32_t korsa_vc_sim_frame_number(const void* frame_data);

/* 1 when data is the start of a VCSM block that is allocated and locked (mapped into the
 * process) right now, else 0: how a test tells the receiver's own memory from a copy. */
int korsa_vc_sim_is_locked_vcsm_mapping(const void* data);

#ifdef __cplusplus
}
#endif

#endif
