#pragma once

// Helpers for element tests: creating the element and reading what it posted.

#include <gst/gst.h>

#include <string>
#include <vector>

namespace test_support {

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
