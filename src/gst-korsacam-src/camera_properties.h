#pragma once

// The element's "camera-properties": camera properties written as one GstStructure string,
// so they can be set from a launch line or any GObject binding without the property
// interface, and read back as the camera's current state.
//
//   velakorsasrc camera-properties="props,ExposureTime=10000.0,Gain=6.0,TriggerMode=On"
//
// The structure's name is free; its fields are applied in the order written (a structure
// holds each name once: a repeated name keeps its first place and takes its last value). Each value
// is converted to the property's kind the way a user means it: reals take any number, integers
// whole numbers, booleans true/false (or 1/0), menus an entry text or an index, buttons
// "true" (a press). Every write goes through the same path as the property interface's
// setter. An entry that cannot be applied is reported and skipped; the others still apply.

#include "device_state_impl.h"

#include <string>
#include <vector>

namespace gst_korsa {

// One entry that was not applied: the property's name (empty when the whole text did not
// parse) and why, in words for a warning message.
struct camera_property_problem
{
    std::string name;
    std::string reason;
};

// What the element keeps of its "camera-properties", under the element mutex: the text as
// last set, and the problems not yet posted as warnings (posted once the mutex is released
// and the element has a bus to post on).
struct camera_property_settings
{
    std::string text;
    std::vector<camera_property_problem> pending;
    // The camera's state changed (opened, or entries applied): "camera-properties" is to be
    // notified, so watchers such as gst-launch-1.0 -v see the new state.
    bool notify_pending = false;
};

// Parses text and applies its entries in order to the open camera of ds. An empty text does
// nothing. Returns the entries that were not applied.
std::vector<camera_property_problem> apply_camera_properties(device_state& ds,
                                                             const std::string& text);

// Checks that text parses, without a camera; the problem when it does not.
std::vector<camera_property_problem> check_camera_properties(const std::string& text);

// The current value of every property a user sees (buttons, which have no value, left out),
// as a structure string named "props" that apply_camera_properties takes back unchanged.
std::string describe_camera_properties(device_state& ds);

} // namespace gst_korsa
