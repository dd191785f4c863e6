#pragma once

// A camera whose frames the test pushes explicitly. It keeps count of every buffer it lends
// and gets back, so tests can prove that each frame returns exactly once.

#include "camera_itf.h"
#include "null_camera.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace device_test {

class fake_camera : public test_support::null_camera
{
public:
    explicit fake_camera(int buffers = 8) : storage_(buffers), lent_(buffers, false)
    {
        for (auto& b : storage_)
        {
            b.assign(type_.buffer_length, std::byte{0x33});
        }
    }

    // Delivers one frame from a free buffer on the calling thread, as a capture thread would.
    // False when not streaming or every buffer is lent out.
    bool deliver(korsa_cam::frame_info info = {})
    {
        std::lock_guard delivering(delivery_mutex_);
        korsa_cam::buffer_desc desc{nullptr, {type_, nullptr, 960}, info};
        {
            std::lock_guard lock(state_mutex_);
            const auto free = std::find(lent_.begin(), lent_.end(), false);
            if (!streaming_ || free == lent_.end())
            {
                return false;
            }
            *free = true;
            desc.image.data = storage_[free - lent_.begin()].data();
            desc.buffer_id = desc.image.data;
            delivered_ids_.push_back(desc.buffer_id);
        }
        callback_(desc);
        return true;
    }

    korsa_cam::result<int> setup_stream(img::img_type, double, korsa_cam::frame_callback cb,
                                        int buffer_count) override
    {
        callback_ = std::move(cb);
        setup_buffer_count = buffer_count;
        return 960;
    }
    bool is_streaming() override { return streaming_; }
    std::error_code start_streaming() override
    {
        streaming_ = true;
        return {};
    }
    // Like a real camera: once this returns, no delivery runs or starts.
    void stop_streaming() override
    {
        streaming_ = false;
        std::lock_guard wait_for_delivery(delivery_mutex_);
    }
    void reenqueue_buffer(korsa_cam::buffer_id_type id) override
    {
        std::lock_guard lock(state_mutex_);
        returned_ids_.push_back(id);
        for (std::size_t i = 0; i < storage_.size(); ++i)
        {
            if (storage_[i].data() == id)
            {
                bad_returns_ += lent_[i] ? 0 : 1;
                lent_[i] = false;
                return;
            }
        }
        ++bad_returns_;
    }

    std::vector<korsa_cam::stream_type_desc> get_available_stream_types() override
    {
        return {{type_.type, type_.dim, type_.dim, {1, 1}}};
    }
    korsa_cam::framerate_data get_available_fps(img::img_type) override { return {30.0}; }
    std::vector<korsa_cam::property_desc> get_property_list() override
    {
        return {{"Gain", korsa_cam::property_type::real, "Exposure", "Gain", {}, 0}};
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view name) override
    {
        if (name != "Gain")
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return gain_;
    }
    std::error_code set_property(std::string_view, korsa_cam::prop_values value) override
    {
        gain_ = value;
        return {};
    }
    korsa_cam::device_info get_device_info() override { return {"FAKE01", "Fake camera", ""}; }
    bool test_reachable() override
    {
        ++reachable_calls;
        if (on_reachability_test)
        {
            on_reachability_test();
        }
        return reachable;
    }

    std::vector<korsa_cam::buffer_id_type> returned_ids() const
    {
        std::lock_guard lock(state_mutex_);
        return returned_ids_;
    }
    std::vector<korsa_cam::buffer_id_type> delivered_ids() const
    {
        std::lock_guard lock(state_mutex_);
        return delivered_ids_;
    }
    long lent_count() const
    {
        std::lock_guard lock(state_mutex_);
        return std::count(lent_.begin(), lent_.end(), true);
    }
    int bad_returns() const
    {
        std::lock_guard lock(state_mutex_);
        return bad_returns_;
    }

    const img::img_type type_ = img::make_img_type(img::fcc::BGDP, {640, 32});
    int setup_buffer_count = 0;
    std::atomic<bool> reachable{true};
    std::atomic<int> reachable_calls{0};
    std::function<void()> on_reachability_test;

private:
    std::atomic<bool> streaming_{false};
    std::mutex delivery_mutex_;
    mutable std::mutex state_mutex_;
    std::vector<std::vector<std::byte>> storage_;
    std::vector<bool> lent_;
    korsa_cam::frame_callback callback_;
    int bad_returns_ = 0;
    std::vector<korsa_cam::buffer_id_type> delivered_ids_;
    std::vector<korsa_cam::buffer_id_type> returned_ids_;
    korsa_cam::prop_values gain_;
};

} // namespace device_test
