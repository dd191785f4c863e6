/* All parameter records of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_PARAMETERS_H
#define KORSA_SIM_MMAL_PARAMETERS_H

#include "mmal_parameters_camera.h"
#include "mmal_parameters_common.h"

#endif
