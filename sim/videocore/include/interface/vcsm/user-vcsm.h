/* Simulated VideoCore shared memory allocator. */
#ifndef KORSA_SIM_USER_VCSM_H
#define KORSA_SIM_USER_VCSM_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum
{
    VCSM_CACHE_TYPE_NONE = 0,
    VCSM_CACHE_TYPE_HOST,
    VCSM_CACHE_TYPE_VC,
    VCSM_CACHE_TYPE_HOST_AND_VC,
    VCSM_CACHE_TYPE_PINNED = 0x80,
} VCSM_CACHE_TYPE_T;

int vcsm_init(void);
void vcsm_exit(void);
unsigned int vcsm_malloc_cache(unsigned int size, VCSM_CACHE_TYPE_T cache, const char* name);
unsigned int vcsm_vc_hdl_from_hdl(unsigned int handle);
void* vcsm_lock(unsigned int handle);
int vcsm_unlock_hdl(unsigned int handle);
void vcsm_free(unsigned int handle);

#ifdef __cplusplus
}
#endif

#endif
