// Detection through the real driver table on the shipped IMX390 and AR0234 boards: the right
// driver behind the right wrapper, serial and name from the board, the formats, and, for the
// AR0234, the lanes and PLL its connection allows, down to the registers and a stream.

#include "ar0234/ar0234_access.h"
#include "bringup_test_support.h"
#include "imx390/imx390_access.h"
#include "sensor_dispatch.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using board_test::log_capture;
using board_test::shipped_board;
using korsa_cam::sensor::create_sensor_itf;
using korsa_cam::sensor::sensor_impl_itf;
using strings = std::vector<std::string>;

constexpr int bus = 10;

strings property_names(sensor_impl_itf& s)
{
    strings out;
    for (const auto& d : s.get_property_list())
    {
        out.push_back(d.name);
    }
    return out;
}

bool has(const strings& list, const std::string& name)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

uint16_t ar_register(unsigned reg)
{
    const auto b = korsa_sim::regs(bus, 0x10, reg, 2);
    return b.size() == 2 ? static_cast<uint16_t>((b[0] << 8) | b[1]) : 0xDEAD;
}

class ModelDetection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board_test::require_simulator();
        korsa_sim_set_euid(-1);
    }
    void TearDown() override { korsa_sim_clear_faults(); }

    korsa_cam::result<korsa_cam::sensor::sensor_init_data> bring_up(const std::string& board)
    {
        EXPECT_EQ(korsa_sim_load_board(shipped_board(board).c_str()), 0);
        return create_sensor_itf({}, rec.get());
    }

    test_support::recording_sleeper rec = bringup_test::trace_sleeper();
};

TEST_F(ModelDetection, Imx390BoardsGetTheImx390Driver)
{
    struct board_case
    {
        const char* file;
        const char* serial;
        const char* name;
        unsigned receiver_lanes;
    };
    for (const auto& c :
         {board_case{"imx390-fpdlink.board", "40110041", "IMX390 FPD-Link Camera", 2},
          board_case{"imx390-direct.board", "40110040", "IMX390 Direct Camera", 4}})
    {
        SCOPED_TRACE(c.file);
        log_capture logs;
        auto r = bring_up(c.file);
        ASSERT_TRUE(r) << r.error().message();
        auto& sensor = *r.value().sensor;
        EXPECT_EQ(r.value().serial, c.serial);
        EXPECT_EQ(r.value().name, c.name);
        const auto formats = sensor.get_available_format_list();
        ASSERT_EQ(formats.size(), 2u);
        EXPECT_EQ(formats[0].type, img::fcc::RGDP);
        EXPECT_EQ(formats[1].type, img::fcc::PWL1);
        EXPECT_EQ(formats[0].dim_max, (img::dim{1920, 1080}));
        const auto names = property_names(sensor);
        for (const char* own : {"SensorOutputSelect", "ExposureRatio", "Gain", "GainOffset"})
        {
            EXPECT_TRUE(has(names, own)) << own;
        }
        // No trigger on this sensor, so the connection adds no trigger source.
        EXPECT_FALSE(has(names, "TriggerSource"));
        EXPECT_FALSE(has(names, "BlackLevel"));
        EXPECT_EQ(sensor.get_available_fps_list(img::make_img_type(img::fcc::PWL1, {1920, 1080})),
                  (std::vector<double>{5.0, 60.0}));

        // Set up and streaming on the simulated sensor.
        auto csi = sensor.setup_format(img::make_img_type(img::fcc::PWL1, {1920, 1080}), 30);
        ASSERT_TRUE(csi) << csi.error().message();
        EXPECT_EQ(csi.value().data_lanes, c.receiver_lanes);
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
        ASSERT_FALSE(sensor.start_stream());
        EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
        ASSERT_FALSE(sensor.stop_stream());
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    }
}

TEST_F(ModelDetection, Ar0234BoardsGetTheLanesAndPllOfTheirConnection)
{
    struct board_case
    {
        const char* file;
        const char* serial;
        bool fpd_link;
        uint16_t serial_format;
        uint16_t multiplier;
        unsigned receiver_lanes;
        strings trigger_sources;
    };
    for (const auto& c :
         {board_case{"ar0234-direct.board", "40110050", false, 0x0202, 50, 2, {"PicoBlade"}},
          board_case{
              "ar0234-fpdlink.board", "40110051", true, 0x0204, 44, 2, {"FPD-Link", "PicoBlade"}}})
    {
        SCOPED_TRACE(c.file);
        log_capture logs;
        auto r = bring_up(c.file);
        ASSERT_TRUE(r) << r.error().message();
        auto& sensor = *r.value().sensor;
        EXPECT_EQ(r.value().serial, c.serial);
        EXPECT_EQ(sensor.get_connection_config().num_output_lanes, c.fpd_link ? 4 : 2);
        EXPECT_TRUE(logs.has(spdlog::level::debug,
                             c.fpd_link ? "PLL Multiplier = 44, CSI lanes = 800 Mbps x 4"
                                        : "PLL Multiplier = 50, CSI lanes = 900 Mbps x 2"));

        const auto formats = sensor.get_available_format_list();
        ASSERT_EQ(formats.size(), 1u);
        EXPECT_EQ(formats[0].type, img::fcc::GRAP);
        EXPECT_EQ(formats[0].dim_max, (img::dim{1920, 1200}));
        const auto names = property_names(sensor);
        for (const char* own : {"TriggerMode", "Gain", "StrobeMode", "TriggerSource"})
        {
            EXPECT_TRUE(has(names, own)) << own;
        }
        const auto list = sensor.get_property_list();
        const auto source = std::find_if(list.begin(), list.end(),
                                         [](const auto& d) { return d.name == "TriggerSource"; });
        ASSERT_NE(source, list.end());
        EXPECT_EQ(strings(source->menu_entries.begin(), source->menu_entries.end()),
                  c.trigger_sources);

        // The PLL and serial format of the link reach the sensor at initialisation.
        const auto grbg = img::make_img_type(img::fcc::GRAP, {1920, 1200});
        auto csi = sensor.setup_format(grbg, 30);
        ASSERT_TRUE(csi) << csi.error().message();
        EXPECT_EQ(csi.value().data_lanes, c.receiver_lanes);
        EXPECT_EQ(ar_register(0x31AE), c.serial_format);
        EXPECT_EQ(ar_register(0x3030), c.multiplier);
        EXPECT_TRUE(logs.lines_starting_with("write_script").empty());

        ASSERT_FALSE(sensor.start_stream());
        EXPECT_EQ(korsa_sim_sensor_streaming(), 1);
        ASSERT_FALSE(sensor.stop_stream());
        EXPECT_EQ(korsa_sim_sensor_streaming(), 0);
    }
}

} // namespace
