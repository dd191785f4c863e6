/* Components of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_COMPONENT_H
#define KORSA_SIM_MMAL_COMPONENT_H

#include "mmal_port.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MMAL_COMPONENT_PRIVATE_T MMAL_COMPONENT_PRIVATE_T;
typedef struct MMAL_COMPONENT_USERDATA_T MMAL_COMPONENT_USERDATA_T;

typedef struct MMAL_COMPONENT_T
{
    MMAL_COMPONENT_PRIVATE_T* priv;
    MMAL_COMPONENT_USERDATA_T* userdata;
    const char* name;
    uint32_t is_enabled;
    MMAL_PORT_T* control;
    uint32_t input_num;
    MMAL_PORT_T** input;
    uint32_t output_num;
    MMAL_PORT_T** output;
    uint32_t clock_num;
    MMAL_PORT_T** clock;
    uint32_t port_num;
    MMAL_PORT_T** port;
    uint32_t id;
} MMAL_COMPONENT_T;

MMAL_STATUS_T mmal_component_create(const char* name, MMAL_COMPONENT_T** component);
MMAL_STATUS_T mmal_component_destroy(MMAL_COMPONENT_T* component);
MMAL_STATUS_T mmal_component_enable(MMAL_COMPONENT_T* component);
MMAL_STATUS_T mmal_component_disable(MMAL_COMPONENT_T* component);

#ifdef __cplusplus
}
#endif

#endif
