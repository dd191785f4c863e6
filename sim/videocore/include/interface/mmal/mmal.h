/* Entry header of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_H
#define KORSA_SIM_MMAL_H

#include "mmal_buffer.h"
#include "mmal_common.h"
#include "mmal_component.h"
#include "mmal_events.h"
#include "mmal_format.h"
#include "mmal_parameters.h"
#include "mmal_pool.h"
#include "mmal_port.h"
#include "mmal_queue.h"
#include "mmal_types.h"

#endif
