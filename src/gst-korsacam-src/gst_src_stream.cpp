// The element over time: state changes, the push loop, flushing, latency, caps negotiation.

#include "gst_caps_generate.h"
#include "gst_src_impl.h"
#include "gst_struct_helper.h"

#include <gst/video/video.h>

#include <climits>
#include <string>

#define GST_CAT_DEFAULT gst_velakorsasrc_debug

namespace gst_korsa {
namespace {

GstVelaKorsaSrc* as_src(gpointer object)
{
    return GST_VELAKORSASRC(object);
}

GstElementClass* parent_element_class()
{
    return GST_ELEMENT_CLASS(g_type_class_peek_parent(g_type_class_peek(GST_TYPE_VELAKORSASRC)));
}

GstBaseSrcClass* parent_base_src_class()
{
    return GST_BASE_SRC_CLASS(g_type_class_peek_parent(g_type_class_peek(GST_TYPE_VELAKORSASRC)));
}

std::string caps_text(const GstCaps* caps)
{
    if (caps == nullptr)
    {
        return "(null)";
    }
    gchar* text = gst_caps_to_string(caps);
    std::string out = text != nullptr ? text : "";
    g_free(text);
    return out;
}

GstStateChangeReturn change_state(GstElement* element, GstStateChange transition)
{
    GstVelaKorsaSrc* self = as_src(element);

    if (transition == GST_STATE_CHANGE_NULL_TO_READY)
    {
        element_lock lock(self);
        GST_DEBUG_OBJECT(self, "State change: NULL -> READY");
        if (!ensure_open(self))
        {
            return GST_STATE_CHANGE_FAILURE;
        }
        // The run starts with the camera's state as it now is; tell watchers of
        // "camera-properties" (the camera may have opened long before, during parsing).
        self->camera_props.notify_pending = true;
    }

    gst_element_set_locked_state(element, TRUE);
    const GstStateChangeReturn ret = parent_element_class()->change_state(element, transition);
    gst_element_set_locked_state(element, FALSE);
    if (ret == GST_STATE_CHANGE_FAILURE)
    {
        return ret;
    }

    if (transition == GST_STATE_CHANGE_READY_TO_NULL)
    {
        std::lock_guard lock(self->mtx);
        close_camera(self);
        ++self->stops;
    }
    else if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
    {
        std::lock_guard lock(self->mtx);
        self->device_state.close_stream();
        // The next run negotiates afresh; until then there is no rate to report.
        self->fps_numerator = 0;
        self->fps_denominator = 1;
        ++self->stops;
    }
    return ret;
}

gboolean start(GstBaseSrc* base)
{
    GstVelaKorsaSrc* self = as_src(base);
    element_lock lock(self);
    return ensure_open(self) ? TRUE : FALSE;
}

gboolean stop(GstBaseSrc* base)
{
    as_src(base)->device_state.stop_stream();
    return TRUE;
}

gboolean unlock(GstBaseSrc* base)
{
    as_src(base)->device_state.set_flushing_state(true);
    return TRUE;
}

gboolean unlock_stop(GstBaseSrc* base)
{
    as_src(base)->device_state.set_flushing_state(false);
    return TRUE;
}

// Runs when downstream drops its last reference to a pushed buffer, on whatever thread that is.
void buffer_destroy_callback(gpointer data)
{
    destroy_gst_buffer(static_cast<gst_buffer_desc*>(data));
}

GstFlowReturn create(GstPushSrc* push_src, GstBuffer** out)
{
    GstVelaKorsaSrc* self = as_src(push_src);
    auto [record, flushing] = self->device_state.wait_for_next_img();
    if (flushing)
    {
        return GST_FLOW_FLUSHING;
    }
    if (record == nullptr)
    {
        return GST_FLOW_EOS;
    }

    const img::img_descriptor image = record->buffer.image;
    const gsize size = image.type.buffer_length;
    // From here on the buffer owns the record; its release hands the frame back.
    GstBuffer* buffer =
        gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, image.data, size, 0, size,
                                    record.release(), buffer_destroy_callback);
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_LIVE);

    gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
    gint strides[GST_VIDEO_MAX_PLANES] = {image.pitch};
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_UNKNOWN,
                                   static_cast<guint>(image.type.dim.cx),
                                   static_cast<guint>(image.type.dim.cy), 1, offsets, strides);
    *out = buffer;
    return GST_FLOW_OK;
}

gboolean query(GstBaseSrc* base, GstQuery* q)
{
    GstVelaKorsaSrc* self = as_src(base);
    if (GST_QUERY_TYPE(q) != GST_QUERY_LATENCY)
    {
        return parent_base_src_class()->query(base, q);
    }
    if (!self->device_state.is_open())
    {
        GST_WARNING_OBJECT(self, "Can't give latency since device isn't open !");
        return FALSE;
    }
    gint num = 0;
    gint den = 0;
    {
        std::lock_guard lock(self->mtx);
        num = self->fps_numerator;
        den = self->fps_denominator;
    }
    if (num > 0 && den > 0)
    {
        const GstClockTime latency = gst_util_uint64_scale_int(GST_SECOND, den, num);
        GST_DEBUG_OBJECT(self, "report latency min %" GST_TIME_FORMAT " max %" GST_TIME_FORMAT,
                         GST_TIME_ARGS(latency), GST_TIME_ARGS(GST_CLOCK_TIME_NONE));
        gst_query_set_latency(q, TRUE, latency, GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    GST_WARNING_OBJECT(self, "Can't give latency since framerate isn't fixated !");
    return FALSE;
}

void get_times(GstBaseSrc* base, GstBuffer* buffer, GstClockTime* start_time,
               GstClockTime* end_time)
{
    if (gst_base_src_is_live(base))
    {
        const GstClockTime ts = GST_BUFFER_PTS(buffer);
        if (GST_CLOCK_TIME_IS_VALID(ts))
        {
            *start_time = ts;
            const GstClockTime duration = GST_BUFFER_DURATION(buffer);
            if (GST_CLOCK_TIME_IS_VALID(duration))
            {
                *end_time = ts + duration;
            }
        }
    }
    else
    {
        *start_time = GST_CLOCK_TIME_NONE;
        *end_time = GST_CLOCK_TIME_NONE;
    }
}

GstCaps* get_caps(GstBaseSrc* base, GstCaps* /*filter*/)
{
    GstVelaKorsaSrc* self = as_src(base);
    element_lock lock(self);
    if (!ensure_open(self) || self->caps == nullptr)
    {
        return nullptr;
    }
    return gst_caps_copy(self->caps);
}

void fixate_largest(GstStructure* s)
{
    if (gst_structure_has_field(s, "width"))
    {
        gst_structure_fixate_field_nearest_int(s, "width", G_MAXINT);
    }
    if (gst_structure_has_field(s, "height"))
    {
        gst_structure_fixate_field_nearest_int(s, "height", G_MAXINT);
    }
    if (gst_structure_has_field(s, "framerate"))
    {
        gst_structure_fixate_field_nearest_fraction(s, "framerate", G_MAXINT, 1);
    }
}

GstCaps* fixate(GstBaseSrc* base, GstCaps* caps)
{
    GST_DEBUG_OBJECT(base, "caps prefixate: %s", caps_text(caps).c_str());
    caps = gst_caps_make_writable(caps);
    if (gst_caps_get_size(caps) > 0)
    {
        fixate_largest(gst_caps_get_structure(caps, 0));
    }
    GstCaps* result = parent_base_src_class()->fixate(base, caps);
    GST_DEBUG_OBJECT(base, "Caps fixated: %s", caps_text(result).c_str());
    return result;
}

// Among several matching structures, the smallest one that still covers the size the peer
// asks for; the first one when the peer names no fixed size or none covers it.
GstCaps* pick_covering_structure(GstCaps* intersection, GstCaps* peer)
{
    const GstStructure* peer_s = gst_caps_get_structure(peer, 0);
    gint peer_w = 0;
    gint peer_h = 0;
    const bool peer_sized = gst_structure_get_int(peer_s, "width", &peer_w) &&
                            gst_structure_get_int(peer_s, "height", &peer_h);
    gint best = -1;
    gint best_w = 0;
    gint best_h = 0;
    if (peer_sized)
    {
        for (gint i = static_cast<gint>(gst_caps_get_size(intersection)) - 1; i >= 0; --i)
        {
            const GstStructure* s = gst_caps_get_structure(intersection, i);
            gint w = 0;
            gint h = 0;
            if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h))
            {
                continue;
            }
            if (w < peer_w || h < peer_h)
            {
                continue;
            }
            if (best < 0 || (w <= best_w && h <= best_h))
            {
                best = i;
                best_w = w;
                best_h = h;
            }
        }
    }
    return gst_caps_copy_nth(intersection, best < 0 ? 0 : static_cast<guint>(best));
}

