#include "gst_src_impl.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    gst_init(&argc, &argv);
    // Registers both elements of the plug-in, the unpacker among them.
    if (!gst_plugin_velakorsasrc_register())
    {
        return 1;
    }
    return RUN_ALL_TESTS();
}
