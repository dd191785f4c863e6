#!/usr/bin/env bash
# gst-inspect-1.0 shows the element as built, with no GLib warnings or criticals, and the
# register-debug properties only with the debug switch.
# Environment: PLUGIN_DIR (built plug-ins), WORK_DIR (scratch), KORSA_PRELOAD (sanitizer runtimes).
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"

out="$WORK_DIR/inspect.out"
err="$WORK_DIR/inspect.err"

run_inspect() {
    gst_tool gst-inspect-1.0 velakorsasrc >"$out" 2>"$err"
}

VELA_ENABLE_DEBUG_PROPERTIES= VELA_SHOW_OVERLAY= run_inspect
expect_in "$out" "Long-name                Korsa Cam Video Source"
expect_in "$out" "Klass                    Source/Video"
expect_in "$out" "Description              Korsa Cam based source"
expect_in "$out" "Version                  1.2.0"
expect_in "$out" "Source module            velakorsa"
expect_in "$out" "SRC template: 'src'"
expect_in "$out" "Implemented Interfaces:"
expect_in "$out" "VelaProp"
expect_in "$out" "serial              : Serial of the camera"
expect_in "$out" "max-queued-gst-buffers: To prevent hardware buffer underruns"
expect_in "$out" "Integer. Range: 0 - 256 Default: 2"
expect_in "$out" "show-overlay        : Enable/Disable frameinfo overlay."
expect_in "$out" "drop-incomplete-buffer: Drop all buffers that are incomplete."
expect_in "$out" "type                : VelaProp::get_vela_device_info based device connection type"
expect_not_in "$out" "sensor-debug-addr"
expect_not_in "$err" "CRITICAL"
expect_not_in "$err" "WARNING"

VELA_ENABLE_DEBUG_PROPERTIES=1 run_inspect
expect_in "$out" "sensor-debug-addr   : Sensor Register Address for read/write operation"
expect_in "$out" "sensor-debug-value  : Sensor Register Value"
expect_not_in "$err" "CRITICAL"

VELA_SHOW_OVERLAY=1 run_inspect
expect_in "$out" "Boolean. Default: true" # show-overlay takes its default from the switch
echo "inspect test: 1 passed, 0 failed"
