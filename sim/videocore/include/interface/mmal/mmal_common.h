/* Common definitions of the simulated VideoCore multimedia layer. Like the SDK's own, this
 * header pulls in the OS abstraction (interface/vcos), so every user of the multimedia
 * headers needs interface/vcos/pthreads on its include path. */
#ifndef KORSA_SIM_MMAL_COMMON_H
#define KORSA_SIM_MMAL_COMMON_H

#include "interface/vcos/vcos.h"

#include <stdint.h>
#include <string.h>

#define MMAL_FOURCC(a, b, c, d)                                                                    \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) | ((uint32_t)(uint8_t)(c) << 16) |     \
     ((uint32_t)(uint8_t)(d) << 24))

typedef int32_t MMAL_BOOL_T;
#define MMAL_FALSE 0
#define MMAL_TRUE 1

#define MMAL_TIME_UNKNOWN (INT64_C(1) << 63)

#endif
