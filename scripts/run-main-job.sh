#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and shows the element GStreamer loads.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
mkdir -p build
bash scripts/build.sh "$root/build/plain"

export GST_PLUGIN_PATH="$root/build/plain/plugins"
export GST_REGISTRY="$root/build/plain/registry.bin"
gst-inspect-1.0 velakorsasrc
