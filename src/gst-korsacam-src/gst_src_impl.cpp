#include "gst_src_impl.h"

#include "gst_unpack_impl.h"
#include "gstlog.h"
#include "rawcam_error.h"
#include "vela_prop.h"
#include "vela_prop_impl.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <utility>

GST_DEBUG_CATEGORY(gst_velakorsasrc_debug);
#define GST_CAT_DEFAULT gst_velakorsasrc_debug

namespace {

enum
{
    PROP_0,
    PROP_SERIAL = 1,
    PROP_MAX_QUEUED_GST_BUFFERS = 2,
    PROP_DO_TIMESTAMP = 3,
    PROP_DROP_INCOMPLETE_BUFFER = 4,
    PROP_SENSOR_DEBUG_ADDR = 5,
    PROP_SENSOR_DEBUG_VALUE = 6,
    PROP_SHOW_OVERLAY = 7,
    PROP_TYPE = 8,
    PROP_CAMERA_PROPERTIES = 9,
};

GstPushSrcClass* parent_class = nullptr;

// Environment switches, read once when the class is initialised.
bool g_show_overlay_default = false;
bool g_debug_properties_enabled = false;

GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("ANY"));

GstVelaKorsaSrc* as_src(gpointer object)
{
    return GST_VELAKORSASRC(object);
}

// The element as the device-lost report sees it. The report runs on the watcher thread and
// may outlive a close of the device state (close does not wait for a report in flight, see
// device_state_impl.h), so it must not rely on the element being alive: it takes a strong
// reference through this weak one, or learns that the element is going away.
class element_weak_ref
{
public:
    explicit element_weak_ref(GstElement* element) { g_weak_ref_init(&ref_, element); }
    ~element_weak_ref() { g_weak_ref_clear(&ref_); }
    element_weak_ref(const element_weak_ref&) = delete;
    element_weak_ref& operator=(const element_weak_ref&) = delete;

    // A new strong reference, or nullptr once the element is being disposed.
    GstElement* get() { return static_cast<GstElement*>(g_weak_ref_get(&ref_)); }

private:
    GWeakRef ref_;
};

void notify_gstreamer_of_device_lost(GstVelaKorsaSrc* self, const std::string& serial)
{
    // Applications often stop the pipeline on the first error, on this thread from a bus
    // sync handler or on one of their own, and may start it again at once. What this report
    // sends after such a stop would land in the next run: a second error fails its state
    // change, and an end-of-stream kept by the base class ends it at once. So the rest of the
    // report goes out only while the run it is about lasts.
    const uint32_t stops = self->stops.load();

    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("Device lost (%s)", serial.c_str()), (nullptr));

    if (self->stops.load() != stops)
    {
        GST_DEBUG_OBJECT(self, "stopped on the device-lost error; report ends here");
        return;
    }
    GST_ELEMENT_ERROR_WITH_DETAILS(self, RESOURCE, NOT_FOUND, ("Device lost"), (nullptr),
                                   ("serial", G_TYPE_STRING, serial.c_str(), nullptr));

    // Checked and sent under the state lock, so no state change comes in between.
    GstElement* element = GST_ELEMENT(self);
    GST_STATE_LOCK(element);
    GST_OBJECT_LOCK(element);
    const bool streaming = GST_STATE(element) >= GST_STATE_PAUSED;
    GST_OBJECT_UNLOCK(element);
    if (streaming && self->stops.load() == stops)
    {
        gst_element_send_event(element, gst_event_new_eos());
    }
    else
    {
        GST_DEBUG_OBJECT(self, "not streaming; no end-of-stream for the lost device");
    }
    GST_STATE_UNLOCK(element);
}

