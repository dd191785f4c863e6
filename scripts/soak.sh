#!/usr/bin/env bash
# Soak run: the hardware camera on the simulated IMX290 board streams at its full rate into a
# consumer that holds each buffer for a random time; afterwards every capture buffer must be
# back with the receiver and memory, descriptors and threads must not have grown.
#
#   scripts/soak.sh [SECONDS] [BUILD_DIR]      (defaults: 30, build/plain)
#
# Another board: KORSA_SIM_BOARD=sim/board/boards/imx296-direct.board scripts/soak.sh 60
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
build="${2:-$root/build/plain}"
program="$build/bench/soak"
if [ ! -x "$program" ]; then
    echo "soak: $program is missing; build first (scripts/build.sh $build)" >&2
    exit 2
fi
# A lock folder of the run's own, so the machine's /var/lock is never touched.
lock_dir="$(mktemp -d)"
trap 'rm -rf "$lock_dir"' EXIT
# The program has the element built in; a plug-in path with the built plug-in on it would
# register the element a second time.
env -u GST_PLUGIN_PATH KORSA_SIM_LOCK_DIR="$lock_dir" \
    KORSA_SIM_BOARD="${KORSA_SIM_BOARD:-$root/sim/board/boards/imx290-direct.board}" \
    LD_PRELOAD="$build/sim/board/libkorsa_board_sim.so" "$program" "$seconds"
