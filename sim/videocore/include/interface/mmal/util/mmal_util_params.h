/* Parameter helpers of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_UTIL_PARAMS_H
#define KORSA_SIM_MMAL_UTIL_PARAMS_H

#include "interface/mmal/mmal.h"

#ifdef __cplusplus
extern "C" {
#endif

MMAL_STATUS_T mmal_port_parameter_set_boolean(MMAL_PORT_T* port, uint32_t id, MMAL_BOOL_T value);
MMAL_STATUS_T mmal_port_parameter_get_boolean(MMAL_PORT_T* port, uint32_t id, MMAL_BOOL_T* value);

#ifdef __cplusplus
}
#endif

#endif
