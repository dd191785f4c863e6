#pragma once

// A camera whose frames the test pushes explicitly. It keeps count of every buffer it lends
// and gets back, so tests can prove that each frame returns exactly once.

#include "camera_itf.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace device_test
{

class fake_camera : public korsa_cam::camera_itf
{
public:
    explicit fake_camera(int buffers = 8,
                         img::img_type type = img::make_img_type(img::fcc::BGDP, {640, 32}))
        : type_(type), storage_(static_cast<std::size_t>(buffers)),
          lent_(static_cast<std::size_t>(buffers), false)
    {
        for (auto& b : storage_)
        {
            b.assign(type.buffer_length, std::byte{0x33});
        }
    }

    // Delivers one frame from a free buffer on the calling thread, as a camera's capture
    // thread would. False when not streaming or every buffer is lent out.
    bool deliver(korsa_cam::frame_info info = {})
    {
        std::lock_guard delivering(delivery_mutex_);
        if (!streaming_)
        {
            return false;
        }
        korsa_cam::buffer_desc desc;
        {
            std::lock_guard lock(state_mutex_);
            std::size_t i = 0;
            while (i < lent_.size() && lent_[i])
            {
                ++i;
            }
            if (i == lent_.size())
            {
                return false;
            }
            lent_[i] = true;
            ++delivered_;
            desc.buffer_id = storage_[i].data();
            desc.image.type = type_;
            desc.image.data = storage_[i].data();
            desc.image.pitch = type_.dim.cx * img::get_bits_per_pixel(type_.type) / 8;
            delivered_ids_.push_back(desc.buffer_id);
        }
        desc.frame = info;
        callback_(desc);
        return true;
    }

    korsa_cam::result<int> setup_stream(img::img_type type, double /*fps*/,
                                        korsa_cam::frame_callback callback,
                                        int buffer_count) override
    {
        std::lock_guard lock(state_mutex_);
        callback_ = std::move(callback);
        setup_type_ = type;
        setup_buffer_count_ = buffer_count;
        ++setups_;
        return type_.dim.cx * img::get_bits_per_pixel(type_.type) / 8;
    }
    void close_stream() override { ++closes_; }
    bool is_streaming() override { return streaming_; }
    std::error_code start_streaming() override
    {
        streaming_ = true;
        return {};
    }
    // Like a real camera: once this returns, no delivery is running or will start.
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
                if (!lent_[i])
                {
                    ++bad_returns_;
                }
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
    korsa_cam::framerate_data get_available_fps(img::img_type /*type*/) override { return {30.0}; }
    std::error_code write_register(uint32_t /*address*/,
                                   std::span<const std::byte> /*data*/) override
    {
        return std::make_error_code(std::errc::address_not_available);
    }
    std::error_code read_register(uint32_t /*address*/, std::span<std::byte>& /*data*/) override
    {
        return std::make_error_code(std::errc::address_not_available);
    }
    std::vector<korsa_cam::property_desc> get_property_list() override
    {
        return {{"Gain", korsa_cam::property_type::real, "Exposure", "Gain", {}, 0}};
    }
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view name) override
    {
        if (name != "Gain")
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return korsa_cam::property_range{};
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view name) override
    {
        if (name != "Gain")
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return gain_;
    }
    std::error_code set_property(std::string_view name, korsa_cam::prop_values value) override
    {
        if (name != "Gain")
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        gain_ = value;
        return {};
    }
    korsa_cam::device_info get_device_info() override { return {serial, "Fake camera", "fake"}; }
    bool test_reachable() override
    {
        ++reachable_calls;
        if (on_reachability_test)
        {
            on_reachability_test();
        }
        return reachable;
    }

    // Observations, safe to read while frames flow.
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
    int lent_count() const
    {
        std::lock_guard lock(state_mutex_);
        int n = 0;
        for (bool b : lent_)
        {
            n += b ? 1 : 0;
        }
        return n;
    }
    long delivered() const
    {
        std::lock_guard lock(state_mutex_);
        return delivered_;
    }
    long returned() const
    {
        std::lock_guard lock(state_mutex_);
        return static_cast<long>(returned_ids_.size());
    }
    int bad_returns() const
    {
        std::lock_guard lock(state_mutex_);
        return bad_returns_;
    }
    int setup_buffer_count() const
    {
        std::lock_guard lock(state_mutex_);
        return setup_buffer_count_;
    }
    void forget_history()
    {
        std::lock_guard lock(state_mutex_);
        returned_ids_.clear();
        delivered_ids_.clear();
    }

    std::string serial = "FAKE01";
    std::atomic<bool> reachable{true};
    std::atomic<int> reachable_calls{0};
    std::function<void()> on_reachability_test;
    std::atomic<int> closes_{0};

private:
    const img::img_type type_;
    std::atomic<bool> streaming_{false};
    std::mutex delivery_mutex_;
    mutable std::mutex state_mutex_;
    std::vector<std::vector<std::byte>> storage_;
    std::vector<bool> lent_;
    korsa_cam::frame_callback callback_;
    img::img_type setup_type_{};
    int setup_buffer_count_ = 0;
    int setups_ = 0;
    long delivered_ = 0;
    int bad_returns_ = 0;
    std::vector<korsa_cam::buffer_id_type> delivered_ids_;
    std::vector<korsa_cam::buffer_id_type> returned_ids_;
    korsa_cam::prop_values gain_;
};

} // namespace device_test
