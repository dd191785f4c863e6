// The hand-off of one frame: delivery into the queue, taking it, and giving it back, with a
// camera that produces instantly on the calling thread.

#include "device_state_impl.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

class instant_camera final : public korsa_cam::camera_itf
{
public:
    void deliver()
    {
        korsa_cam::buffer_desc desc;
        desc.buffer_id = frame_.data();
        desc.image.type = type_;
        desc.image.data = frame_.data();
        desc.image.pitch = 960;
        desc.frame.frame_number = n_++;
        callback_(desc);
    }

    korsa_cam::result<int> setup_stream(img::img_type, double, korsa_cam::frame_callback cb,
                                        int) override
    {
        callback_ = std::move(cb);
        return 960;
    }
    void close_stream() override {}
    bool is_streaming() override { return streaming_; }
    std::error_code start_streaming() override
    {
        streaming_ = true;
        return {};
    }
    void stop_streaming() override { streaming_ = false; }
    void reenqueue_buffer(korsa_cam::buffer_id_type) override { ++returned; }
    std::vector<korsa_cam::stream_type_desc> get_available_stream_types() override { return {}; }
    korsa_cam::framerate_data get_available_fps(img::img_type) override { return {}; }
    std::error_code write_register(uint32_t, std::span<const std::byte>) override { return {}; }
    std::error_code read_register(uint32_t, std::span<std::byte>&) override { return {}; }
    std::vector<korsa_cam::property_desc> get_property_list() override { return {}; }
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view) override
    {
        return korsa_cam::property_range{};
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view) override
    {
        return korsa_cam::prop_values{};
    }
    std::error_code set_property(std::string_view, korsa_cam::prop_values) override { return {}; }
    korsa_cam::device_info get_device_info() override { return {"bench", "bench", ""}; }
    bool test_reachable() override { return true; }

    uint64_t returned = 0;

private:
    img::img_type type_ = img::make_img_type(img::fcc::BGDP, {640, 480});
    std::vector<std::byte> frame_ = std::vector<std::byte>(type_.buffer_length);
    korsa_cam::frame_callback callback_;
    bool streaming_ = false;
    uint64_t n_ = 0;
};

void BM_FrameHandOff(benchmark::State& state)
{
    auto cam = std::make_shared<instant_camera>();
    gst_korsa::device_state_hooks hooks;
    hooks.open_camera = [cam](const std::string&) {
        return korsa_cam::camera_create_info{cam, "bench"};
    };
    hooks.poll_interval = std::chrono::hours(1);
    gst_korsa::device_state ds(hooks);
    if (ds.open("bench") ||
        !ds.setup_stream(img::make_img_type(img::fcc::BGDP, {640, 480}), 30.0) || ds.start_stream())
    {
        state.SkipWithError("cannot stream");
        return;
    }
    for (auto _ : state)
    {
        cam->deliver();
        auto [frame, flushing] = ds.wait_for_next_img();
        ds.requeue_buffer(std::move(frame));
    }
    if (cam->returned != static_cast<uint64_t>(state.iterations()))
    {
        state.SkipWithError("frames lost");
    }
    ds.close();
}
BENCHMARK(BM_FrameHandOff);

} // namespace
