#pragma once

// A camera with one property of every kind (and a few faulty ones) for testing the element's
// property interface without hardware.

#include "camera_itf.h"
#include "null_camera.h"
#include "standard_properties.h"

#include <map>
#include <string>

namespace test_support {

class property_camera final : public null_camera
{
public:
    property_camera()
    {
        level_desc_ = {"Level", korsa_cam::property_type::integer, "", "", {}, 0};
        ratio_desc_ = {"Ratio", korsa_cam::property_type::real, "Exposure", "Ratio", {}, 0};
        flag_desc_ = {"Flag", korsa_cam::property_type::boolean, "Image", "", {}, 0};
        reset_desc_ = {"Reset", korsa_cam::property_type::button, "Special", "Reset", {}, 0};
        broken_desc_ = {"Broken", korsa_cam::property_type::menu, "Special", "Broken", {"A", "B"},
                        0};
        hidden_desc_ = {"Hidden", korsa_cam::property_type::integer, "Special", "", {}, 1};
        values_["Level"] = korsa_cam::prop_values::from_int(-7);
        values_["Ratio"] = korsa_cam::prop_values::from_double(0.25);
        values_["Flag"] = korsa_cam::prop_values::from_bool(true);
        values_["TriggerMode"] = korsa_cam::prop_values::from_int(0);
        values_["Broken"] = korsa_cam::prop_values::from_int(7); // outside its two entries
        values_["Hidden"] = korsa_cam::prop_values::from_int(1);
    }

    int reset_presses = 0;
    bool offer_no_stream_types = false;
    korsa_cam::framerate_data fps_list{30.0};
    double setup_fps = 0.0; // what the last stream setup asked for
    bool streaming = false;

    korsa_cam::result<int> setup_stream(img::img_type type, double fps, korsa_cam::frame_callback,
                                        int) override
    {
        setup_fps = fps;
        return type.dim.cx;
    }
    bool is_streaming() override { return streaming; }
    std::error_code start_streaming() override
    {
        streaming = true;
        return {};
    }
    void stop_streaming() override { streaming = false; }
    std::vector<korsa_cam::stream_type_desc> get_available_stream_types() override
    {
        if (offer_no_stream_types)
        {
            return {};
        }
        return {{img::fcc::RGGB, {64, 64}, {64, 64}, {1, 1}}};
    }
    korsa_cam::framerate_data get_available_fps(img::img_type) override { return fps_list; }
    std::vector<korsa_cam::property_desc> get_property_list() override
    {
        return {korsa_cam::standard_properties::trigger_mode(),
                level_desc_,
                ratio_desc_,
                flag_desc_,
                reset_desc_,
                broken_desc_,
                hidden_desc_};
    }
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view name) override
    {
        korsa_cam::property_range r;
        if (name == "TriggerMode" || name == "Broken")
        {
            r.max = korsa_cam::prop_values::from_int(1);
            r.step = korsa_cam::prop_values::from_int(1);
        }
        else if (name == "Level" || name == "Hidden")
        {
            r.flags = 4;
            r.min = korsa_cam::prop_values::from_int(-100);
            r.max = korsa_cam::prop_values::from_int(100);
            r.default_value = korsa_cam::prop_values::from_int(3);
            r.step = korsa_cam::prop_values::from_int(2);
        }
        else if (name == "Ratio")
        {
            r.min = korsa_cam::prop_values::from_double(0.0);
            r.max = korsa_cam::prop_values::from_double(1.0);
            r.default_value = korsa_cam::prop_values::from_double(0.5);
            r.step = korsa_cam::prop_values::from_double(0.125);
        }
        else if (name == "Flag")
        {
            r.max = korsa_cam::prop_values::from_bool(true);
        }
        else if (name != "Reset")
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return r;
    }
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view name) override
    {
        if (name == "Reset")
        {
            return korsa_cam::prop_values{};
        }
        auto it = values_.find(std::string(name));
        if (it == values_.end())
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return it->second;
    }
    std::error_code set_property(std::string_view name, korsa_cam::prop_values value) override
    {
        if (name == "Reset")
        {
            ++reset_presses;
            return {};
        }
        auto it = values_.find(std::string(name));
        if (it == values_.end())
        {
            return std::make_error_code(std::errc::invalid_argument);
        }
        if (name == "Level" && (value.as_int() < -100 || value.as_int() > 100))
        {
            return korsa_cam::make_error_code(korsa_cam::status::invalid_property_value);
        }
        it->second = value;
        return {};
    }
    korsa_cam::prop_values stored(const std::string& name) { return values_[name]; }
    korsa_cam::device_info get_device_info() override
    {
        return {"FAKE01", "Property test camera", "fake"};
    }
    bool test_reachable() override { return true; }

private:
    korsa_cam::property_desc level_desc_, ratio_desc_, flag_desc_, reset_desc_, broken_desc_,
        hidden_desc_;
    std::map<std::string, korsa_cam::prop_values> values_;
};

} // namespace test_support

#include <mutex>
#include <set>

namespace test_support {

// Passes everything to another camera and remembers the memory of every frame it delivered,
// so a test can tell whether what came out of the element is that very memory.
class recording_camera final : public forwarding_camera
{
public:
    explicit recording_camera(std::shared_ptr<korsa_cam::camera_itf> inner)
        : forwarding_camera(std::move(inner))
    {}

    bool delivered(const void* data)
    {
        std::lock_guard lock(mtx_);
        return seen_.count(data) != 0;
    }

    korsa_cam::result<int> setup_stream(img::img_type type, double fps,
                                        korsa_cam::frame_callback callback, int count) override
    {
        return forwarding_camera::setup_stream(
            type, fps,
            [this, callback](korsa_cam::buffer_desc desc) {
                {
                    std::lock_guard lock(mtx_);
                    seen_.insert(desc.image.data);
                }
                callback(desc);
            },
            count);
    }

private:
    std::mutex mtx_;
    std::set<const void*> seen_;
};

} // namespace test_support
