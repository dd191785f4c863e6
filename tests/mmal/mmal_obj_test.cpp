#include "mmal_obj.h"
#include "mmal_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

using mmal_test::log_capture;
using mmal_test::sim_stats;

namespace {

constexpr MMAL_FOURCC_T code(const char (&s)[5])
{
    return MMAL_FOURCC(s[0], s[1], s[2], s[3]);
}

// Plain heap payloads, so the wrapper tests do not depend on the VCSM pool.
struct heap_allocator
{
    std::mutex m;
    std::vector<std::unique_ptr<uint8_t[]>> blocks;
    int frees = 0;

    static void* alloc(void* ctx, uint32_t size)
    {
        auto* self = static_cast<heap_allocator*>(ctx);
        std::lock_guard lock(self->m);
        self->blocks.push_back(std::make_unique<uint8_t[]>(size));
        return self->blocks.back().get();
    }
    static void free(void* ctx, void* mem)
    {
        auto* self = static_cast<heap_allocator*>(ctx);
        std::lock_guard lock(self->m);
        auto it = std::find_if(self->blocks.begin(), self->blocks.end(),
                               [mem](const auto& b) { return b.get() == mem; });
        if (it != self->blocks.end())
        {
            self->blocks.erase(it);
            ++self->frees;
        }
    }
};

// A receiver output with a committed 64x16 10-bit format on an enabled component, ready to be
// enabled.
mmal::port committed_output(mmal::component& comp)
{
    mmal::port p = comp.get_output_port(0);
    MMAL_ES_FORMAT_T* f = p.get()->format;
    f->encoding = code("pRAA");
    f->es->video.width = 64;
    f->es->video.height = 16;
    f->es->video.crop = {0, 0, 64, 16};
    f->es->video.frame_rate = {30, 1};
    EXPECT_FALSE(p.format_commit());
    // A disabled component captures nothing.
    EXPECT_FALSE(comp.enable());
    return p;
}

unsigned free_headers(mmal::pool& pool)
{
    return mmal_queue_length(pool.get_queue().get());
}

class MmalObj : public mmal_test::sim_test
{};

} // namespace

TEST(MmalStatus, MapsEveryStatusOntoGenericErrno)
{
    const std::vector<std::pair<MMAL_STATUS_T, int>> table = {
        {MMAL_ENOMEM, 12},    {MMAL_ENOSPC, 28},    {MMAL_EINVAL, 22},  {MMAL_ENOSYS, 38},
        {MMAL_ENOENT, 2},     {MMAL_ENXIO, 6},      {MMAL_EIO, 5},      {MMAL_ESPIPE, 29},
        {MMAL_ECORRUPT, 71},  {MMAL_ENOTREADY, 63}, {MMAL_ECONFIG, 22}, {MMAL_EISCONN, 106},
        {MMAL_ENOTCONN, 107}, {MMAL_EAGAIN, 11},    {MMAL_EFAULT, 14},
    };
    for (auto [status, value] : table)
    {
        const std::error_code ec = mmal::status_to_error_code(status);
        EXPECT_EQ(ec.value(), value) << status;
        EXPECT_EQ(&ec.category(), &std::generic_category()) << status;
    }
    EXPECT_FALSE(mmal::status_to_error_code(MMAL_SUCCESS));
    EXPECT_EQ(mmal::status_to_error_code(MMAL_SUCCESS), std::error_code());
    const std::error_code odd = mmal::status_to_error_code(static_cast<MMAL_STATUS_T>(77));
    EXPECT_EQ(odd.value(), 77);
    EXPECT_EQ(&odd.category(), &std::generic_category());
}

TEST(MmalStatus, RaiseCarriesMappedCodeAndFormattedText)
{
    try
    {
        mmal::raise_system_error_for_status(MMAL_ENOSPC, "pool {} of {}", 3, "x");
        FAIL() << "no exception";
    }
    catch (const std::system_error& ex)
    {
        EXPECT_EQ(ex.code(), std::error_code(ENOSPC, std::generic_category()));
        EXPECT_EQ(std::string(ex.what()).rfind("pool 3 of x", 0), 0u) << ex.what();
    }
}

