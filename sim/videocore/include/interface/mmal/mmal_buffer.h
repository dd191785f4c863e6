/* Buffer headers of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_BUFFER_H
#define KORSA_SIM_MMAL_BUFFER_H

#include "mmal_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MMAL_BUFFER_HEADER_FLAG_EOS (1u << 0)
#define MMAL_BUFFER_HEADER_FLAG_FRAME_START (1u << 1)
#define MMAL_BUFFER_HEADER_FLAG_FRAME_END (1u << 2)
#define MMAL_BUFFER_HEADER_FLAG_FRAME                                                              \
    (MMAL_BUFFER_HEADER_FLAG_FRAME_START | MMAL_BUFFER_HEADER_FLAG_FRAME_END)
#define MMAL_BUFFER_HEADER_FLAG_KEYFRAME (1u << 3)
#define MMAL_BUFFER_HEADER_FLAG_DISCONTINUITY (1u << 4)
#define MMAL_BUFFER_HEADER_FLAG_CONFIG (1u << 5)
#define MMAL_BUFFER_HEADER_FLAG_ENCRYPTED (1u << 6)
#define MMAL_BUFFER_HEADER_FLAG_CODECSIDEINFO (1u << 7)
#define MMAL_BUFFER_HEADER_FLAGS_SNAPSHOT (1u << 8)
#define MMAL_BUFFER_HEADER_FLAG_CORRUPTED (1u << 9)
#define MMAL_BUFFER_HEADER_FLAG_TRANSMISSION_FAILED (1u << 10)

/* Type-specific information of a buffer, reached through the header's type member. */
typedef struct
{
    uint32_t planes;
    uint32_t offset[4];
    uint32_t pitch[4];
    uint32_t flags;
} MMAL_BUFFER_HEADER_VIDEO_SPECIFIC_T;

typedef union
{
    MMAL_BUFFER_HEADER_VIDEO_SPECIFIC_T video;
} MMAL_BUFFER_HEADER_TYPE_SPECIFIC_T;

typedef struct MMAL_BUFFER_HEADER_PRIVATE_T MMAL_BUFFER_HEADER_PRIVATE_T;

typedef struct MMAL_BUFFER_HEADER_T
{
    struct MMAL_BUFFER_HEADER_T* next;
    MMAL_BUFFER_HEADER_PRIVATE_T* priv;
    uint32_t cmd;
    uint8_t* data;
    uint32_t alloc_size;
    uint32_t length;
    uint32_t offset;
    uint32_t flags;
    int64_t pts;
    int64_t dts;
    MMAL_BUFFER_HEADER_TYPE_SPECIFIC_T* type;
    void* user_data;
} MMAL_BUFFER_HEADER_T;

/* Drops one reference; the last one returns the header to the pool it came from. */
void mmal_buffer_header_release(MMAL_BUFFER_HEADER_T* header);

#ifdef __cplusplus
}
#endif

#endif
