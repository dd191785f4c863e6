#include "vela_prop_impl.h"

namespace gst_korsa
{

void gst_vela_prop_init(VelaPropInterface* iface)
{
    // The property functions are filled in once the camera property model is available;
    // until then the public wrappers answer with their failure values.
    (void)iface;
}

void gst_vela_prop_interface_init(gpointer g_iface, gpointer /*iface_data*/)
{
    gst_vela_prop_init(static_cast<VelaPropInterface*>(g_iface));
}

} // namespace gst_korsa
