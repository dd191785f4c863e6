/* Buffer header queues of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_QUEUE_H
#define KORSA_SIM_MMAL_QUEUE_H

#include "mmal_buffer.h"
#include "mmal_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MMAL_QUEUE_T MMAL_QUEUE_T;

MMAL_QUEUE_T* mmal_queue_create(void);
void mmal_queue_put(MMAL_QUEUE_T* queue, MMAL_BUFFER_HEADER_T* buffer);
MMAL_BUFFER_HEADER_T* mmal_queue_get(MMAL_QUEUE_T* queue);
MMAL_BUFFER_HEADER_T* mmal_queue_wait(MMAL_QUEUE_T* queue);
/* Waits at most timeout milliseconds; NULL when nothing arrived. */
MMAL_BUFFER_HEADER_T* mmal_queue_timedwait(MMAL_QUEUE_T* queue, VCOS_UNSIGNED timeout);
unsigned int mmal_queue_length(MMAL_QUEUE_T* queue);
void mmal_queue_destroy(MMAL_QUEUE_T* queue);

#ifdef __cplusplus
}
#endif

#endif
