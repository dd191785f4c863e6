// Property, register and device-info calls on several threads while another thread closes
// and reopens the camera, as an application using the property interface while its
// pipeline starts and stops. Each close lets go of the camera and of the cached property
// list, and the first calls after each open fill the list afresh, all at the same moment.
// Under AddressSanitizer or ThreadSanitizer a call reaching a released camera or list fails.

#include "device_state_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using korsa_cam::prop_values;

TEST(DeviceStateRace, PropertyCallsMeetCloseAndReopen)
{
    gst_korsa::device_state ds; // the real camera selection: "virt" is the virtual camera
    ASSERT_FALSE(ds.open("virt"));

    std::atomic<bool> done{false};
    std::atomic<long> rounds_done{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
    {
        callers.emplace_back([&, i] {
            while (!done)
            {
                // Closed: empty. Open: the camera's three and "ShowOverlay".
                const auto list = ds.get_property_list();
                if (!list->empty() && (list->size() != 4 || list->back().name != "ShowOverlay"))
                {
                    ++wrong;
                }
                if (const auto gain = ds.get_property("Gain"))
                {
                    const double g = gain.value().as_double();
                    wrong += (g < 0.0 || g > 3.0) ? 1 : 0;
                }
                (void)ds.set_property("Gain", prop_values::from_double(i));
                (void)ds.get_property_range("ExposureTime");
                wrong += ds.sensor_debug_get(0x3000) != -1 ? 1 : 0; // no registers
                for (const auto& info : ds.get_device_list())
                {
                    wrong += info.serial != "virt" ? 1 : 0;
                }
                (void)ds.get_device_name();
                ++rounds_done;
            }
        });
    }

    bool reopened = true;
    for (int round = 0; round < 200 && reopened; ++round)
    {
        ds.close();
        reopened = !ds.open("virt");
        // Let every caller meet the fresh camera: wait for progress, not for time.
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
    EXPECT_TRUE(reopened);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(ds.get_property_list()->size(), 4u);
    ds.close();
    EXPECT_TRUE(ds.get_property_list()->empty());
    EXPECT_EQ(ds.get_property("Gain").error(),
              std::make_error_code(std::errc::bad_file_descriptor));
}

} // namespace
