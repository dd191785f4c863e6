#pragma once

// Entry to the hardware camera for the GStreamer side.

#include "camera_itf.h"
#include "result.h"

#include <string>

namespace korsa_cam {

// Opens the camera board's camera with this serial (empty: the camera on the board,
// whatever its serial). This build has no hardware camera support yet, so every call fails
// with the generic error "no such device"; no camera is ever pretended.
result<camera_create_info> open_hardware_camera(const std::string& serial);

} // namespace korsa_cam
