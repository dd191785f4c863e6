#pragma once

// The one null camera the tests derive their camera doubles from: every operation answers
// harmlessly (no stream types, no rates, streaming refused with "not supported", register
// access refused with the generic error 99, every property name unknown, an empty identity,
// always reachable), so a double overrides only what its test is about. forwarding_camera
// passes every operation on to another camera, for doubles that change one or two of them.

#include "camera_itf.h"

#include <memory>
#include <span>
#include <system_error>
#include <vector>

namespace test_support {

class null_camera : public korsa_cam::camera_itf
{
public:
    korsa_cam::result<int> setup_stream(img::img_type, double, korsa_cam::frame_callback,
                                        int) override
    {
        return std::make_error_code(std::errc::not_supported);
    }
    void close_stream() override {}
    bool is_streaming() override { return false; }
    std::error_code start_streaming() override
    {
        return std::make_error_code(std::errc::not_supported);
    }
    void stop_streaming() override {}
    void reenqueue_buffer(korsa_cam::buffer_id_type) override {}
    std::vector<korsa_cam::stream_type_desc> get_available_stream_types() override { return {}; }
    korsa_cam::framerate_data get_available_fps(img::img_type) override { return {}; }
    std::error_code write_register(uint32_t, std::span<const std::byte>) override
    {
        return std::make_error_code(std::errc::address_not_available);
    }
    std::error_code read_register(uint32_t, std::span<std::byte>&) override
    {
        return std::make_error_code(std::errc::address_not_available);
    }
    std::vector<korsa_cam::property_desc> get_property_list() override { return {}; }
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view) override
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view) override
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::error_code set_property(std::string_view, korsa_cam::prop_values) override
    {
        return std::make_error_code(std::errc::invalid_argument);
    }
    korsa_cam::device_info get_device_info() override { return {}; }
    bool test_reachable() override { return true; }
};

class forwarding_camera : public korsa_cam::camera_itf
{
public:
    explicit forwarding_camera(std::shared_ptr<korsa_cam::camera_itf> inner)
        : inner_(std::move(inner))
    {}

    korsa_cam::result<int> setup_stream(img::img_type type, double fps,
                                        korsa_cam::frame_callback callback, int count) override
    {
        return inner_->setup_stream(type, fps, std::move(callback), count);
    }
    void close_stream() override { inner_->close_stream(); }
    bool is_streaming() override { return inner_->is_streaming(); }
    std::error_code start_streaming() override { return inner_->start_streaming(); }
    void stop_streaming() override { inner_->stop_streaming(); }
    void reenqueue_buffer(korsa_cam::buffer_id_type id) override { inner_->reenqueue_buffer(id); }
    std::vector<korsa_cam::stream_type_desc> get_available_stream_types() override
    {
        return inner_->get_available_stream_types();
    }
    korsa_cam::framerate_data get_available_fps(img::img_type type) override
    {
        return inner_->get_available_fps(type);
    }
    std::error_code write_register(uint32_t address, std::span<const std::byte> data) override
    {
        return inner_->write_register(address, data);
    }
    std::error_code read_register(uint32_t address, std::span<std::byte>& data) override
    {
        return inner_->read_register(address, data);
    }
    std::vector<korsa_cam::property_desc> get_property_list() override
    {
        return inner_->get_property_list();
    }
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view name) override
    {
        return inner_->get_property_range(name);
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view name) override
    {
        return inner_->get_property(name);
    }
    std::error_code set_property(std::string_view name, korsa_cam::prop_values value) override
    {
        return inner_->set_property(name, value);
    }
    korsa_cam::device_info get_device_info() override { return inner_->get_device_info(); }
    bool test_reachable() override { return inner_->test_reachable(); }

protected:
    korsa_cam::camera_itf& inner() { return *inner_; }

private:
    std::shared_ptr<korsa_cam::camera_itf> inner_;
};

} // namespace test_support
