/* Host initialisation of the simulated VideoCore layer. */
#ifndef KORSA_SIM_BCM_HOST_H
#define KORSA_SIM_BCM_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void bcm_host_init(void);
void bcm_host_deinit(void);

#ifdef __cplusplus
}
#endif

/* The SDK's host header goes on to the display and service interfaces, whose platform
 * configuration lives in interface/vmcs_host/linux. */
#include "vchost_platform_config.h"

#endif