void gst_velakorsasrc_set_property(GObject* object, guint property_id, const GValue* value,
                                   GParamSpec* pspec)
{
    GstVelaKorsaSrc* self = as_src(object);

    switch (property_id)
    {
    case PROP_SERIAL:
    {
        GstState state = GST_STATE_NULL;
        gst_element_get_state(GST_ELEMENT(self), &state, nullptr, 200);
        if (state != GST_STATE_NULL)
        {
            GST_WARNING_OBJECT(self, "Failed to change serial, because state != GST_STATE_NULL");
            break;
        }
        gst_korsa::element_lock lock(self);
        const char* text = g_value_get_string(value);
        const std::string serial = text != nullptr ? text : "";
        GST_DEBUG_OBJECT(self, "Setting serial to = '%s'", serial.c_str());
        if (serial.empty())
        {
            gst_korsa::close_camera(self);
            // Closing keeps the serial for the next run; clearing it is the application's
            // choice, and the next open lets the library pick the camera.
            self->device_state.serial.clear();
        }
        else if (serial == self->device_state.serial && self->device_state.is_open())
        {
            GST_DEBUG_OBJECT(self, "Keeping current device = '%s'", serial.c_str());
        }
        else
        {
            gst_korsa::open_camera(self, serial);
        }
        break;
    }
    case PROP_MAX_QUEUED_GST_BUFFERS:
    {
        GstState state = GST_STATE_NULL;
        gst_element_get_state(GST_ELEMENT(self), &state, nullptr, 100 * GST_MSECOND);
        if (state != GST_STATE_NULL)
        {
            GST_WARNING_OBJECT(self, "camera-buffers can only be set while in GST_STATE_NULL.");
            break;
        }
        self->device_state.max_queued_buffers = g_value_get_int(value);
        break;
    }
    case PROP_DO_TIMESTAMP:
        gst_base_src_set_do_timestamp(GST_BASE_SRC(self), g_value_get_boolean(value));
        break;
    case PROP_DROP_INCOMPLETE_BUFFER:
        self->device_state.drop_incomplete = g_value_get_boolean(value) != FALSE;
        break;
    case PROP_SENSOR_DEBUG_ADDR:
        self->sensor_debug_addr = g_value_get_int(value);
        break;
    case PROP_SENSOR_DEBUG_VALUE:
        if (self->device_state.is_open())
        {
            // The write is fire-and-forget: a GObject setter has no way to report failure.
            (void)self->device_state.sensor_debug_set(self->sensor_debug_addr,
                                                      g_value_get_int(value));
        }
        break;
    case PROP_SHOW_OVERLAY:
        self->device_state.show_overlay = g_value_get_boolean(value) != FALSE;
        break;
    case PROP_CAMERA_PROPERTIES:
    {
        gst_korsa::element_lock lock(self);
        const char* text = g_value_get_string(value);
        self->camera_props.text = text != nullptr ? text : "";
        // With a camera open the entries apply at once; otherwise at the next open, and
        // only the spelling can be checked now.
        auto problems =
            self->device_state.is_open()
                ? gst_korsa::apply_camera_properties(self->device_state, self->camera_props.text)
                : gst_korsa::check_camera_properties(self->camera_props.text);
        for (auto& p : problems)
        {
            self->camera_props.pending.push_back(std::move(p));
        }
        self->camera_props.notify_pending = self->device_state.is_open();
        break;
    }
    case PROP_TYPE:
    {
        const char* text = g_value_get_string(value);
        if (text == nullptr ||
            std::string(text) != gst_korsa::get_static_vela_device_connnection_type())
        {
            GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Invalid property 'type' parameter"),
                              (nullptr));
        }
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, property_id, pspec);
        break;
    }
}

void gst_velakorsasrc_get_property(GObject* object, guint property_id, GValue* value,
                                   GParamSpec* pspec)
{
    GstVelaKorsaSrc* self = as_src(object);

    switch (property_id)
    {
    case PROP_SERIAL:
    {
        std::lock_guard lock(self->mtx);
        g_value_set_string(value, self->device_state.serial.c_str());
        break;
    }
    case PROP_MAX_QUEUED_GST_BUFFERS:
        g_value_set_int(value, self->device_state.max_queued_buffers);
        break;
    case PROP_DO_TIMESTAMP:
        g_value_set_boolean(value, gst_base_src_get_do_timestamp(GST_BASE_SRC(self)));
        break;
    case PROP_DROP_INCOMPLETE_BUFFER:
        g_value_set_boolean(value, self->device_state.drop_incomplete ? TRUE : FALSE);
        break;
    case PROP_SENSOR_DEBUG_ADDR:
        g_value_set_int(value, self->sensor_debug_addr);
        break;
    case PROP_SENSOR_DEBUG_VALUE:
        g_value_set_int(value, self->device_state.sensor_debug_get(self->sensor_debug_addr));
        break;
    case PROP_SHOW_OVERLAY:
        g_value_set_boolean(value, self->device_state.show_overlay ? TRUE : FALSE);
        break;
    case PROP_TYPE:
        g_value_set_string(value, gst_korsa::get_static_vela_device_connnection_type());
        break;
    case PROP_CAMERA_PROPERTIES:
    {
        std::lock_guard lock(self->mtx);
        if (self->device_state.is_open())
        {
            g_value_set_string(value,
                               gst_korsa::describe_camera_properties(self->device_state).c_str());
        }
        else
        {
            g_value_set_string(value, self->camera_props.text.c_str());
        }
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, property_id, pspec);
        break;
    }
}

