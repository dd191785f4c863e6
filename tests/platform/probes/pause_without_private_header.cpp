// Must not compile: the public headers do not declare mmal_port_pause; only the private port
// header does, in the SDK as in the simulation.
#include <interface/mmal/mmal.h>

MMAL_STATUS_T probe(MMAL_PORT_T* port)
{
    return mmal_port_pause(port, MMAL_TRUE);
}