TEST(MmalFourcc, NamesKnownEncodingsAndSpellsOutUnknownOnes)
{
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("S420")), "I420_SLICE");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("YUYV")), "YUYV");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("BGR3")), "BGR24");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("pRAA")), "SRGGB10P");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("pg12")), "SGRBG12P");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("GB16")), "SGBRG16");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("BA81")), "SBGGR8");
    // Unknown: lowest byte first, highest last.
    EXPECT_EQ(mmal::mmal_fourcc_to_string(0x44434241u), "ABCD");
    EXPECT_EQ(mmal::mmal_fourcc_to_string(code("Y10P")), "Y10P");
}

TEST(MmalFourcc, BayerTableCoversEveryOrderAndDepth)
{
    using mmal::bayer_order;
    const char* expected[4][4] = {{"BA81", "pBAA", "pB12", "BG16"},
                                  {"GBRG", "pGAA", "pG12", "GB16"},
                                  {"GRBG", "pgAA", "pg12", "GR16"},
                                  {"RGGB", "pRAA", "pR12", "RG16"}};
    const int depths[4] = {8, 10, 12, 16};
    for (int o = 0; o < 4; ++o)
    {
        for (int d = 0; d < 4; ++d)
        {
            const char* e = expected[o][d];
            EXPECT_EQ(mmal::conv_bayer_order_to_fourcc(static_cast<bayer_order>(o), depths[d]),
                      MMAL_FOURCC(e[0], e[1], e[2], e[3]))
                << o << "/" << depths[d];
        }
    }
}

TEST(MmalFourcc, UnhandledDepthOrOrderYieldsZeroAndLogs)
{
    log_capture log;
    EXPECT_EQ(mmal::conv_bayer_order_to_fourcc(mmal::bayer_order::rggb, 14), 0u);
    EXPECT_TRUE(log.has(spdlog::level::err, "14 is not not one of the handled bit depths\n"));
    EXPECT_EQ(mmal::conv_bayer_order_to_fourcc(static_cast<mmal::bayer_order>(4), 10), 0u);
    EXPECT_TRUE(log.has(spdlog::level::err, "order out of range - 4\n"));
    const auto recs = log.starting_with("order out of range");
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].file, "src/mmal_lib/mmal_obj");
}

TEST_F(MmalObj, ComponentExposesPortsAndRejectsBadLookups)
{
    mmal::component comp = mmal::component::create("vc.ril.rawcam");
    ASSERT_EQ(comp.output_ports().size(), comp.get()->output_num);
    EXPECT_TRUE(comp.input_ports().empty());
    EXPECT_EQ(comp.get_output_port(0).get(), comp.get()->output[0]);
    try
    {
        comp.get_output_port(comp.get()->output_num);
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& ex)
    {
        EXPECT_EQ(std::string(ex.what()), "Failed to fetch output port index=1");
    }
    try
    {
        mmal::component bad("vc.ril.nothing");
        FAIL() << "no exception";
    }
    catch (const std::system_error& ex)
    {
        EXPECT_EQ(ex.code().value(), ENOENT);
        EXPECT_EQ(std::string(ex.what()).rfind("Failed to create component 'vc.ril.nothing'", 0),
                  0u);
    }
    // Empty objects: no crash, clear answers.
    mmal::component empty;
    empty.disable();
    EXPECT_EQ(empty.enable(), std::errc::bad_file_descriptor);
    EXPECT_THROW(empty.get_output_port(0), std::runtime_error);
    mmal::port none;
    EXPECT_EQ(none.pause(true), std::errc::bad_file_descriptor);
    EXPECT_EQ(none.send_buffer(nullptr), std::errc::bad_file_descriptor);
    none.disable();
}

TEST_F(MmalObj, PortKeepsItsComponentAlive)
{
    mmal::port p;
    {
        mmal::component comp("vc.ril.rawcam");
        p = comp.get_output_port(0);
    }
    EXPECT_EQ(sim_stats().live_components, 1u);
    EXPECT_NE(p.name().find("vc.ril.rawcam"), std::string::npos);
    p = mmal::port();
    EXPECT_EQ(sim_stats().live_components, 0u);
}

