#pragma once

#include "device_state_impl.h"
#include "vela_prop.h"

#include <glib-object.h>

#include <system_error>

namespace gst_korsa {

// Fills the element's VelaProp function table.
void gst_vela_prop_init(VelaPropInterface* iface);

// The same with the signature GObject's interface registration expects.
void gst_vela_prop_interface_init(gpointer g_iface, gpointer iface_data);

// The first descriptor with exactly this name; nullptr for none (or a NULL name). It points
// into `list`, which the caller holds for as long as it uses the descriptor: a close on
// another thread lets go of the device state's copy, not of this one.
const korsa_cam::property_desc* find_property(const device_state::property_list& list,
                                              const char* name);

// Whether a property is listed to users: never with flag 1, with flag 2 only in debug mode.
bool is_user_visible(const korsa_cam::property_desc& desc, bool debug_enabled);

// Writes one property from a GValue that holds exactly the property's kind: a gboolean, a
// gint, a gdouble; for a menu an exact entry text or an index in range; a button takes any
// value and is pressed. Anything else is the generic error 22 without touching the camera;
// otherwise the camera's own answer. Shared by every way the element sets camera properties.
std::error_code write_property_value(device_state& ds, const korsa_cam::property_desc& desc,
                                     const GValue* value);

} // namespace gst_korsa
