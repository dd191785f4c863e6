// Must not compile: gst_buffer_new_memdup came with GStreamer 1.20.
#include <gst/gst.h>

GstBuffer* probe()
{
    static const guint8 bytes[4] = {1, 2, 3, 4};
    return gst_buffer_new_memdup(bytes, sizeof bytes);
}
