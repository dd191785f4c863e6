// Everything the capture code takes from the platform, included the way it includes it; this
// compiles only with the include directories the VideoCore lookup sets.
#include <bcm_host.h>
#include <interface/mmal/core/mmal_port_private.h>
#include <interface/mmal/mmal.h>
#include <interface/mmal/util/mmal_util_params.h>
#include <interface/vcsm/user-vcsm.h>

MMAL_STATUS_T pause_port(MMAL_PORT_T* port)
{
    return mmal_port_pause(port, MMAL_TRUE);
}

MMAL_BUFFER_HEADER_T* wait_header(MMAL_QUEUE_T* queue)
{
    return mmal_queue_timedwait(queue, 10);
}