void gst_velakorsasrc_finalize(GObject* object)
{
    GstVelaKorsaSrc* self = as_src(object);
    {
        std::lock_guard lock(self->mtx);
        gst_korsa::close_camera(self);
    }
    self->camera_props.~camera_property_settings();
    self->device_state.~device_state();
    self->mtx.~mutex();
    self->stops.~atomic();

    G_OBJECT_CLASS(parent_class)->finalize(object);
}

void install_properties(GObjectClass* gobject_class)
{
    constexpr auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    constexpr auto rw_construct = static_cast<GParamFlags>(rw | G_PARAM_CONSTRUCT);

    g_object_class_install_property(
        gobject_class, PROP_SERIAL,
        g_param_spec_string("serial", "Camera serial", "Serial of the camera", nullptr, rw));
    g_object_class_install_property(
        gobject_class, PROP_TYPE,
        g_param_spec_string("type", "velaprop device connection type",
                            "VelaProp::get_vela_device_info based device connection type", nullptr,
                            rw));
    g_object_class_install_property(
        gobject_class, PROP_MAX_QUEUED_GST_BUFFERS,
        g_param_spec_int("max-queued-gst-buffers", "Number of buffers queued in gst",
                         "To prevent hardware buffer underruns, this number of hardware buffers "
                         "can be queued in gstreamer. If you see source buffer drops, increase "
                         "this or prevent too many pending buffers.",
                         0, 256, 2, rw));
    g_object_class_install_property(gobject_class, PROP_DO_TIMESTAMP,
                                    g_param_spec_boolean("do-timestamp", "Do timestamp",
                                                         "Apply current stream time to buffers",
                                                         TRUE, rw_construct));
    g_object_class_install_property(
        gobject_class, PROP_DROP_INCOMPLETE_BUFFER,
        g_param_spec_boolean("drop-incomplete-buffer", "Drop incomplete buffers",
                             "Drop all buffers that are incomplete.", TRUE, rw));
    if (g_debug_properties_enabled)
    {
        g_object_class_install_property(
            gobject_class, PROP_SENSOR_DEBUG_ADDR,
            g_param_spec_int("sensor-debug-addr", "Sensor Register Address",
                             "Sensor Register Address for read/write operation", 0, 65535, 0,
                             rw_construct));
        g_object_class_install_property(gobject_class, PROP_SENSOR_DEBUG_VALUE,
                                        g_param_spec_int("sensor-debug-value",
                                                         "Sensor Register Value",
                                                         "Sensor Register Value", 0, 255, 0, rw));
    }
    g_object_class_install_property(
        gobject_class, PROP_SHOW_OVERLAY,
        g_param_spec_boolean("show-overlay", "Show overlay", "Enable/Disable frameinfo overlay.",
                             g_show_overlay_default ? TRUE : FALSE, rw_construct));
    g_object_class_install_property(
        gobject_class, PROP_CAMERA_PROPERTIES,
        g_param_spec_string(
            "camera-properties", "Camera properties",
            "Camera properties as a structure, applied in the order written whenever the camera "
            "opens, and at once while it is open; e.g. "
            "camera-properties=\"props,ExposureTime=10000.0,Gain=6.0,TriggerMode=On,"
            "OffsetAutoCenter=false\". Menus take an entry or an index, buttons true. Reading "
            "gives the current value of every camera property.",
            nullptr, static_cast<GParamFlags>(rw | GST_PARAM_MUTABLE_PLAYING)));
}

