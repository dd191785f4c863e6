/* Basic types of the simulated VideoCore OS abstraction. The platform part comes from the
 * platform folder by its bare name, as in the SDK, which is why interface/vcos/pthreads
 * must be on the include path. */
#ifndef KORSA_SIM_VCOS_TYPES_H
#define KORSA_SIM_VCOS_TYPES_H

#include "vcos_platform_types.h"

typedef enum
{
    VCOS_SUCCESS,
    VCOS_EAGAIN,
    VCOS_ENOENT,
    VCOS_ENOSPC,
    VCOS_EINVAL,
    VCOS_EACCESS,
    VCOS_ENOMEM,
    VCOS_ENOSYS,
    VCOS_EEXIST,
    VCOS_ENXIO,
    VCOS_EINTR
} VCOS_STATUS_T;

#endif
