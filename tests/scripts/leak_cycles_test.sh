#!/usr/bin/env bash
# One hardware pipeline on the simulated board cycled NULL -> PLAYING -> NULL in one process
# under GStreamer's leaks tracer: no object may be left alive. A run that keeps one buffer on
# purpose must be caught, so the report is known to be read right.
# Environment: PLUGIN_DIR, WORK_DIR, BUILD_DIR, KORSA_PRELOAD; KORSA_LEAK_CYCLES (default 60).
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
export KORSA_SIM_BOARD="$(cd "$(dirname "$0")/../../sim/board/boards" && pwd)/imx290-direct.board"
program="$BUILD_DIR/tests/element/pipeline_cycles"
cycles="${KORSA_LEAK_CYCLES:-60}"
out="$WORK_DIR/cycles.out"

# Objects the tracer found alive at shutdown, one line each (its format line has "%s").
alive() {
    sed 's/\x1b\[[0-9;]*m//g' "$1" | grep -a -E 'object-alive, type-name=\(string\)[A-Za-z]' || true
}

GST_TRACERS=leaks GST_DEBUG=GST_TRACER:7 gst_tool "$program" "$cycles" >"$out" 2>&1 || {
    echo "FAIL: the cycles did not all stream:" >&2
    grep -a -v GST_TRACER "$out" >&2
    exit 1
}
grep -a "pipeline_cycles:" "$out"
if [ -n "$(alive "$out")" ] || grep -a -q "Leaks detected" "$out"; then
    echo "FAIL: objects left alive after $cycles cycles:" >&2
    alive "$out" >&2
    exit 1
fi

GST_TRACERS=leaks GST_DEBUG=GST_TRACER:7 gst_tool "$program" 2 --keep-one-buffer \
    >"$WORK_DIR/kept.out" 2>&1
alive "$WORK_DIR/kept.out" >"$WORK_DIR/kept.alive"
expect_in "$WORK_DIR/kept.alive" "type-name=(string)GstBuffer"
echo "leak cycles test: 1 passed, 0 failed"
