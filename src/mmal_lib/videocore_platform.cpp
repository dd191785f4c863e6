#include "videocore_platform.h"

#include "log.h"

#include <bcm_host.h>
#include <interface/vcsm/user-vcsm.h>

#include <mutex>

namespace mmal {

void ensure_videocore_platform()
{
    // Both stay initialised for the life of the process: the receiver can be set up again
    // at any time and the platform offers no benefit from tearing them down in between.
    static std::once_flag once;
    std::call_once(once, [] {
        bcm_host_init();
        if (vcsm_init() != 0)
        {
            KLOG_ERROR("Failed to initialise the VideoCore shared memory service");
        }
    });
}

} // namespace mmal
