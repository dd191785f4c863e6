/* Basic types of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_TYPES_H
#define KORSA_SIM_MMAL_TYPES_H

#include "mmal_common.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum
{
    MMAL_SUCCESS = 0,
    MMAL_ENOMEM,
    MMAL_ENOSPC,
    MMAL_EINVAL,
    MMAL_ENOSYS,
    MMAL_ENOENT,
    MMAL_ENXIO,
    MMAL_EIO,
    MMAL_ESPIPE,
    MMAL_ECORRUPT,
    MMAL_ENOTREADY,
    MMAL_ECONFIG,
    MMAL_EISCONN,
    MMAL_ENOTCONN,
    MMAL_EAGAIN,
    MMAL_EFAULT,
    MMAL_STATUS_MAX = 0x7FFFFFFF
} MMAL_STATUS_T;

typedef uint32_t MMAL_FOURCC_T;

typedef struct
{
    int32_t num;
    int32_t den;
} MMAL_RATIONAL_T;

typedef struct
{
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} MMAL_RECT_T;

#ifdef __cplusplus
}
#endif

#endif
