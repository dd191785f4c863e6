#include "mmal_test_support.h"
#include "vcsm_allocator.h"
#include "vcsm_pool.h"
#include "videocore_platform.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

using mmal_test::sim_stats;

namespace {

class VcsmPool : public mmal_test::sim_test
{
protected:
    void SetUp() override
    {
        mmal_test::sim_test::SetUp();
        mmal::ensure_videocore_platform();
    }
};

std::vector<MMAL_BUFFER_HEADER_T*> headers_of(mmal::vcsm_pool& p)
{
    const MMAL_POOL_T* raw = p.get_pool().get();
    return raw ? std::vector<MMAL_BUFFER_HEADER_T*>(raw->header, raw->header + raw->headers_num)
               : std::vector<MMAL_BUFFER_HEADER_T*>{};
}

} // namespace

TEST_F(VcsmPool, CreateLocksOneBlockPerBufferAndCloseFreesThem)
{
    mmal::vcsm_pool pool;
    pool.create(4, 4096, "test buffers");
    auto s = sim_stats();
    EXPECT_EQ(s.live_vcsm_handles, 4u);
    EXPECT_EQ(s.locked_vcsm_handles, 4u);
    EXPECT_EQ(mmal_queue_length(pool.get_pool().get_queue().get()), 4u);
    std::set<void*> data, mapped;
    for (MMAL_BUFFER_HEADER_T* h : headers_of(pool))
    {
        EXPECT_NE(h->data, nullptr);
        EXPECT_NE(h->user_data, nullptr);
        EXPECT_NE(static_cast<void*>(h->data), h->user_data);
        data.insert(h->data);
        mapped.insert(h->user_data);
    }
    EXPECT_EQ(data.size(), 4u);
    EXPECT_EQ(mapped.size(), 4u);
    // A second create replaces the pool.
    pool.create(2, 1024, "again");
    EXPECT_EQ(sim_stats().live_vcsm_handles, 2u);
    EXPECT_EQ(sim_stats().live_pools, 1u);
    pool.close();
    s = sim_stats();
    EXPECT_EQ(s.live_vcsm_handles, 0u);
    EXPECT_EQ(s.vcsm_frees, 6u);
}

// What the receiver writes through a header's data (the VideoCore handle) is what the
// process reads at its user_data: the mapping belongs to that very block.
TEST_F(VcsmPool, UserDataIsTheMappingOfTheBlockTheReceiverWrites)
{
    mmal::vcsm_pool pool;
    mmal::component comp("vc.ril.rawcam");
    mmal::port out = comp.get_output_port(0);
    mmal::setup_vcsm_port(out);
    MMAL_ES_FORMAT_T* f = out.get()->format;
    f->encoding = MMAL_FOURCC('p', 'B', 'A', 'A');
    f->es->video.width = 32;
    f->es->video.height = 8;
    f->es->video.crop = {0, 0, 32, 8};
    f->es->video.frame_rate = {30, 1};
    ASSERT_FALSE(out.format_commit());
    ASSERT_FALSE(comp.enable());
    pool.create(3, out.get()->buffer_size, "zero copy");

    std::vector<std::pair<MMAL_BUFFER_HEADER_T*, uint32_t>> seen;
    ASSERT_FALSE(out.enable([&](mmal::buffer_header& b) {
        const auto* px = static_cast<const uint8_t*>(b.get()->user_data);
        seen.emplace_back(b.get(), korsa_vc_sim_frame_number(px));
        // 32 pixels of 10 bits padded to a 64-byte line: line 1 starts at byte 64.
        EXPECT_EQ(px[64], korsa_vc_sim_pattern_byte(static_cast<uint32_t>(seen.size() - 1), 0, 1));
    }));
    pool.send_all_buffers_to_port(out);
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(korsa_vc_sim_tick(out.get()), 1);
    }
    out.disable();
    ASSERT_EQ(seen.size(), 3u);
    std::set<MMAL_BUFFER_HEADER_T*> distinct;
    for (uint32_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(seen[i].second, i);
        distinct.insert(seen[i].first);
    }
    EXPECT_EQ(distinct.size(), 3u);
}

