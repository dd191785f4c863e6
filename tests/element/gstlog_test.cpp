#include "gst_src_impl.h"
#include "gstlog.h"
#include "log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

struct record
{
    std::string category;
    GstDebugLevel level;
    std::string file;
    std::string function;
    int line;
    std::string text;
};

// Captures every GStreamer debug record while alive.
class debug_capture
{
public:
    debug_capture()
    {
        previous_threshold_ = gst_debug_get_default_threshold();
        gst_debug_set_active(TRUE);
        // GStreamer filters by the category's threshold before any log function runs.
        gst_debug_category_set_threshold(gst_velakorsasrc_debug, GST_LEVEL_TRACE);
        gst_debug_add_log_function(&debug_capture::log_fn, this, nullptr);
    }
    ~debug_capture()
    {
        gst_debug_remove_log_function_by_data(this);
        gst_debug_set_default_threshold(previous_threshold_);
        gst_debug_category_reset_threshold(gst_velakorsasrc_debug);
    }

    std::vector<record> matching(const std::string& text)
    {
        std::lock_guard lock(mtx_);
        std::vector<record> out;
        for (const auto& r : records_)
        {
            if (r.text == text)
            {
                out.push_back(r);
            }
        }
        return out;
    }

private:
    static void log_fn(GstDebugCategory* category, GstDebugLevel level, const gchar* file,
                       const gchar* function, gint line, GObject*, GstDebugMessage* message,
                       gpointer data)
    {
        auto* self = static_cast<debug_capture*>(data);
        std::lock_guard lock(self->mtx_);
        self->records_.push_back({gst_debug_category_get_name(category), level, file, function,
                                  line, gst_debug_message_get(message)});
    }

    std::mutex mtx_;
    std::vector<record> records_;
    GstDebugLevel previous_threshold_;
};

// The element's class initialisation installs the routing.
void ensure_class_initialised()
{
    GstElement* e = test_support::make_src();
    gst_object_unref(e);
}

int warn_line = 0;
void library_warning()
{
    // clang-format off
    warn_line = __LINE__; KLOG_WARN("Library warning {}", 42);
    // clang-format on
}

} // namespace

TEST(LogRouting, LibraryWarningReachesTheCategoryWithItsOwnLocation)
{
    ensure_class_initialised();
    debug_capture capture;
    library_warning();
    auto hits = capture.matching("Library warning 42");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].category, "velakorsasrc");
    EXPECT_EQ(hits[0].level, GST_LEVEL_WARNING);
    // The location is the file without extension, not the sink's fixed fallback.
    EXPECT_NE(hits[0].file.find("tests/element/gstlog_test"), std::string::npos) << hits[0].file;
    EXPECT_EQ(hits[0].file.find(".cpp"), std::string::npos);
    EXPECT_EQ(hits[0].function, "library_warning");
    EXPECT_EQ(hits[0].line, warn_line);
}

TEST(LogRouting, LevelsMapAsTheTableSays)
{
    using gstlog::gst_sink;
    EXPECT_EQ(gst_sink::map_level(spdlog::level::trace), GST_LEVEL_TRACE);
    EXPECT_EQ(gst_sink::map_level(spdlog::level::debug), GST_LEVEL_DEBUG);
    EXPECT_EQ(gst_sink::map_level(spdlog::level::info), GST_LEVEL_INFO);
    EXPECT_EQ(gst_sink::map_level(spdlog::level::warn), GST_LEVEL_WARNING);
    EXPECT_EQ(gst_sink::map_level(spdlog::level::err), GST_LEVEL_ERROR);
    EXPECT_EQ(gst_sink::map_level(spdlog::level::critical), GST_LEVEL_FIXME);
    EXPECT_EQ(gst_sink::map_level(spdlog::level::off), GST_LEVEL_NONE);
    EXPECT_EQ(gst_sink::map_level(static_cast<spdlog::level::level_enum>(42)), GST_LEVEL_ERROR);

    ensure_class_initialised();
    debug_capture capture;
    KLOG_CRITICAL("critical goes to fixme");
    auto hits = capture.matching("critical goes to fixme");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].level, GST_LEVEL_FIXME);
}

TEST(LogRouting, MessagesWithoutLocationObeyTheGlobalThreshold)
{
    ensure_class_initialised();
    auto& logger = gstlog::get_gst_log_ref();
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->name(), "gst-sink");

    debug_capture capture;
    gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    logger->log(spdlog::level::info, "no location, below threshold");
    logger->log(spdlog::level::err, "no location, above threshold");
    EXPECT_TRUE(capture.matching("no location, below threshold").empty());
    auto hits = capture.matching("no location, above threshold");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].file, "lib/helper/src/helper/gstlog");
    EXPECT_EQ(hits[0].function, "sink_it_");
    EXPECT_EQ(hits[0].line, 42);
    EXPECT_EQ(hits[0].level, GST_LEVEL_ERROR);
}

TEST(LogRouting, LocationIsThePathFromSrcWithoutExtension)
{
    constexpr auto p = gstlog::detail::make_log_path("/home/x/src/proj/src/rawcam_lib/i2c_com.cpp");
    EXPECT_STREQ(p.text.data(), "src/rawcam_lib/i2c_com");
    constexpr auto q = gstlog::detail::make_log_path("/a/lib/helper/src/helper/gstlog.cpp");
    EXPECT_STREQ(q.text.data(), "src/helper/gstlog");
    constexpr auto r = gstlog::detail::make_log_path("/a/mysrc/x.v1/file");
    EXPECT_STREQ(r.text.data(), "/a/mysrc/x.v1/file");
}