gboolean negotiate(GstBaseSrc* base)
{
    GstPad* pad = GST_BASE_SRC_PAD(base);
    GstCaps* own = gst_pad_query_caps(pad, nullptr);
    if (own == nullptr || gst_caps_is_empty(own) || gst_caps_is_any(own))
    {
        GST_DEBUG_OBJECT(base, "no negotiation needed");
        if (own != nullptr)
        {
            gst_caps_unref(own);
        }
        return TRUE;
    }

    GstCaps* peer = gst_pad_peer_query_caps(pad, own);
    GST_DEBUG_OBJECT(base, "caps of peer: %s", caps_text(peer).c_str());

    GstCaps* candidate = nullptr;
    if (peer == nullptr || gst_caps_is_empty(peer) || gst_caps_is_any(peer))
    {
        GST_DEBUG_OBJECT(base, "Peer caps null or any use our own.");
        candidate = own;
    }
    else
    {
        GstCaps* intersection = nullptr;
        for (guint i = 0; i < gst_caps_get_size(peer); ++i)
        {
            GstCaps* one = gst_caps_copy_nth(peer, i);
            if (gst_caps_is_any(one))
            {
                gst_caps_unref(one);
                continue;
            }
            intersection = gst_caps_intersect_full(own, one, GST_CAPS_INTERSECT_FIRST);
            gst_caps_unref(one);
            if (!gst_caps_is_empty(intersection))
            {
                break;
            }
            gst_caps_unref(intersection);
            intersection = nullptr;
        }
        if (intersection != nullptr)
        {
            GST_DEBUG_OBJECT(base, "intersect: %s", caps_text(intersection).c_str());
            if (gst_caps_get_size(intersection) == 1)
            {
                candidate = gst_caps_copy(intersection);
                fixate_largest(gst_caps_get_structure(candidate, 0));
            }
            else
            {
                candidate = pick_covering_structure(intersection, peer);
            }
            gst_caps_unref(intersection);
        }
        gst_caps_unref(own);
    }
    if (peer != nullptr)
    {
        gst_caps_unref(peer);
    }
    if (candidate == nullptr)
    {
        return FALSE;
    }

    candidate = gst_caps_truncate(candidate);
    if (gst_caps_is_empty(candidate))
    {
        gst_caps_unref(candidate);
        return FALSE;
    }
    candidate = fixate(base, candidate);
    gboolean result = FALSE;
    if (gst_caps_is_any(candidate))
    {
        result = TRUE;
    }
    else if (gst_caps_is_fixed(candidate))
    {
        result = gst_base_src_set_caps(base, candidate);
    }
    gst_caps_unref(candidate);
    return result;
}

