/* Port calls that the multimedia layer keeps out of its public headers. The SDK installs
 * this header too; it includes the event header by its bare name, so the include path
 * needs interface/mmal (besides the include root). */
#ifndef KORSA_SIM_MMAL_PORT_PRIVATE_H
#define KORSA_SIM_MMAL_PORT_PRIVATE_H

#include "interface/mmal/mmal.h"
#include "mmal_events.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Stops (MMAL_TRUE) or resumes (MMAL_FALSE) the processing of an enabled port's buffers. */
MMAL_STATUS_T mmal_port_pause(MMAL_PORT_T* port, MMAL_BOOL_T pause);

#ifdef __cplusplus
}
#endif

#endif