TEST_F(MmalObj, BooleanParameterFailureThrowsWithText)
{
    mmal::component comp("vc.ril.rawcam");
    mmal::port p = comp.get_output_port(0);
    p.set_parameter(MMAL_PARAMETER_ZERO_COPY, true);
    MMAL_BOOL_T on = 0;
    ASSERT_EQ(mmal_port_parameter_get_boolean(p.get(), MMAL_PARAMETER_ZERO_COPY, &on),
              MMAL_SUCCESS);
    EXPECT_EQ(on, 1);
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_PARAMETER_SET, 0, MMAL_ENOSYS);
    try
    {
        p.set_parameter(MMAL_PARAMETER_ZERO_COPY, false);
        FAIL() << "no exception";
    }
    catch (const std::system_error& ex)
    {
        EXPECT_EQ(ex.code().value(), ENOSYS);
        EXPECT_EQ(std::string(ex.what()).rfind("Failed to set port parameter id=4 enable=false", 0),
                  0u)
            << ex.what();
    }
}

TEST_F(MmalObj, PoolCreationFailureThrowsWithText)
{
    heap_allocator heap;
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_POOL_CREATE, 0, MMAL_ENOMEM);
    try
    {
        mmal::pool::create_pool(3, 100, &heap, &heap_allocator::alloc, &heap_allocator::free);
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& ex)
    {
        EXPECT_EQ(std::string(ex.what()), "Failed to create pool with alloc/free func and params "
                                          "buffer_num=3, payload_size=100 ");
    }
}

TEST_F(MmalObj, QueuePopAllDrainsAndEmptyQueueYieldsNothing)
{
    heap_allocator heap;
    mmal::pool pool =
        mmal::pool::create_pool(4, 64, &heap, &heap_allocator::alloc, &heap_allocator::free);
    mmal::queue q;
    for (MMAL_BUFFER_HEADER_T* h : pool.get_queue().pop_all(0))
    {
        mmal_queue_put(q.get(), h);
    }
    EXPECT_EQ(free_headers(pool), 0u);
    const auto waited = q.pop_all(1);
    EXPECT_EQ(waited.size(), 4u);
    for (MMAL_BUFFER_HEADER_T* h : waited)
    {
        mmal_buffer_header_release(h);
    }
    EXPECT_EQ(free_headers(pool), 4u);
    mmal::queue none{std::shared_ptr<MMAL_QUEUE_T>()};
    EXPECT_TRUE(none.pop_all(0).empty());
    EXPECT_TRUE(none.pop_all(5).empty());
}

TEST_F(MmalObj, PoolOutlivesItsWrapperThroughItsQueueView)
{
    heap_allocator heap;
    mmal::queue view{std::shared_ptr<MMAL_QUEUE_T>()};
    {
        mmal::pool pool =
            mmal::pool::create_pool(2, 32, &heap, &heap_allocator::alloc, &heap_allocator::free);
        view = pool.get_queue();
    }
    EXPECT_EQ(sim_stats().live_pools, 1u);
    EXPECT_EQ(view.pop_all(0).size(), 2u);
    // Both headers are now out of the pool; hand them back before it goes.
    EXPECT_EQ(heap.frees, 0);
    view = mmal::queue{std::shared_ptr<MMAL_QUEUE_T>()};
    EXPECT_EQ(heap.frees, 2);
    korsa_vc_sim_reset_counters(); // the two headers taken above were still out on purpose
}

TEST_F(MmalObj, BufferHeaderReleasesUnlessTakenOut)
{
    heap_allocator heap;
    mmal::pool pool =
        mmal::pool::create_pool(2, 16, &heap, &heap_allocator::alloc, &heap_allocator::free);
    auto hs = pool.get_queue().pop_all(0);
    ASSERT_EQ(hs.size(), 2u);
    int marker = 0;
    hs[0]->user_data = &marker;
    {
        mmal::buffer_header plain(hs[0]);
        EXPECT_EQ(plain.data(), hs[0]->data);
        mmal::buffer_header mapped(std::move(plain));
        EXPECT_FALSE(plain);
        mapped.set_flags(mmal::buffer_header::flags::payload_in_user_data);
        EXPECT_EQ(mapped.data(), &marker);
    }
    EXPECT_EQ(free_headers(pool), 1u);
    MMAL_BUFFER_HEADER_T* kept = nullptr;
    {
        mmal::buffer_header b(hs[1]);
        kept = b.release();
    }
    EXPECT_EQ(free_headers(pool), 1u);
    mmal_buffer_header_release(kept);
    EXPECT_EQ(free_headers(pool), 2u);
}

