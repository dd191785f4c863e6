/* Entry header of the simulated VideoCore OS abstraction: only its basic types, which the
 * multimedia headers use in their declarations. */
#ifndef KORSA_SIM_VCOS_H
#define KORSA_SIM_VCOS_H

#include "interface/vcos/vcos_types.h"

#endif
