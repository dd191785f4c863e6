/* Ports of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_PORT_H
#define KORSA_SIM_MMAL_PORT_H

#include "mmal_buffer.h"
#include "mmal_format.h"
#include "mmal_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum
{
    MMAL_PORT_TYPE_UNKNOWN = 0,
    MMAL_PORT_TYPE_CONTROL,
    MMAL_PORT_TYPE_INPUT,
    MMAL_PORT_TYPE_OUTPUT,
    MMAL_PORT_TYPE_CLOCK
} MMAL_PORT_TYPE_T;

typedef struct MMAL_PORT_PRIVATE_T MMAL_PORT_PRIVATE_T;
typedef struct MMAL_PORT_USERDATA_T MMAL_PORT_USERDATA_T;
struct MMAL_COMPONENT_T;
struct MMAL_PARAMETER_HEADER_T;

typedef struct MMAL_PORT_T
{
    MMAL_PORT_PRIVATE_T* priv;
    const char* name;
    MMAL_PORT_TYPE_T type;
    uint16_t index;
    uint16_t index_all;
    uint32_t is_enabled;
    MMAL_ES_FORMAT_T* format;
    uint32_t buffer_num_min;
    uint32_t buffer_size_min;
    uint32_t buffer_alignment_min;
    uint32_t buffer_num_recommended;
    uint32_t buffer_size_recommended;
    uint32_t buffer_num;
    uint32_t buffer_size;
    struct MMAL_COMPONENT_T* component;
    MMAL_PORT_USERDATA_T* userdata;
    uint32_t capabilities;
} MMAL_PORT_T;

typedef void (*MMAL_PORT_BH_CB_T)(MMAL_PORT_T* port, MMAL_BUFFER_HEADER_T* buffer);

MMAL_STATUS_T mmal_port_format_commit(MMAL_PORT_T* port);
MMAL_STATUS_T mmal_port_enable(MMAL_PORT_T* port, MMAL_PORT_BH_CB_T cb);
MMAL_STATUS_T mmal_port_disable(MMAL_PORT_T* port);
MMAL_STATUS_T mmal_port_send_buffer(MMAL_PORT_T* port, MMAL_BUFFER_HEADER_T* buffer);
MMAL_STATUS_T mmal_port_parameter_set(MMAL_PORT_T* port,
                                      const struct MMAL_PARAMETER_HEADER_T* param);
MMAL_STATUS_T mmal_port_parameter_get(MMAL_PORT_T* port, struct MMAL_PARAMETER_HEADER_T* param);

#ifdef __cplusplus
}
#endif

#endif
