#pragma once

// The velakorsasrc element: a live push source for the camera boards.

#include "camera_properties.h"
#include "device_state_impl.h"

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <system_error>

G_BEGIN_DECLS

#define GST_TYPE_VELAKORSASRC (gst_velakorsasrc_get_type())
#define GST_VELAKORSASRC(obj)                                                                      \
    (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_VELAKORSASRC, GstVelaKorsaSrc))
#define GST_IS_VELAKORSASRC(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_VELAKORSASRC))

struct GstVelaKorsaSrc
{
    GstPushSrc parent;

    // Constructed in instance init and destroyed in finalize (the GObject instance memory
    // is plain storage, so both are placed there by hand).
    gst_korsa::device_state device_state;
    // Guards opening and closing the camera, the cached caps, the property interface's
    // lookup of the open camera and the negotiated frame rate. Not held across chaining up
    // a state change or across any call that waits for the streaming thread or the
    // device-lost watcher; property calls themselves run under the device state's own lock.
    std::mutex mtx;

    // Downward state changes so far (PAUSED to READY, READY to NULL): tells a device-lost
    // report still under way that the run it is about has ended.
    std::atomic<uint32_t> stops;

    // The negotiated frame rate; 0/1 until caps are set and again once the stream closed.
    int32_t fps_numerator;
    int32_t fps_denominator;
    int32_t sensor_debug_addr;

    GstCaps* caps; // caps of the open camera, or nullptr

    // "camera-properties": applied on every open; under mtx (placed in instance init).
    gst_korsa::camera_property_settings camera_props;
};

struct GstVelaKorsaSrcClass
{
    GstPushSrcClass parent_class;
};

GType gst_velakorsasrc_get_type(void);

// Registers the plug-in statically (for applications and tests that link the element in).
gboolean gst_plugin_velakorsasrc_register(void);

const GstPluginDesc* gst_velakorsasrc_plugin_desc(void);

G_END_DECLS

GST_DEBUG_CATEGORY_EXTERN(gst_velakorsasrc_debug);

namespace gst_korsa {

const char* get_static_vela_device_connnection_type();

// Under the element mutex: make sure a camera is open and return its device state.
device_state* get_open_device_instance(GstVelaKorsaSrc* self);

// The element steps below expect the element mutex to be held by the caller.
std::error_code open_camera(GstVelaKorsaSrc* self, const std::string& serial);
// Generates and caches the caps of the open camera (status 8 when it offers none).
std::error_code build_cached_caps(GstVelaKorsaSrc* self);
void close_camera(GstVelaKorsaSrc* self);
bool ensure_open(GstVelaKorsaSrc* self);

// Posts the warnings left in camera_props.pending and notifies "camera-properties" when the
// camera's state changed (takes the element mutex briefly; call it without holding it, as
// handlers may read properties). Both wait while the element has no bus yet, for example
// while a launch line is still being parsed.
void post_pending_warnings(GstVelaKorsaSrc* self);

// The element mutex for a step that may open the camera: released first on leaving, then the
// warnings the step left are posted, so nothing is posted with the mutex held.
class element_lock
{
public:
    explicit element_lock(GstVelaKorsaSrc* self) : self_(self), lock_(self->mtx) {}
    ~element_lock()
    {
        lock_.unlock();
        post_pending_warnings(self_);
    }
    element_lock(const element_lock&) = delete;
    element_lock& operator=(const element_lock&) = delete;

private:
    GstVelaKorsaSrc* self_;
    std::unique_lock<std::mutex> lock_;
};

// Installs the element, base source and push source virtual functions.
void install_streaming_overrides(GstVelaKorsaSrcClass* klass);

} // namespace gst_korsa