void gst_velakorsasrc_class_init(gpointer klass, gpointer /*class_data*/)
{
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);

    parent_class = GST_PUSH_SRC_CLASS(g_type_class_peek_parent(klass));

    gobject_class->finalize = gst_velakorsasrc_finalize;
    gobject_class->set_property = gst_velakorsasrc_set_property;
    gobject_class->get_property = gst_velakorsasrc_get_property;

    g_show_overlay_default = gst_korsa::read_env_switch("VELA_SHOW_OVERLAY");
    g_debug_properties_enabled = gst_korsa::read_env_switch("VELA_ENABLE_DEBUG_PROPERTIES");

    install_properties(gobject_class);

    if (gst_velakorsasrc_debug == nullptr)
    {
        GST_DEBUG_CATEGORY_INIT(gst_velakorsasrc_debug, "velakorsasrc", 0,
                                "velakorsasrc debug category");
    }
    gstlog::setup_gst_logging(gst_velakorsasrc_debug);

    gst_element_class_set_static_metadata(element_class, "Korsa Cam Video Source", "Source/Video",
                                          "Korsa Cam based source",
                                          "Velakorsa camera team <cameras@velakorsa.example>");
    gst_element_class_add_static_pad_template(element_class, &src_template);

    gst_korsa::install_streaming_overrides(static_cast<GstVelaKorsaSrcClass*>(klass));
}

void gst_velakorsasrc_init(GTypeInstance* instance, gpointer /*g_class*/)
{
    GstVelaKorsaSrc* self = as_src(instance);
    new (&self->device_state) gst_korsa::device_state();
    new (&self->mtx) std::mutex();
    new (&self->stops) std::atomic<uint32_t>(0);
    new (&self->camera_props) gst_korsa::camera_property_settings();
    auto weak = std::make_shared<element_weak_ref>(GST_ELEMENT(self));
    self->device_state.device_lost_callback = [weak](const std::string& serial) {
        g_autoptr(GstElement) element = weak->get();
        if (element == nullptr)
        {
            return; // being destroyed: nobody left to tell
        }
        notify_gstreamer_of_device_lost(GST_VELAKORSASRC(element), serial);
    };
    // No rate until caps are negotiated: a latency query answers FALSE until then.
    self->fps_numerator = 0;
    self->fps_denominator = 1;
    self->sensor_debug_addr = 0;
    self->caps = nullptr;

    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

gboolean plugin_init(GstPlugin* plugin)
{
    return gst_element_register(plugin, "velakorsasrc", GST_RANK_NONE, GST_TYPE_VELAKORSASRC) &&
           gst_velakorsaunpack_register(plugin);
}

GstPluginDesc make_plugin_desc()
{
    GstPluginDesc d{};
    d.major_version = 1;
    d.minor_version = 14;
    d.name = "velakorsasrc";
    d.description = "velakorsa Video Source";
    d.plugin_init = plugin_init;
    d.version = "1.2.0";
    d.license = "LGPL";
    d.source = "velakorsa";
    d.package = "velakorsa";
    d.origin = "https://velakorsa.example";
    return d;
}

const GstPluginDesc plugin_desc = make_plugin_desc();

} // namespace

GType gst_velakorsasrc_get_type(void)
{
    static gsize type_id = 0;
    if (g_once_init_enter(&type_id))
    {
        GType type = g_type_register_static_simple(
            GST_TYPE_PUSH_SRC, g_intern_static_string("GstVelaKorsaSrc"),
            sizeof(GstVelaKorsaSrcClass), gst_velakorsasrc_class_init, sizeof(GstVelaKorsaSrc),
            gst_velakorsasrc_init, static_cast<GTypeFlags>(0));
        const GInterfaceInfo vela_prop_info = {gst_korsa::gst_vela_prop_interface_init, nullptr,
                                               nullptr};
        g_type_add_interface_static(type, VELA_TYPE_PROP, &vela_prop_info);
        g_once_init_leave(&type_id, type);
    }
    return static_cast<GType>(type_id);
}

const GstPluginDesc* gst_velakorsasrc_plugin_desc(void)
{
    return &plugin_desc;
}

