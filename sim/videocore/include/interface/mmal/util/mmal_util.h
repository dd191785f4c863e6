/* General helpers of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_UTIL_H
#define KORSA_SIM_MMAL_UTIL_H

#include "interface/mmal/mmal.h"

#ifdef __cplusplus
extern "C" {
#endif

const char* mmal_status_to_string(MMAL_STATUS_T status);

#ifdef __cplusplus
}
#endif

#endif
