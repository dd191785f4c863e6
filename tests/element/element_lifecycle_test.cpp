// The element over several runs of one pipeline, and against applications that react to its
// errors or use the property interface while the pipeline starts and stops.

#include "fake_camera.h"
#include "gst_src_impl.h"
#include "test_support.h"
#include "vela_prop.h"
#include "virt_camera.h"
#include "wait_helpers.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using test_support::pop_errors;

namespace {

// velakorsasrc ! fakesink, counting the frames that reach the sink. `prepare` sets up the
// source before it is linked (linking asks for its caps, which opens the camera).
class counted_pipeline
{
public:
    explicit counted_pipeline(const std::function<void(GstElement*)>& prepare)
    {
        pipeline_ = gst_pipeline_new(nullptr);
        gst_object_ref_sink(pipeline_);
        bus_ = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
        src_ = test_support::make_src();
        prepare(src_);
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
        g_signal_connect(sink, "handoff", G_CALLBACK(&counted_pipeline::on_handoff), this);
        gst_bin_add_many(GST_BIN(pipeline_), src_, sink, nullptr);
        gst_element_link(src_, sink);
    }
    ~counted_pipeline()
    {
        if (pipeline_ != nullptr)
        {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
        }
        release();
    }
    counted_pipeline(const counted_pipeline&) = delete;
    counted_pipeline& operator=(const counted_pipeline&) = delete;

    GstElement* pipeline() const { return pipeline_; }
    GstElement* src() const { return src_; }
    GstBus* bus() const { return bus_; }

    GstStateChangeReturn set_state(GstState state)
    {
        return gst_element_set_state(pipeline_, state);
    }

    // Waits until `more` frames beyond those seen so far have reached the sink.
    bool wait_for_frames(int more)
    {
        std::unique_lock lock(m_);
        const int target = frames_ + more;
        return cv_.wait_for(lock, test_wait::patience, [&] { return frames_ >= target; });
    }

    std::string serial() const
    {
        gchar* s = nullptr;
        g_object_get(src_, "serial", &s, nullptr);
        std::string out = s != nullptr ? s : "(null)";
        g_free(s);
        return out;
    }

    // Drops every reference the test holds (the pipeline must be in NULL).
    void release()
    {
        if (bus_ != nullptr)
        {
            gst_object_unref(bus_);
            bus_ = nullptr;
        }
        if (src_ != nullptr)
        {
            gst_object_unref(src_);
            src_ = nullptr;
        }
        if (pipeline_ != nullptr)
        {
            gst_object_unref(pipeline_);
            pipeline_ = nullptr;
        }
    }

private:
    static void on_handoff(GstElement*, GstBuffer*, GstPad*, gpointer self)
    {
        auto* p = static_cast<counted_pipeline*>(self);
        std::lock_guard lock(p->m_);
        ++p->frames_;
        p->cv_.notify_all();
    }

    GstElement* pipeline_ = nullptr;
    GstElement* src_ = nullptr;
    GstBus* bus_ = nullptr;
    std::mutex m_;
    std::condition_variable cv_;
    int frames_ = 0;
};

void virt_serial(GstElement* src)
{
    g_object_set(src, "serial", "virt", nullptr);
}

bool latency_known(GstElement* src)
{
    GstQuery* q = gst_query_new_latency();
    const bool ok = gst_element_query(src, q) != FALSE;
    gst_query_unref(q);
    return ok;
}

} // namespace

