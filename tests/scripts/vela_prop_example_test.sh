#!/usr/bin/env bash
# The VelaProp example program, run as an application would: lists the virtual camera's
# properties, sets one, and fails cleanly on bad names and missing cameras.
# Environment: PLUGIN_DIR, WORK_DIR, BUILD_DIR, KORSA_PRELOAD.
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
example="$BUILD_DIR/examples/vela-prop-list"
out="$WORK_DIR/example.out"

VELA_ENABLE_DEBUG_PROPERTIES= gst_tool "$example" virt Gain 2.5 >"$out" 2>&1
expect_in "$out" "set Gain = 2.5: ok"
expect_in "$out" 'device virt: name="Virtual camera device" identifier="virt" connection=korsa'
expect_in "$out" "3 properties"
expect_in "$out" "Gain                 type=double   value=2.500000"
expect_in "$out" "min=0.000000 max=10.000000 default=0.000000 step=1.000000 flags=0 category=Exposure group=Gain"
expect_in "$out" "Stripes              type=boolean  value=FALSE"
expect_not_in "$out" "ShowOverlay"
expect_not_in "$out" "CRITICAL"

# The debug switch lists the overlay switch as a property too.
VELA_ENABLE_DEBUG_PROPERTIES=1 gst_tool "$example" virt ShowOverlay true >"$out" 2>&1
expect_in "$out" "set ShowOverlay = true: ok"
expect_in "$out" "4 properties"
expect_in "$out" "ShowOverlay          type=boolean  value=TRUE"

# A name the camera does not have, and a value that does not parse, fail.
if gst_tool "$example" virt gain 1 >"$out" 2>&1; then
    echo "FAIL: a lower-case name must not be accepted" >&2
    exit 1
fi
expect_in "$out" "no property 'gain'"
if gst_tool "$example" virt ExposureTime fast >"$out" 2>&1; then
    echo "FAIL: a non-number must not be accepted" >&2
    exit 1
fi
expect_in "$out" "set ExposureTime = fast: FAILED"

# No camera: every call fails, nothing crashes.
if gst_tool "$example" no-such-camera >"$out" 2>&1; then
    echo "FAIL: a missing camera must fail" >&2
    exit 1
fi
expect_in "$out" "0 properties"
echo "vela-prop example test: 1 passed, 0 failed"
