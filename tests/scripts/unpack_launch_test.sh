#!/usr/bin/env bash
# The README's unpack lines work with gst-launch-1.0: the live chain into bayer2rgb, and a
# raw dump turned into a PNG.
# Environment: PLUGIN_DIR, WORK_DIR, KORSA_PRELOAD.
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
out="$WORK_DIR/unpack.out"

# The live-view chain, ending in fakesink instead of a window.
gst_tool gst-launch-1.0 -v velakorsasrc serial=virt num-buffers=5 ! velakorsaunpack \
    ! bayer2rgb ! videoconvert ! fakesink >"$out" 2>&1
expect_in "$out" "format=(string)bggr, width=(int)1920, height=(int)1080"
expect_in "$out" "Got EOS from element"
expect_not_in "$out" "ERROR"

# A raw dump of one 640x480 frame (460800 bytes) and its PNG.
raw="$WORK_DIR/frame.raw"
png="$WORK_DIR/frame.png"
rm -f "$raw" "$png"
gst_tool gst-launch-1.0 -q velakorsasrc serial=virt num-buffers=1 \
    ! video/x-bayer,width=640,height=480 ! filesink location="$raw" >"$out" 2>&1
test "$(stat -c %s "$raw")" -eq 460800
gst_tool gst-launch-1.0 -q filesrc location="$raw" blocksize=460800 \
    ! video/x-bayer,format=bggr12m,width=640,height=480,framerate=1/1 \
    ! velakorsaunpack ! bayer2rgb ! videoconvert ! pngenc ! filesink location="$png" >"$out" 2>&1
test "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a"

echo "unpack launch test: passed"