TEST(ElementLifecycle, RunsTwiceWithTheSerialItWasGiven)
{
    counted_pipeline p(virt_serial);
    ASSERT_NE(p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(p.wait_for_frames(3));
    ASSERT_EQ(p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_FALSE(GST_VELAKORSASRC(p.src())->device_state.is_open());
    EXPECT_EQ(p.serial(), "virt");

    ASSERT_NE(p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(p.wait_for_frames(3));
    EXPECT_EQ(p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_TRUE(pop_errors(p.bus()).empty());

    // Clearing the serial is what forgets it.
    g_object_set(p.src(), "serial", "", nullptr);
    EXPECT_EQ(p.serial(), "");
}

TEST(ElementLifecycle, RunsAgainAfterReadyAndForgetsTheRateInBetween)
{
    counted_pipeline p(virt_serial);
    // Open but not negotiated: no rate to report.
    EXPECT_FALSE(latency_known(p.src()));
    ASSERT_NE(p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(p.wait_for_frames(3));
    EXPECT_TRUE(latency_known(p.src()));

    ASSERT_EQ(p.set_state(GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    EXPECT_TRUE(GST_VELAKORSASRC(p.src())->device_state.is_open());
    EXPECT_FALSE(latency_known(p.src()));

    ASSERT_NE(p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(p.wait_for_frames(3));
    EXPECT_EQ(p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_TRUE(pop_errors(p.bus()).empty());
}

TEST(ElementLifecycle, RunsAfterARunThatFailedToOpenTheCamera)
{
    // The camera is busy at first; it answers only to its serial.
    std::vector<std::string> asked;
    bool busy = true;
    counted_pipeline p([&](GstElement* src) {
        test_support::use_opener(
            src,
            [&](const std::string& serial) -> korsa_cam::result<korsa_cam::camera_create_info> {
                asked.push_back(serial);
                if (serial != "virt")
                {
                    return std::make_error_code(std::errc::no_such_device);
                }
                if (busy)
                {
                    return korsa_cam::make_error_code(korsa_cam::status::camera_in_use);
                }
                return korsa_cam::camera_create_info{gst_korsa::create_virt_cam(), "virt"};
            });
        g_object_set(src, "serial", "virt", nullptr);
    });
    EXPECT_EQ(p.serial(), "virt");
    EXPECT_EQ(p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const auto errors = pop_errors(p.bus());
    ASSERT_FALSE(errors.empty());
    for (const auto& e : errors)
    {
        EXPECT_EQ(e.text, "Failed to open camera, because it is already in use.");
    }

    busy = false;
    ASSERT_EQ(p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    ASSERT_NE(p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(p.wait_for_frames(3));
    EXPECT_EQ(p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    // Every attempt asked for the camera the application named.
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "virt"), static_cast<long>(asked.size()));
    EXPECT_TRUE(pop_errors(p.bus()).empty());
}

namespace {

// The virtual camera, unreachable while the test says so.
class losable_camera final : public test_support::forwarding_camera
{
public:
    losable_camera() : forwarding_camera(gst_korsa::create_virt_cam()) {}

    std::atomic<bool> lost{false};

    bool test_reachable() override { return !lost; }
};

// A pipeline on a losable camera whose loss is noticed at once, and the application's side:
// what its bus sync handler saw of the first error.
struct loss_fixture
{
    std::shared_ptr<losable_camera> cam = std::make_shared<losable_camera>();
    test_wait::latch watcher_stopping;
    counted_pipeline p{[this](GstElement* src) { prepare(src); }};

    std::mutex m;
    std::string first_error;
    std::string first_error_thread;
    int errors_seen = 0;

    void prepare(GstElement* src)
    {
        gst_korsa::device_state_hooks hooks;
        auto camera = cam;
        hooks.open_camera = [camera](const std::string&) {
            return korsa_cam::camera_create_info{camera, "virt"};
        };
        hooks.poll_interval = std::chrono::milliseconds(1);
        hooks.watcher_stopping = [this] { watcher_stopping.set(); };
        test_support::use_hooks(src, std::move(hooks));
        g_object_set(src, "serial", "virt", nullptr);
    }

    // Records an error seen by the sync handler; true for the first one.
    bool note_error(GstMessage* msg)
    {
        GError* err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        std::lock_guard lock(m);
        const bool first = errors_seen++ == 0;
        if (first)
        {
            first_error = err->message;
            first_error_thread = name;
        }
        g_error_free(err);
        return first;
    }

    int errors()
    {
        std::lock_guard lock(m);
        return errors_seen;
    }

    // Releases the pipeline and waits until the element is gone: a loss report still in
    // flight holds the element until it ends.
    void release_and_wait_for_the_element()
    {
        test_wait::latch gone;
        g_object_weak_ref(
            G_OBJECT(p.src()),
            [](gpointer data, GObject*) { static_cast<test_wait::latch*>(data)->set(); }, &gone);
        gst_bus_set_sync_handler(p.bus(), nullptr, nullptr, nullptr);
        p.release();
        ASSERT_TRUE(gone.wait());
    }
};

} // namespace

// An application that stops the pipeline from its bus sync handler on the first error, on
// the thread that posted it: here the device-lost watcher itself.
TEST(ElementThreads, LossHandlerSettingNullOnTheWatcherThread)
{
    loss_fixture f;
    struct handler_state
    {
        loss_fixture* f;
        test_wait::latch stopped;
        GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
    } h{&f, {}, GST_STATE_CHANGE_FAILURE};
    gst_bus_set_sync_handler(
        f.p.bus(),
        [](GstBus*, GstMessage* msg, gpointer data) {
            auto* h = static_cast<handler_state*>(data);
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR && h->f->note_error(msg))
            {
                h->result = gst_element_set_state(h->f->p.pipeline(), GST_STATE_NULL);
                h->stopped.set();
            }
            return GST_BUS_PASS;
        },
        &h, nullptr);

    ASSERT_NE(f.p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(f.p.wait_for_frames(2));
    f.cam->lost = true;
    if (!h.stopped.wait())
    {
        test_wait::deadlocked("setting NULL from the loss report");
    }
    EXPECT_EQ(h.result, GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(f.first_error, "Device lost (virt)");
    EXPECT_EQ(f.first_error_thread, "korsa-devlost");

    // The application runs the pipeline again once the camera is back.
    f.cam->lost = false;
    ASSERT_NE(f.p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(f.p.wait_for_frames(2));
    EXPECT_EQ(f.p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    f.release_and_wait_for_the_element();
    // Stopped on the first error: the rest of the report stayed out of the next run.
    EXPECT_EQ(f.errors(), 1);
}

// The same handing the stop to an application thread, which then holds the element's state
// lock while it closes the camera; the report is held inside the handler until that close
// is under way, so it must then wait for the state lock to send end-of-stream.
TEST(ElementThreads, LossHandlerSettingNullOnAnApplicationThread)
{
    loss_fixture f;
    struct handler_state
    {
        loss_fixture* f;
        test_wait::latch go;
        test_wait::latch released;
    } h{&f, {}, {}};
    gst_bus_set_sync_handler(
        f.p.bus(),
        [](GstBus*, GstMessage* msg, gpointer data) {
            auto* h = static_cast<handler_state*>(data);
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR && h->f->note_error(msg))
            {
                h->go.set();
                if (h->f->watcher_stopping.wait())
                {
                    h->released.set();
                }
            }
            return GST_BUS_PASS;
        },
        &h, nullptr);

    ASSERT_NE(f.p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(f.p.wait_for_frames(2));
    GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
    std::thread application([&] {
        if (h.go.wait())
        {
            result = f.p.set_state(GST_STATE_NULL);
        }
    });
    f.cam->lost = true;
    test_wait::must_return("setting NULL while the loss is reported", [&] { application.join(); });
    // The report was held until the close had begun to stop the watcher.
    EXPECT_TRUE(h.released.wait());
    EXPECT_EQ(result, GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(f.first_error, "Device lost (virt)");

    f.cam->lost = false;
    ASSERT_NE(f.p.set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(f.p.wait_for_frames(2));
    EXPECT_EQ(f.p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    f.release_and_wait_for_the_element();
    // Stopped on the first error: the rest of the report stayed out of the next run.
    EXPECT_EQ(f.errors(), 1);
}

// Property interface calls on four threads while another one starts and stops the element:
// every call either reaches an open camera or fails cleanly.
TEST(ElementThreads, PropertyCallsWhileAnotherThreadCyclesNullAndReady)
{
    GstElement* e = test_support::make_src();
    g_object_set(e, "serial", "virt", nullptr);
    VelaProp* prop = VELA_PROP(e);

    std::atomic<bool> done{false};
    std::atomic<long> rounds_done{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
    {
        callers.emplace_back([&, i] {
            while (!done)
            {
                GSList* names = vela_prop_get_vela_property_names(prop);
                for (GSList* l = names; l != nullptr; l = l->next)
                {
                    wrong += static_cast<const char*>(l->data)[0] == '\0' ? 1 : 0;
                }
                g_slist_free_full(names, g_free);

                GValue v = G_VALUE_INIT;
                if (vela_prop_get_vela_property(prop, "Gain", &v, nullptr, nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr))
                {
                    wrong += G_VALUE_HOLDS_DOUBLE(&v) ? 0 : 1;
                }
                if (G_IS_VALUE(&v))
                {
                    g_value_unset(&v);
                }
                GValue g = G_VALUE_INIT;
                g_value_init(&g, G_TYPE_DOUBLE);
                g_value_set_double(&g, i);
                (void)vela_prop_set_vela_property(prop, "Gain", &g);
                g_value_unset(&g);

                gchar* name = nullptr;
                if (vela_prop_get_vela_device_info(prop, "virt", &name, nullptr, nullptr))
                {
                    wrong += g_strcmp0(name, "Virtual camera device") == 0 ? 0 : 1;
                }
                g_free(name);
                ++rounds_done;
            }
        });
    }
    bool cycled = true;
    for (int round = 0; round < 300 && cycled; ++round)
    {
        cycled = gst_element_set_state(e, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS &&
                 gst_element_set_state(e, GST_STATE_NULL) == GST_STATE_CHANGE_SUCCESS;
        const long before = rounds_done;
        while (rounds_done < before + 4)
        {
            std::this_thread::yield();
        }
    }
    done = true;
    for (auto& t : callers)
    {
        t.join();
    }
    EXPECT_TRUE(cycled);
    EXPECT_EQ(wrong.load(), 0);
    gst_element_set_state(e, GST_STATE_NULL);
    gst_object_unref(e);
}