// The trampoline: a header left in the wrapper goes back to the pool right after the
// callback; one taken out stays with the callback's owner; a throwing callback neither
// crashes nor loses the header.
TEST_F(MmalObj, TrampolineReleasesWhatTheCallbackDoesNotKeep)
{
    log_capture log;
    heap_allocator heap;
    mmal::component comp("vc.ril.rawcam");
    mmal::port out = committed_output(comp);
    mmal::pool pool = mmal::pool::create_pool(3, out.get()->buffer_size, &heap,
                                              &heap_allocator::alloc, &heap_allocator::free);
    enum class mode
    {
        leave,
        keep,
        fail
    } m = mode::leave;
    std::vector<MMAL_BUFFER_HEADER_T*> kept;
    int calls = 0;
    ASSERT_FALSE(out.enable([&](mmal::buffer_header& b) {
        ++calls;
        EXPECT_EQ(b.get_flags(), mmal::buffer_header::flags::none);
        EXPECT_EQ(b.data(), b.get()->data);
        if (m == mode::keep)
        {
            kept.push_back(b.release());
        }
        if (m == mode::fail)
        {
            throw std::runtime_error("consumer failed");
        }
    }));
    pool.send_all_buffers_to_port(out);
    EXPECT_EQ(free_headers(pool), 0u);

    ASSERT_EQ(korsa_vc_sim_tick(out.get()), 1);
    EXPECT_EQ(free_headers(pool), 1u);

    m = mode::keep;
    ASSERT_EQ(korsa_vc_sim_tick(out.get()), 1);
    EXPECT_EQ(free_headers(pool), 1u);
    ASSERT_EQ(kept.size(), 1u);

    m = mode::fail;
    ASSERT_EQ(korsa_vc_sim_tick(out.get()), 1);
    EXPECT_EQ(free_headers(pool), 2u);
    EXPECT_FALSE(log.starting_with("Buffer callback of port").empty());
    EXPECT_EQ(calls, 3);

    out.disable();
    mmal_buffer_header_release(kept[0]);
    EXPECT_EQ(free_headers(pool), 3u);
}

TEST_F(MmalObj, FailedEnableLogsAndReturnsCode)
{
    log_capture log;
    mmal::component comp("vc.ril.rawcam");
    mmal::port out = committed_output(comp);
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_PORT_ENABLE, 0, MMAL_ENOSPC);
    EXPECT_EQ(out.enable([](mmal::buffer_header&) {}).value(), ENOSPC);
    EXPECT_TRUE(log.has(spdlog::level::err, "Failed to enable port '" + out.name() + "'"));
    // Disabling a port that is not enabled only logs.
    out.disable();
    EXPECT_TRUE(log.has(spdlog::level::info, "Failed to disable port '" + out.name() + "'"));
}

// A header the port refuses goes back to the pool instead of being lost, and the rest are
// still sent.
TEST_F(MmalObj, SendAllReturnsRefusedHeadersToThePool)
{
    log_capture log;
    heap_allocator heap;
    mmal::component comp("vc.ril.rawcam");
    mmal::port out = committed_output(comp);
    mmal::pool pool = mmal::pool::create_pool(4, out.get()->buffer_size, &heap,
                                              &heap_allocator::alloc, &heap_allocator::free);
    ASSERT_FALSE(out.enable([](mmal::buffer_header&) {}));
    korsa_vc_sim_fail(KORSA_VC_SIM_OP_SEND_BUFFER, 1, MMAL_EAGAIN);
    pool.send_all_buffers_to_port(out);
    EXPECT_EQ(free_headers(pool), 1u);
    EXPECT_EQ(log.starting_with("Failed to send buffer ").size(), 1u);
    // Disabling hands the three queued headers back.
    out.disable();
    EXPECT_EQ(free_headers(pool), 4u);
    // An empty port is left alone.
    mmal::port none;
    pool.send_all_buffers_to_port(none);
    EXPECT_EQ(free_headers(pool), 4u);
}
