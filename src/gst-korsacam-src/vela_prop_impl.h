#pragma once

#include "vela_prop.h"

namespace gst_korsa {

// Fills the element's VelaProp function table.
void gst_vela_prop_init(VelaPropInterface* iface);

// The same with the signature GObject's interface registration expects.
void gst_vela_prop_interface_init(gpointer g_iface, gpointer iface_data);

} // namespace gst_korsa
