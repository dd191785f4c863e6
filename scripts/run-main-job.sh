#!/usr/bin/env bash
# Installs what is missing, builds the plug-in, streams the virtual camera with the frame
# information overlay through a real GStreamer pipeline, and leaves PNG pictures of the last
# frame in out/ for a person to look at.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
mkdir -p build
bash scripts/build.sh "$root/build/plain"

export GST_PLUGIN_PATH="$root/build/plain/plugins"
export GST_REGISTRY="$root/build/plain/registry.bin"
out="$root/out"
rm -rf "$out"
mkdir -p "$out"

# Four seconds at 60 frames per second, so the overlay's measured frame rate (taken over three
# seconds) is filled in; only the last frames are kept on disk.
frames=240
echo "== Streaming $frames frames from the virtual camera (1920x1080 bggr12m, 60 fps, overlay on) =="
gst-launch-1.0 -v velakorsasrc serial=virt show-overlay=true num-buffers=$frames \
    ! video/x-bayer,width=1920,height=1080 \
    ! multifilesink location="$out/frame-%03d.raw" max-files=3 2>&1 | tee "$out/pipeline.log" |
    grep -E "caps = video/x-bayer|Execution ended|EOS" | sort -u

# The last raw frame becomes a colour PNG through stock elements: the plug-in's unpacker turns
# the packed 12-bit Bayer into 8-bit Bayer, bayer2rgb demosaics it, pngenc encodes it.
last=$(printf '%s/frame-%03d.raw' "$out" $((frames - 1)))
echo "== $(basename "$last") -> last-frame.png (velakorsaunpack ! bayer2rgb ! videoconvert ! pngenc) =="
gst-launch-1.0 -q filesrc location="$last" blocksize=3110400 \
    ! video/x-bayer,format=bggr12m,width=1920,height=1080,framerate=60/1 \
    ! velakorsaunpack ! bayer2rgb ! videoconvert ! pngenc ! filesink location="$out/last-frame.png"

echo "== Stripes pattern, set through the camera's property interface =="
"$root/build/plain/examples/vela-prop-list" virt Stripes true | head -n 8

echo
echo "Kept the last $(ls "$out"/frame-*.raw | wc -l) raw frames and wrote $out/last-frame.png"
echo "(look at the PNG: a flat light-grey level, the frame number's low 8 bits, with the two"
echo "frame-information lines at the top left and the camera's own status line below them)."
