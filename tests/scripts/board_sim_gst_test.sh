#!/usr/bin/env bash
# GStreamer's tools run unchanged with the simulated board preloaded: gst-inspect-1.0 prints
# the same as without it, and a board file that cannot be read is reported, not fatal.
# Environment: PLUGIN_DIR, WORK_DIR, BUILD_DIR, KORSA_PRELOAD (sanitizer runtimes).
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
: "${BUILD_DIR:?}"

sim_lib="$BUILD_DIR/sim/board/libkorsa_board_sim.so"
boards="$(cd "$(dirname "$0")/../../sim/board/boards" && pwd)"
test -f "$sim_lib"

with_sim() {
    gst_tool "$@"
}

# gst_tool always preloads the simulator; without it, the tool as it is.
LD_PRELOAD="${KORSA_PRELOAD:-}" ASAN_OPTIONS="detect_leaks=0" gst-inspect-1.0 velakorsasrc \
    >"$WORK_DIR/plain.out" 2>&1
KORSA_SIM_BOARD="$boards/imx290-direct.board" with_sim gst-inspect-1.0 velakorsasrc \
    >"$WORK_DIR/sim.out" 2>"$WORK_DIR/sim.err"
diff "$WORK_DIR/plain.out" "$WORK_DIR/sim.out"
expect_not_in "$WORK_DIR/sim.err" "korsa-sim"

# The board is loaded lazily, on the first emulated access; force one with uname.
KORSA_SIM_BOARD="$WORK_DIR/missing.board" with_sim uname -r >"$WORK_DIR/uname.out" \
    2>"$WORK_DIR/uname.err"
expect_in "$WORK_DIR/uname.err" "korsa-sim: cannot read board file $WORK_DIR/missing.board"
KORSA_SIM_BOARD="$boards/imx290-direct-legacy-pi.board" with_sim uname -r >"$WORK_DIR/uname.out"
expect_in "$WORK_DIR/uname.out" "4.19.97-v7+"
echo PASS
