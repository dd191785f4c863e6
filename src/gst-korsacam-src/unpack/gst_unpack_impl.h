#pragma once

// The velakorsaunpack element: turns the camera's MIPI-packed raw frames into 8-bit Bayer or
// 8/16-bit grey, the formats stock elements (bayer2rgb, videoconvert, encoders) read.
//
//   gst-launch-1.0 velakorsasrc serial=virt ! velakorsaunpack ! bayer2rgb ! videoconvert
//       ! autovideosink            (one line)

#include "unpack_caps.h"

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>

#include <optional>

G_BEGIN_DECLS

#define GST_TYPE_VELAKORSAUNPACK (gst_velakorsaunpack_get_type())
#define GST_VELAKORSAUNPACK(obj)                                                                   \
    (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_VELAKORSAUNPACK, GstVelaKorsaUnpack))

struct GstVelaKorsaUnpack
{
    GstBaseTransform parent;

    // Written by set_caps and read by transform. The base class calls both on the streaming
    // thread under its stream lock, so they need no lock of their own. Constructed in
    // instance init and destroyed in finalize (GObject memory is plain storage).
    std::optional<gst_korsa::unpack::unpack_plan> plan;
    // A bus warning went out for the current run of dropped frames; cleared by a good frame
    // or new caps, so a steady stream of bad buffers posts one warning, not one per frame.
    bool reported_drop;
};

struct GstVelaKorsaUnpackClass
{
    GstBaseTransformClass parent_class;
};

GType gst_velakorsaunpack_get_type(void);

// Registers the element factory "velakorsaunpack" in the plug-in.
gboolean gst_velakorsaunpack_register(GstPlugin* plugin);

G_END_DECLS
