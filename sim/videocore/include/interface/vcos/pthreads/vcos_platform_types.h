/* Platform types of the simulated VideoCore OS abstraction (POSIX threads platform). */
#ifndef KORSA_SIM_VCOS_PLATFORM_TYPES_H
#define KORSA_SIM_VCOS_PLATFORM_TYPES_H

#include <stdint.h>

/* The unsigned type of the OS abstraction's counts and timeouts (milliseconds), for
 * example the timeout of mmal_queue_timedwait. */
typedef uint32_t VCOS_UNSIGNED;

#endif
