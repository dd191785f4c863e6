#include "standard_properties.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace korsa_cam;
namespace sp = korsa_cam::standard_properties;

// The names and texts are what users and applications see; a typo here is a broken API.
TEST(StandardProperties, TableIsTheCommonControlSet)
{
    struct row
    {
        const char* name;
        property_type type;
        const char* category;
        const char* group;
        std::vector<std::string> menu;
        uint32_t flags;
    };
    using t = property_type;
    const std::vector<row> expected = {
        {"ExposureTime", t::real, "Exposure", "ExposureTime", {}, 0},
        {"Gain", t::real, "Exposure", "Gain", {}, 0},
        {"BlackLevel", t::real, "Exposure", "BlackLevel", {}, 0},
        {"OffsetX", t::integer, "Partial Scan", "Partial Scan", {}, 0},
        {"OffsetY", t::integer, "Partial Scan", "Partial Scan", {}, 0},
        {"OffsetAutoCenter", t::boolean, "Partial Scan", "Partial Scan", {}, 0},
        {"ReverseX", t::boolean, "Image", "Flip", {}, 0},
        {"ReverseY", t::boolean, "Image", "Flip", {}, 0},
        {"TriggerMode", t::menu, "Special", "Trigger", {"Off", "On"}, 0},
        {"TriggerSource", t::menu, "Special", "Trigger", {"FPD-Link", "PicoBlade"}, 0},
        {"TriggerSource", t::menu, "Special", "Trigger", {"PicoBlade"}, 0},
        {"StrobeMode", t::menu, "Special", "StrobeMode", {"Off", "On"}, 0},
        {"ShowOverlay", t::boolean, "Special", "ShowOverlay", {}, property_flag_debug},
    };
    const auto all = sp::all();
    ASSERT_EQ(all.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        const property_desc& d = *all[i];
        EXPECT_EQ(d.name, expected[i].name) << i;
        EXPECT_EQ(d.type, expected[i].type) << i;
        EXPECT_EQ(d.category, expected[i].category) << i;
        EXPECT_EQ(d.group, expected[i].group) << i;
        EXPECT_EQ(std::vector<std::string>(d.menu_entries.begin(), d.menu_entries.end()),
                  expected[i].menu)
            << i;
        EXPECT_EQ(d.flags, expected[i].flags) << i;
    }
    // The named accessors hand out these very objects.
    EXPECT_EQ(all[0], &sp::exposure_time());
    EXPECT_EQ(all[9], &sp::trigger_source_fpd_link());
    EXPECT_EQ(all[10], &sp::trigger_source_direct());
    EXPECT_EQ(all[12], &sp::show_overlay());
}
