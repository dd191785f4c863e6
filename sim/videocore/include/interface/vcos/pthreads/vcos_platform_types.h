/* Platform types of the simulated VideoCore OS abstraction (nothing is needed beyond the
 * standard integer types; the folder exists so that the same include path works). */
#ifndef KORSA_SIM_VCOS_PLATFORM_TYPES_H
#define KORSA_SIM_VCOS_PLATFORM_TYPES_H

#include <stdint.h>

#endif