gboolean set_caps(GstBaseSrc* base, GstCaps* caps)
{
    GstVelaKorsaSrc* self = as_src(base);
    GST_TRACE_OBJECT(self, "Requested caps = %s", caps_text(caps).c_str());

    self->device_state.close_stream();

    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const auto size = gst_helper::get_gst_struct_image_dim(s);
    if (!size || size->cx <= 0 || size->cy <= 0)
    {
        GST_ERROR_OBJECT(self, "Invalid format dimensions specified");
        return FALSE;
    }
    const img::fourcc fcc = gst_helper::get_gst_struct_fcc(s);
    if (fcc == img::fourcc::FCC_NULL)
    {
        GST_ERROR_OBJECT(self, "Unkown format specified");
        return FALSE;
    }
    const img::img_type type = img::make_img_type(fcc, *size);
    const double requested = gst_helper::get_gst_struct_framerate(s).value_or(30.0);

    double stored = requested;
    const std::vector<double> rates = self->device_state.get_available_fps(type);
    if (!rates.empty())
    {
        const double lowest = rates.front();
        const double highest = rates.back();
        if (!(stored >= lowest))
        {
            stored = lowest;
            GST_WARNING_OBJECT(self, "Clipped framerate to actual range of [%f;%f], value=%f",
                               lowest, highest, stored);
        }
        else if (stored > highest)
        {
            stored = highest;
            GST_WARNING_OBJECT(self, "Clipped framerate to actual range of [%f;%f], value=%f",
                               lowest, highest, stored);
        }
    }
    gint num = 0;
    gint den = 1;
    gst_util_double_to_fraction(stored, &num, &den);
    {
        std::lock_guard lock(self->mtx);
        self->fps_numerator = num;
        self->fps_denominator = den;
    }

    auto setup = self->device_state.setup_stream(type, requested);
    if (!setup)
    {
        GST_ELEMENT_ERROR(self, CORE, STATE_CHANGE, ("Unable to start stream with caps"),
                          ("Error-message: %s", setup.error().message().c_str()));
        return FALSE;
    }
    if (const std::error_code ec = self->device_state.start_stream())
    {
        GST_TRACE_OBJECT(self, "Failed to start stream with caps: %s", caps_text(caps).c_str());
        return FALSE;
    }
    GST_TRACE_OBJECT(self, "Succeeded to start stream with caps: %s", caps_text(caps).c_str());
    return TRUE;
}

} // namespace

std::error_code build_cached_caps(GstVelaKorsaSrc* self)
{
    auto& ds = self->device_state;
    GstCaps* caps = gst_helper::convert_videoformatsdescription_to_caps(
        ds.get_available_stream_types(),
        [&ds](const img::img_type& type) { return ds.get_available_fps(type); });
    if (gst_caps_is_empty(caps))
    {
        GST_ERROR_OBJECT(self, "Device did not provide ANY valid caps. Refusing playback.");
        gst_caps_unref(caps);
        gst_element_set_state(GST_ELEMENT(self), GST_STATE_NULL);
        return korsa_cam::make_error_code(korsa_cam::status::stream_caps_unavailable);
    }
    GST_DEBUG_OBJECT(self, "Device provides the following caps: %s", caps_text(caps).c_str());
    if (self->caps != nullptr)
    {
        gst_caps_unref(self->caps);
    }
    self->caps = caps;
    return {};
}

void install_streaming_overrides(GstVelaKorsaSrcClass* klass)
{
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push_class = GST_PUSH_SRC_CLASS(klass);

    element_class->change_state = GST_DEBUG_FUNCPTR(change_state);
    base_class->get_caps = GST_DEBUG_FUNCPTR(get_caps);
    base_class->set_caps = GST_DEBUG_FUNCPTR(set_caps);
    base_class->fixate = GST_DEBUG_FUNCPTR(fixate);
    base_class->start = GST_DEBUG_FUNCPTR(start);
    base_class->stop = GST_DEBUG_FUNCPTR(stop);
    base_class->unlock = GST_DEBUG_FUNCPTR(unlock);
    base_class->unlock_stop = GST_DEBUG_FUNCPTR(unlock_stop);
    base_class->negotiate = GST_DEBUG_FUNCPTR(negotiate);
    base_class->get_times = GST_DEBUG_FUNCPTR(get_times);
    base_class->query = GST_DEBUG_FUNCPTR(query);
    push_class->create = GST_DEBUG_FUNCPTR(create);
}

} // namespace gst_korsa
