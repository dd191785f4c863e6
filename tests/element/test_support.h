#pragma once

// Helpers for element tests: creating the element and reading what it posted.

#include "gst_src_impl.h"

#include <gst/gst.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// Rebuilds the element's device state with these hooks, keeping the element's own
// device-lost report. Only while no camera is open and nothing streams.
inline void use_hooks(GstElement* e, gst_korsa::device_state_hooks hooks)
{
    auto* src = GST_VELAKORSASRC(e);
    auto callback = src->device_state.device_lost_callback;
    src->device_state.~device_state();
    new (&src->device_state) gst_korsa::device_state(std::move(hooks));
    src->device_state.device_lost_callback = callback;
}

// The same with only an opener that answers as the test says.
inline void use_opener(GstElement* e, gst_korsa::device_state_hooks::opener opener)
{
    gst_korsa::device_state_hooks hooks;
    hooks.open_camera = std::move(opener);
    use_hooks(e, std::move(hooks));
}

// A new velakorsasrc element (floating reference sunk), or nullptr.
inline GstElement* make_src()
{
    GstElement* e = gst_element_factory_make("velakorsasrc", nullptr);
    if (e != nullptr)
    {
        gst_object_ref_sink(e);
    }
    return e;
}

struct posted_error
{
    GQuark domain;
    int code;
    std::string text;
    std::string debug;
    std::string detail_serial;
};

// Every error message waiting on the bus, oldest first.
inline std::vector<posted_error> pop_errors(GstBus* bus)
{
    std::vector<posted_error> out;
    while (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR))
    {
        GError* err = nullptr;
        gchar* dbg = nullptr;
        gst_message_parse_error(msg, &err, &dbg);
        posted_error e{err->domain, err->code, err->message, dbg != nullptr ? dbg : "", ""};
        const GstStructure* details = nullptr;
        gst_message_parse_error_details(msg, &details);
        if (details != nullptr && gst_structure_has_field(details, "serial"))
        {
            e.detail_serial = gst_structure_get_string(details, "serial");
        }
        out.push_back(e);
        g_error_free(err);
        g_free(dbg);
        gst_message_unref(msg);
    }
    return out;
}

} // namespace test_support
