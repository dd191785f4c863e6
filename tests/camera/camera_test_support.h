#pragma once

// Helpers of the camera object tests: a sensor double that produces receiver settings for
// whatever format it is asked for and notes the order of the calls it gets, and a consumer
// that keeps the frames the camera lends until the test gives them back.

#include "camera_obj.h"
#include "mmal_test_support.h"
#include "null_sensor.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace camera_test {

class streaming_sensor : public test_support::null_sensor
{
public:
    korsa_cam::result<mmal::pi::csi_settings> setup_format(img::img_type type, double fps) override
    {
        note("setup_format");
        if (setup_error)
        {
            return setup_error;
        }
        mmal::pi::csi_settings s;
        s.width = receiver_width != 0 ? receiver_width : type.dim.cx;
        s.height = static_cast<uint32_t>(type.dim.cy);
        s.bayer = mmal::bayer_order::bggr;
        s.bit_depth = static_cast<uint32_t>(img::get_bits_per_pixel(type.type));
        s.fps = fps;
        return s;
    }
    std::error_code start_stream() override
    {
        note(camera != nullptr && camera->is_streaming() ? "start_stream(receiver on)"
                                                         : "start_stream");
        return start_error;
    }
    std::error_code stop_stream() override
    {
        note(camera != nullptr && camera->is_streaming() ? "stop_stream(receiver on)"
                                                         : "stop_stream");
        return stop_error;
    }

    std::vector<std::string> calls()
    {
        std::lock_guard lock(m_);
        return calls_;
    }

    // Receiver line width in pixels when it differs from the format's (0: the same).
    int32_t receiver_width = 0;
    std::error_code setup_error;
    std::error_code start_error;
    std::error_code stop_error;
    korsa_cam::camera_itf* camera = nullptr; // to tell whether the receiver runs

private:
    void note(std::string what)
    {
        std::lock_guard lock(m_);
        calls_.push_back(std::move(what));
    }

    std::mutex m_;
    std::vector<std::string> calls_;
};

// Keeps every lent frame until the test returns it.
struct frame_keeper
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<korsa_cam::buffer_desc> frames; // every frame seen, in order
    std::vector<korsa_cam::buffer_id_type> held;

    korsa_cam::frame_callback callback()
    {
        return [this](korsa_cam::buffer_desc d) {
            std::lock_guard lock(m);
            frames.push_back(d);
            held.push_back(d.buffer_id);
            cv.notify_all();
        };
    }
    void give_all_back(korsa_cam::camera_itf& cam)
    {
        std::vector<korsa_cam::buffer_id_type> out;
        {
            std::lock_guard lock(m);
            out.swap(held);
        }
        for (auto id : out)
        {
            cam.reenqueue_buffer(id);
        }
    }
};

struct made_camera
{
    std::shared_ptr<korsa_cam::impl::camera_obj> camera;
    streaming_sensor* sensor;
};

inline made_camera make_camera(korsa_cam::device_info info = {"12345678", "Test board", ""})
{
    auto sensor = std::make_unique<streaming_sensor>();
    streaming_sensor* raw = sensor.get();
    auto cam = korsa_cam::create_camera(std::move(sensor), std::move(info));
    raw->camera = cam.get();
    return {cam, raw};
}

inline MMAL_PORT_T* receiver_port()
{
    return korsa_vc_sim_rawcam_output();
}

inline int tick()
{
    return korsa_vc_sim_tick(receiver_port());
}

} // namespace camera_test
