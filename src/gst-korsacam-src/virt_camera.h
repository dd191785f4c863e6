#pragma once

// A camera without hardware: synthesises frames at the configured rate on a thread of its
// own, so that the element and a whole pipeline can run on any machine.

#include "camera_itf.h"
#include "virt_cam_clock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace gst_korsa {

class virt_cam final : public korsa_cam::camera_itf
{
public:
    explicit virt_cam(std::unique_ptr<virt_cam_clock> clock);
    ~virt_cam() override;

    virt_cam(const virt_cam&) = delete;
    virt_cam& operator=(const virt_cam&) = delete;

    korsa_cam::result<int> setup_stream(img::img_type type, double fps,
                                        korsa_cam::frame_callback callback,
                                        int buffer_count) override;
    void close_stream() override;
    bool is_streaming() override { return streaming_.load(); }
    std::error_code start_streaming() override;
    void stop_streaming() override;
    void reenqueue_buffer(korsa_cam::buffer_id_type id) override;

    std::vector<korsa_cam::stream_type_desc> get_available_stream_types() override;
    korsa_cam::framerate_data get_available_fps(img::img_type type) override;

    std::error_code write_register(uint32_t address, std::span<const std::byte> data) override;
    std::error_code read_register(uint32_t address, std::span<std::byte>& data) override;

    std::vector<korsa_cam::property_desc> get_property_list() override;
    korsa_cam::result<korsa_cam::property_range> get_property_range(std::string_view name) override;
    korsa_cam::result<korsa_cam::prop_values> get_property(std::string_view name) override;
    std::error_code set_property(std::string_view name, korsa_cam::prop_values value) override;

    korsa_cam::device_info get_device_info() override;
    bool test_reachable() override { return true; }

    // Buffers currently allocated, lent ones of closed streams included.
    std::size_t allocated_buffers();

private:
    struct frame_buffer
    {
        std::vector<std::byte> bytes;
        bool lent = false;    // handed to the callback and not yet given back
        bool retired = false; // its stream was closed or replaced: freed when it comes back
    };

    void generator_func();
    void produce(frame_buffer& buffer, uint64_t slot, uint64_t delivered);
    void fill_pattern(std::byte* data, uint64_t delivered) const;
    void draw_status(std::byte* data) const;
    // Frees every buffer that is not lent and retires the lent ones. Mutex held.
    void drop_buffers_locked();

    std::atomic<bool> streaming_{false};
    // Guards the streaming flag's changes, the free list, the storage and awaiting_buffer_.
    // The generator releases it while it fills a buffer and delivers it, and whenever it
    // waits, so the callback never runs under it.
    std::mutex mtx_;
    // The generator waits for a buffer to come back (no period to wait for at rates above
    // 1000 per second): a returned buffer wakes it.
    bool awaiting_buffer_ = false;
    std::unique_ptr<virt_cam_clock> clock_;
    std::vector<frame_buffer*> free_list_; // used as a stack
    std::vector<std::unique_ptr<frame_buffer>> storage_;
    korsa_cam::frame_callback callback_;
    std::thread generator_;

    // Set only while the generator is stopped.
    img::img_type type_{};
    int pitch_ = 0;
    double fps_ = 30.0;

    // Written by property calls while frames are generated; only the status text reads them.
    std::atomic<bool> stripes_{false};
    std::atomic<double> exposure_{10.0};
    std::atomic<double> gain_{0.0};
};

// The generator's frame period: 1000 / fps milliseconds, truncated (30 fps: 33 ms; above
// 1000 fps: 0). A rate of zero, below zero or not a number gives the longest period.
int64_t virt_cam_period_ms(double fps) noexcept;
inline constexpr int64_t virt_cam_max_period_ms = 3'600'000;

std::shared_ptr<korsa_cam::camera_itf> create_virt_cam();
std::shared_ptr<korsa_cam::camera_itf> create_virt_cam(std::unique_ptr<virt_cam_clock> clock);

} // namespace gst_korsa
