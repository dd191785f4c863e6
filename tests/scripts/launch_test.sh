#!/usr/bin/env bash
# gst-launch-1.0 streams the virtual camera through a real pipeline and ends cleanly.
# Environment: PLUGIN_DIR, WORK_DIR, KORSA_PRELOAD.
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
out="$WORK_DIR/launch.out"

gst_tool gst-launch-1.0 -q velakorsasrc serial=virt num-buffers=30 ! fakesink >"$out" 2>&1
expect_not_in "$out" "CRITICAL"
expect_not_in "$out" "ERROR"

# A caps filter chooses the size; the overlay can be switched on from the launch line.
gst_tool gst-launch-1.0 -v velakorsasrc serial=virt show-overlay=true num-buffers=5 \
    ! video/x-bayer,width=640,height=480 ! fakesink >"$out" 2>&1
expect_in "$out" "width=(int)640, height=(int)480"
expect_in "$out" "format=(string)bggr12m"
expect_in "$out" "Got EOS from element"

# A camera that cannot be opened fails the pipeline with the element's error text.
if gst_tool gst-launch-1.0 velakorsasrc serial=no-such-camera ! fakesink >"$out" 2>&1; then
    echo "FAIL: a missing camera must fail the pipeline" >&2
    exit 1
fi
expect_in "$out" "Failed to open camera"
echo "launch test: 1 passed, 0 failed"
