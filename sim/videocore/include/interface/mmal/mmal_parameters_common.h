/* Parameter records shared by every port of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_PARAMETERS_COMMON_H
#define KORSA_SIM_MMAL_PARAMETERS_COMMON_H

#include "mmal_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MMAL_PARAMETER_GROUP_COMMON (0u << 16)
#define MMAL_PARAMETER_GROUP_CAMERA (1u << 16)

enum
{
    MMAL_PARAMETER_ZERO_COPY = MMAL_PARAMETER_GROUP_COMMON + 4,
};

typedef struct MMAL_PARAMETER_HEADER_T
{
    uint32_t id;
    uint32_t size;
} MMAL_PARAMETER_HEADER_T;

typedef struct
{
    MMAL_PARAMETER_HEADER_T hdr;
    MMAL_BOOL_T enable;
} MMAL_PARAMETER_BOOLEAN_T;

#ifdef __cplusplus
}
#endif

#endif
