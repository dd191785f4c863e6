/* Host initialisation of the simulated VideoCore layer. */
#ifndef KORSA_SIM_BCM_HOST_H
#define KORSA_SIM_BCM_HOST_H

#ifdef __cplusplus
extern "C" {
#endif

void bcm_host_init(void);
void bcm_host_deinit(void);

#ifdef __cplusplus
}
#endif

#endif
