/* Host platform configuration of the simulated VideoCore layer. Nothing is configured; the
 * header exists so that bcm_host.h, as in the SDK, needs interface/vmcs_host/linux on the
 * include path. */
#ifndef KORSA_SIM_VCHOST_PLATFORM_CONFIG_H
#define KORSA_SIM_VCHOST_PLATFORM_CONFIG_H

#endif
