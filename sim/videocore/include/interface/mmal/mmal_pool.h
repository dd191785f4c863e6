/* Buffer header pools of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_POOL_H
#define KORSA_SIM_MMAL_POOL_H

#include "mmal_buffer.h"
#include "mmal_queue.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MMAL_POOL_T
{
    MMAL_QUEUE_T* queue;
    uint32_t headers_num;
    MMAL_BUFFER_HEADER_T** header;
} MMAL_POOL_T;

typedef void* (*mmal_pool_allocator_alloc_t)(void* context, uint32_t size);
typedef void (*mmal_pool_allocator_free_t)(void* context, void* mem);

MMAL_POOL_T* mmal_pool_create_with_allocator(unsigned int headers, uint32_t payload_size,
                                             void* allocator_context,
                                             mmal_pool_allocator_alloc_t allocator_alloc,
                                             mmal_pool_allocator_free_t allocator_free);
void mmal_pool_destroy(MMAL_POOL_T* pool);

#ifdef __cplusplus
}
#endif

#endif
