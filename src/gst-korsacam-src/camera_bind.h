#pragma once

// Picks the camera for a serial: "virt" is the virtual test camera, anything else is
// hardware.

#include "camera_itf.h"

#include <string>

namespace gst_korsa {

// The serial that lets the camera library choose its camera: always empty.
std::string get_default_device_id();

// "virt" (exactly, case-sensitive) creates a new, independent virtual camera with the serial
// "virt". Every other serial, the empty one included, goes to the hardware camera path and
// its result, value or error, is returned unchanged.
korsa_cam::result<korsa_cam::camera_create_info> create_camera_object(const std::string& serial);

} // namespace gst_korsa
