#include "gst_unpack_impl.h"

#include "unpack_frame.h"

#include <gst/video/video.h>

#include <new>
#include <string>

GST_DEBUG_CATEGORY_STATIC(gst_velakorsaunpack_debug);
#define GST_CAT_DEFAULT gst_velakorsaunpack_debug

namespace {

GstBaseTransformClass* parent_class = nullptr;

GstVelaKorsaUnpack* as_unpack(gpointer object)
{
    return GST_VELAKORSAUNPACK(object);
}

std::string caps_text(const GstCaps* caps)
{
    if (caps == nullptr)
    {
        return "(null)";
    }
    g_autofree gchar* text = gst_caps_to_string(caps);
    return text != nullptr ? text : "";
}

GstCaps* transform_caps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                        GstCaps* filter)
{
    GstCaps* result = gst_korsa::unpack::transform_caps(direction, caps, filter);
    GST_DEBUG_OBJECT(trans, "%s caps %s become %s", direction == GST_PAD_SINK ? "sink" : "src",
                     caps_text(caps).c_str(), caps_text(result).c_str());
    return result;
}

GstCaps* fixate_caps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                     GstCaps* othercaps)
{
    GstCaps* result = direction == GST_PAD_SINK
                          ? gst_korsa::unpack::fixate_src_caps(caps, othercaps)
                          : gst_caps_fixate(othercaps);
    GST_DEBUG_OBJECT(trans, "fixated to %s", caps_text(result).c_str());
    return result;
}

gboolean accept_caps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps)
{
    const gboolean ok = parent_class->accept_caps(trans, direction, caps);
    if (!ok)
    {
        // Formats it does not convert end here; caps without a size get as far as set_caps,
        // which says so on the bus.
        GST_WARNING_OBJECT(trans, "refusing %s caps %s (not a format and size it converts)",
                           direction == GST_PAD_SINK ? "sink" : "src", caps_text(caps).c_str());
    }
    return ok;
}

gboolean set_caps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* outcaps)
{
    GstVelaKorsaUnpack* self = as_unpack(trans);
    self->plan.reset();
    self->reported_drop = false;
    auto plan = gst_korsa::unpack::make_plan(incaps, outcaps);
    if (!plan)
    {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("Cannot unpack these caps: %s", plan.error().message().c_str()),
                          ("in %s, out %s", caps_text(incaps).c_str(), caps_text(outcaps).c_str()));
        return FALSE;
    }
    self->plan = plan.value();
    GST_INFO_OBJECT(self, "unpacking %ux%u, %zu-byte lines into %zu-byte lines", plan.value().width,
                    plan.value().height, plan.value().in_line_bytes, plan.value().out_stride);
    return TRUE;
}

gboolean transform_size(GstBaseTransform* trans, GstPadDirection /*direction*/, GstCaps* /*caps*/,
                        gsize /*size*/, GstCaps* othercaps, gsize* othersize)
{
    const auto bytes = gst_korsa::unpack::caps_frame_bytes(othercaps);
    if (!bytes)
    {
        GST_WARNING_OBJECT(trans, "no frame size for caps %s", caps_text(othercaps).c_str());
        return FALSE;
    }
    *othersize = *bytes;
    return TRUE;
}

