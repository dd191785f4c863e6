/* Event codes of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_EVENTS_H
#define KORSA_SIM_MMAL_EVENTS_H

#include "mmal_common.h"

#define MMAL_EVENT_ERROR MMAL_FOURCC('E', 'R', 'R', 'O')
#define MMAL_EVENT_EOS MMAL_FOURCC('E', 'E', 'O', 'S')
#define MMAL_EVENT_FORMAT_CHANGED MMAL_FOURCC('E', 'F', 'C', 'H')
#define MMAL_EVENT_PARAMETER_CHANGED MMAL_FOURCC('E', 'P', 'C', 'H')

#endif
