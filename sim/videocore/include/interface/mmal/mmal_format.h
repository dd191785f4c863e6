/* Elementary stream formats of the simulated VideoCore multimedia layer. */
#ifndef KORSA_SIM_MMAL_FORMAT_H
#define KORSA_SIM_MMAL_FORMAT_H

#include "mmal_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum
{
    MMAL_ES_TYPE_UNKNOWN = 0,
    MMAL_ES_TYPE_CONTROL,
    MMAL_ES_TYPE_AUDIO,
    MMAL_ES_TYPE_VIDEO,
    MMAL_ES_TYPE_SUBPICTURE
} MMAL_ES_TYPE_T;

typedef struct
{
    uint32_t width;
    uint32_t height;
    MMAL_RECT_T crop;
    MMAL_RATIONAL_T frame_rate;
    MMAL_RATIONAL_T par;
    MMAL_FOURCC_T color_space;
} MMAL_VIDEO_FORMAT_T;

typedef union
{
    MMAL_VIDEO_FORMAT_T video;
} MMAL_ES_SPECIFIC_FORMAT_T;

typedef struct MMAL_ES_FORMAT_T
{
    MMAL_ES_TYPE_T type;
    MMAL_FOURCC_T encoding;
    MMAL_FOURCC_T encoding_variant;
    MMAL_ES_SPECIFIC_FORMAT_T* es;
    uint32_t bitrate;
    uint32_t flags;
    uint32_t extradata_size;
    uint8_t* extradata;
} MMAL_ES_FORMAT_T;

#ifdef __cplusplus
}
#endif

#endif