TEST_F(VcsmPool, EmptyPoolIsCreatedAndLeavesNothing)
{
    mmal::vcsm_pool pool;
    pool.create(0, 4096, "none");
    EXPECT_TRUE(headers_of(pool).empty());
    EXPECT_EQ(sim_stats().live_vcsm_handles, 0u);
    pool.close();
    EXPECT_EQ(sim_stats().live_pools, 0u);
}

// Any VCSM step failing part way through leaves no block allocated or locked.
TEST_F(VcsmPool, FailedAllocationLeaksNoBlock)
{
    struct step
    {
        korsa_vc_sim_op op;
        unsigned skip;
    };
    for (step s : {step{KORSA_VC_SIM_OP_VCSM_MALLOC, 0}, step{KORSA_VC_SIM_OP_VCSM_MALLOC, 2},
                   step{KORSA_VC_SIM_OP_VCSM_VC_HANDLE, 1}, step{KORSA_VC_SIM_OP_VCSM_LOCK, 3}})
    {
        mmal::vcsm_pool pool;
        korsa_vc_sim_fail(s.op, s.skip, MMAL_ENOMEM);
        try
        {
            pool.create(5, 4096, "failing");
            ADD_FAILURE() << "no exception for op " << s.op;
        }
        catch (const std::runtime_error& ex)
        {
            EXPECT_EQ(std::string(ex.what()), "Failed to create pool with alloc/free func and "
                                              "params buffer_num=5, payload_size=4096 ");
        }
        const auto st = sim_stats();
        EXPECT_EQ(st.live_vcsm_handles, 0u) << s.op;
        EXPECT_EQ(st.live_pools, 0u) << s.op;
        EXPECT_FALSE(pool.get_pool());
    }
}

TEST_F(VcsmPool, OwnsOnlyItsCurrentHeaders)
{
    mmal::vcsm_pool a, b;
    a.create(2, 256, "a");
    b.create(2, 256, "b");
    const auto ha = headers_of(a);
    EXPECT_TRUE(a.owns(ha[0]));
    EXPECT_TRUE(a.owns(ha[1]));
    EXPECT_FALSE(a.owns(headers_of(b)[0]));
    EXPECT_FALSE(a.owns(nullptr));
    a.close();
    EXPECT_FALSE(a.owns(ha[0]));
}

TEST_F(VcsmPool, AllocatorIgnoresUnknownPayloadsAndFreesWhatIsLeft)
{
    {
        mmal::vcsm_allocator alloc("direct");
        EXPECT_EQ(alloc.allocate(0), nullptr);
        EXPECT_EQ(sim_stats().vcsm_allocs, 0u);
        void* p1 = alloc.allocate(128);
        void* p2 = mmal::vcsm_allocator::alloc_callback(&alloc, 128);
        ASSERT_NE(p1, nullptr);
        ASSERT_NE(p2, nullptr);
        EXPECT_NE(alloc.arm_address(p1), nullptr);

        auto before = alloc.allocations();
        mmal::vcsm_allocator::free_callback(&alloc, reinterpret_cast<void*>(uintptr_t{0x1234}));
        EXPECT_EQ(alloc.allocations().size(), before.size());
        EXPECT_EQ(sim_stats().live_vcsm_handles, 2u);
        EXPECT_EQ(sim_stats().locked_vcsm_handles, 2u);

        mmal::vcsm_allocator::free_callback(&alloc, p1);
        mmal::vcsm_allocator::free_callback(&alloc, p1);
        EXPECT_EQ(alloc.allocations().size(), 1u);
        EXPECT_EQ(alloc.allocations()[0].arm_address, alloc.arm_address(p2));
        EXPECT_EQ(sim_stats().live_vcsm_handles, 1u);
        EXPECT_EQ(alloc.arm_address(p1), nullptr);

        EXPECT_EQ(mmal::vcsm_allocator::alloc_callback(nullptr, 128), nullptr);
        mmal::vcsm_allocator::free_callback(nullptr, p2);
    }
    // The allocator's end frees the block still held.
    EXPECT_EQ(sim_stats().live_vcsm_handles, 0u);
}
