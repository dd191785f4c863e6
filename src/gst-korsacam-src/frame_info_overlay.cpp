#include "frame_info_overlay.h"

#include "overlay.h"

#include <fmt/format.h>

#include <algorithm>

namespace gst_korsa {
namespace {

constexpr std::size_t max_line = 200;
constexpr img::pixel_type::R8G8B8A8 red{255, 0, 0, 255};
constexpr img::pixel_type::R8G8B8A8 white{255, 255, 255, 255};

} // namespace

void draw_frame_info(const img::img_descriptor& image, const korsa_cam::frame_info& info,
                     const frame_drop_info& drops, double measured_fps)
{
    const int32_t steps = image.type.dim.cx / 1024;
    const int scale = steps + 1;
    char line[max_line];

    auto r1 = fmt::format_to_n(line, max_line, "frm: [{:5}] id={:5} cam_time={:12} drop?={}",
                               info.frame_number, info.frame_id, info.cam_time,
                               info.is_incomplete ? 1 : 0);
    img_lib::overlay::render_text(image, {10, 10}, scale, line,
                                  static_cast<unsigned>(std::min(r1.size, max_line)), red, white);

    auto r2 = fmt::format_to_n(line, max_line, "flt: drop=(pck={},qks={},qum={}) fps={:.2f}",
                               drops.pck_drops, drops.qks_drops, drops.qum_drops, measured_fps);
    img_lib::overlay::render_text(image, {10, steps * 10 + 20}, scale, line,
                                  static_cast<unsigned>(std::min(r2.size, max_line)), red, white);
}

} // namespace gst_korsa