gboolean propose_allocation(GstBaseTransform* trans, GstQuery* decide_query, GstQuery* query)
{
    if (!parent_class->propose_allocation(trans, decide_query, query))
    {
        return FALSE;
    }
    // Upstream may pad its lines: the stride travels in the video meta.
    if (!gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
    {
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    }
    return TRUE;
}

GstFlowReturn transform(GstBaseTransform* trans, GstBuffer* inbuf, GstBuffer* outbuf)
{
    GstVelaKorsaUnpack* self = as_unpack(trans);
    if (!self->plan)
    {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("No format negotiated"), (nullptr));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const auto outcome = gst_korsa::unpack::unpack_buffer(*self->plan, inbuf, outbuf);
    if (!outcome.error)
    {
        self->reported_drop = false;
        return GST_FLOW_OK;
    }
    if (outcome.error == img_lib::unpack::errc::destination_too_small ||
        outcome.error == std::errc::io_error)
    {
        GST_ELEMENT_ERROR(self, STREAM, FAILED,
                          ("Cannot write the unpacked frame: %s", outcome.error.message().c_str()),
                          ("%s", outcome.detail.c_str()));
        return GST_FLOW_ERROR;
    }
    GST_WARNING_OBJECT(self, "dropping frame: %s (%s)", outcome.error.message().c_str(),
                       outcome.detail.c_str());
    if (!self->reported_drop)
    {
        self->reported_drop = true;
        GST_ELEMENT_WARNING(self, STREAM, FORMAT,
                            ("Dropped a frame: %s", outcome.error.message().c_str()),
                            ("%s", outcome.detail.c_str()));
    }
    return GST_BASE_TRANSFORM_FLOW_DROPPED;
}

void finalize(GObject* object)
{
    using plan_type = std::optional<gst_korsa::unpack::unpack_plan>;
    as_unpack(object)->plan.~plan_type();
    G_OBJECT_CLASS(parent_class)->finalize(object);
}

void class_init(gpointer klass, gpointer /*class_data*/)
{
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(klass);
    parent_class = GST_BASE_TRANSFORM_CLASS(g_type_class_peek_parent(klass));

    gobject_class->finalize = finalize;

    GST_DEBUG_CATEGORY_INIT(gst_velakorsaunpack_debug, "velakorsaunpack", 0,
                            "velakorsaunpack debug category");

    gst_element_class_set_static_metadata(
        element_class, "Korsa Cam Raw Unpacker", "Filter/Converter/Video",
        "Unpacks MIPI CSI-2 packed 10/12-bit raw frames into 8-bit Bayer or 8/16-bit grey",
        "Velakorsa camera team <cameras@velakorsa.example>");
    {
        g_autoptr(GstCaps) caps = gst_korsa::unpack::make_sink_template_caps();
        gst_element_class_add_pad_template(
            element_class, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    }
    {
        g_autoptr(GstCaps) caps = gst_korsa::unpack::make_src_template_caps();
        gst_element_class_add_pad_template(
            element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    }

    trans_class->transform_caps = GST_DEBUG_FUNCPTR(transform_caps);
    trans_class->fixate_caps = GST_DEBUG_FUNCPTR(fixate_caps);
    trans_class->accept_caps = GST_DEBUG_FUNCPTR(accept_caps);
    trans_class->set_caps = GST_DEBUG_FUNCPTR(set_caps);
    trans_class->transform_size = GST_DEBUG_FUNCPTR(transform_size);
    trans_class->propose_allocation = GST_DEBUG_FUNCPTR(propose_allocation);
    trans_class->transform = GST_DEBUG_FUNCPTR(transform);
    // Formats always differ on the two sides, so there is never a pass-through.
    trans_class->passthrough_on_same_caps = FALSE;
}

void instance_init(GTypeInstance* instance, gpointer /*g_class*/)
{
    GstVelaKorsaUnpack* self = as_unpack(instance);
    new (&self->plan) std::optional<gst_korsa::unpack::unpack_plan>();
    self->reported_drop = false;
}

} // namespace

GType gst_velakorsaunpack_get_type(void)
{
    static gsize type_id = 0;
    if (g_once_init_enter(&type_id))
    {
        const GType type = g_type_register_static_simple(
            GST_TYPE_BASE_TRANSFORM, g_intern_static_string("GstVelaKorsaUnpack"),
            sizeof(GstVelaKorsaUnpackClass), class_init, sizeof(GstVelaKorsaUnpack), instance_init,
            static_cast<GTypeFlags>(0));
        g_once_init_leave(&type_id, type);
    }
    return static_cast<GType>(type_id);
}

gboolean gst_velakorsaunpack_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, "velakorsaunpack", GST_RANK_NONE, GST_TYPE_VELAKORSAUNPACK);
}
