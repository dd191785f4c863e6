#pragma once

// Descriptors of the camera controls that all drivers share, so that the same control has the
// same name, type, category, group and menu texts on every camera.
//
// Each function returns one descriptor with static storage duration, created on first use
// (safe from any thread and from other static initialisers); property handlers keep pointers
// to them. The two "TriggerSource" menus share a name: a camera shows the one of its
// connection. Menu values are indexes into the entries (0 = first).

#include "camera_types.h"

#include <span>

namespace korsa_cam::standard_properties {

const property_desc& exposure_time();      // real, "Exposure" / "ExposureTime"
const property_desc& gain();               // real, "Exposure" / "Gain"
const property_desc& black_level();        // real, "Exposure" / "BlackLevel"
const property_desc& offset_x();           // integer, "Partial Scan" / "Partial Scan"
const property_desc& offset_y();           // integer, "Partial Scan" / "Partial Scan"
const property_desc& offset_auto_center(); // boolean, "Partial Scan" / "Partial Scan"
const property_desc& reverse_x();          // boolean, "Image" / "Flip"
const property_desc& reverse_y();          // boolean, "Image" / "Flip"
const property_desc& trigger_mode();       // menu "Off", "On"; "Special" / "Trigger"
// "TriggerSource" behind an FPD-Link connection: "FPD-Link", "PicoBlade".
const property_desc& trigger_source_fpd_link();
// "TriggerSource" on a direct connection: "PicoBlade" only.
const property_desc& trigger_source_direct();
const property_desc& strobe_mode();  // menu "Off", "On"; "Special" / "StrobeMode"
const property_desc& show_overlay(); // boolean debug property, "Special" / "ShowOverlay"

// Every descriptor above, in the order listed.
std::span<const property_desc* const> all();

} // namespace korsa_cam::standard_properties
