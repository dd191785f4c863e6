#!/usr/bin/env bash
# The camera library (src/rawcam_lib) and the capture library (src/mmal_lib) need neither
# GStreamer nor GLib: no source of theirs is compiled with a GStreamer or GLib include
# directory, and the test programs of those libraries load neither at run time.
# Environment: BUILD_DIR (the build tree, with compile_commands.json).
set -euo pipefail
: "${BUILD_DIR:?}"
db="$BUILD_DIR/compile_commands.json"
test -f "$db" || { echo "FAIL: no $db" >&2; exit 1; }

python3 - "$db" <<'PY'
import json, sys
entries = json.load(open(sys.argv[1]))
lib_sources = [e for e in entries
               if "/src/rawcam_lib/" in e["file"] or "/src/mmal_lib/" in e["file"]]
if not lib_sources:
    sys.exit("FAIL: no camera or capture library source in the compile database")
bad = [e["file"] for e in lib_sources
       if "gstreamer-1.0" in e["command"] or "glib-2.0" in e["command"]]
if bad:
    sys.exit("FAIL: compiled with GStreamer/GLib include directories:\n  " + "\n  ".join(bad))
print(f"{len(lib_sources)} library sources compile without GStreamer and GLib")
PY

for prog in tests/unit/unit_tests tests/property/property_tests tests/mmal/mmal_tests; do
    exe="$BUILD_DIR/$prog"
    test -x "$exe" || continue
    if ldd "$exe" | grep -E 'libgst|libglib|libgobject'; then
        echo "FAIL: $prog loads GStreamer or GLib" >&2
        exit 1
    fi
done
echo "library test programs load neither GStreamer nor GLib"
