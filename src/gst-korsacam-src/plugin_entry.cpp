// The plug-in module's only exported symbol: GStreamer finds the descriptor through it.
#include "gst_src_impl.h"

extern "C" __attribute__((visibility("default"))) const GstPluginDesc*
gst_plugin_velakorsasrc_get_desc(void)
{
    return gst_velakorsasrc_plugin_desc();
}