gboolean gst_plugin_velakorsasrc_register(void)
{
    return gst_plugin_register_static(
        plugin_desc.major_version, plugin_desc.minor_version, plugin_desc.name,
        plugin_desc.description, plugin_desc.plugin_init, plugin_desc.version, plugin_desc.license,
        plugin_desc.source, plugin_desc.package, plugin_desc.origin);
}

namespace gst_korsa {

const char* get_static_vela_device_connnection_type()
{
    static const std::string type = "korsa";
    return type.c_str();
}

std::error_code open_camera(GstVelaKorsaSrc* self, const std::string& serial)
{
    GST_INFO_OBJECT(self, "Opening device for serial='%s'.", serial.c_str());
    if (self->device_state.is_open())
    {
        close_camera(self);
    }

    std::error_code ec;
    try
    {
        ec = self->device_state.open(serial);
    }
    catch (const std::system_error& e)
    {
        ec = e.code();
    }
    if (ec)
    {
        GST_ERROR_OBJECT(self, "Unable to open camera device. Underlying error value: %s",
                         ec.message().c_str());
        return ec;
    }

    for (auto& p : apply_camera_properties(self->device_state, self->camera_props.text))
    {
        self->camera_props.pending.push_back(std::move(p));
    }
    self->camera_props.notify_pending = true;

    if (self->device_state.get_available_stream_types().empty())
    {
        GST_ERROR_OBJECT(self, "Device did not provide ANY valid caps. Refusing playback.");
        return korsa_cam::make_error_code(korsa_cam::status::stream_caps_unavailable);
    }
    return build_cached_caps(self);
}

void close_camera(GstVelaKorsaSrc* self)
{
    if (self->device_state.is_open())
    {
        GST_DEBUG_OBJECT(self, "Closing device = '%s'",
                         self->device_state.get_device_name().c_str());
    }
    self->device_state.close();
    if (self->caps != nullptr)
    {
        gst_caps_unref(self->caps);
        self->caps = nullptr;
    }
}

bool ensure_open(GstVelaKorsaSrc* self)
{
    if (self->device_state.is_open())
    {
        return true;
    }
    const std::error_code ec = open_camera(self, self->device_state.serial);
    if (!ec)
    {
        return true;
    }

    using korsa_cam::status;
    if (ec == korsa_cam::make_error_code(status::i2c_bus_open_failed))
    {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                          ("Failed to open camera, because the i2c bus was unavailable. Is the Pi "
                           "configured to allow access to the camera?"),
                          ("Underlying error value: %s", ec.message().c_str()));
    }
    else if (ec == korsa_cam::make_error_code(status::camera_in_use))
    {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                          ("Failed to open camera, because it is already in use."), (nullptr));
    }
    else if (ec == korsa_cam::make_error_code(status::stream_caps_unavailable))
    {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Failed to fetch device caps."), (nullptr));
    }
    else
    {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Failed to open camera."),
                          ("Underlying error value: %s", ec.message().c_str()));
    }
    return false;
}

device_state* get_open_device_instance(GstVelaKorsaSrc* self)
{
    element_lock lock(self);
    return ensure_open(self) ? &self->device_state : nullptr;
}

void post_pending_warnings(GstVelaKorsaSrc* self)
{
    std::vector<camera_property_problem> problems;
    bool notify = false;
    {
        std::lock_guard lock(self->mtx);
        if (self->camera_props.pending.empty() && !self->camera_props.notify_pending)
        {
            return;
        }
        g_autoptr(GstBus) bus = gst_element_get_bus(GST_ELEMENT(self));
        if (bus == nullptr)
        {
            return; // nobody to tell yet; the next step with a bus tells
        }
        problems.swap(self->camera_props.pending);
        notify = std::exchange(self->camera_props.notify_pending, false);
    }
    if (notify)
    {
        g_object_notify(G_OBJECT(self), "camera-properties");
    }
    for (const auto& p : problems)
    {
        if (p.name.empty())
        {
            GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS,
                                ("camera-properties not applied: %s", p.reason.c_str()), (nullptr));
        }
        else
        {
            GST_ELEMENT_WARNING(
                self, RESOURCE, SETTINGS,
                ("Camera property '%s' not applied: %s", p.name.c_str(), p.reason.c_str()),
                (nullptr));
        }
    }
}

} // namespace gst_korsa
