#!/usr/bin/env bash
# One camera per machine: while one gst-launch-1.0 streams from the simulated board, a second
# one is refused with the element's "already in use" error; once the first is killed with
# SIGKILL (no clean-up of its own), the camera can be opened again.
# Environment: PLUGIN_DIR, WORK_DIR, BUILD_DIR, KORSA_PRELOAD.
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
export KORSA_SIM_BOARD="$(cd "$(dirname "$0")/../../sim/board/boards" && pwd)/imx290-direct.board"
first_out="$WORK_DIR/first.out"
out="$WORK_DIR/second.out"

# exec: $! is then the pipeline's own process, the one to kill.
gst_tool exec gst-launch-1.0 velakorsasrc ! fakesink >"$first_out" 2>&1 &
first=$!
trap 'kill -9 $first 2>/dev/null || true' EXIT

# The first process holds the lock once it has opened the camera, which is before it says it
# is playing. Polled, not slept on: the loop ends as soon as the line is there.
for _ in $(seq 1 600); do
    if grep -q -F "Setting pipeline to PLAYING" "$first_out"; then
        break
    fi
    if ! kill -0 "$first" 2>/dev/null; then
        echo "FAIL: the first pipeline ended early:" >&2
        cat "$first_out" >&2
        exit 1
    fi
    sleep 0.05
done
expect_in "$first_out" "Setting pipeline to PLAYING"

if gst_tool gst-launch-1.0 velakorsasrc num-buffers=1 ! fakesink >"$out" 2>&1; then
    echo "FAIL: a second process must not open the camera" >&2
    cat "$out" >&2
    exit 1
fi
expect_in "$out" "Failed to open camera, because it is already in use."

# The kernel drops a dead process's lock, however it died.
kill -9 "$first"
wait "$first" 2>/dev/null || true
trap - EXIT
gst_tool gst-launch-1.0 velakorsasrc num-buffers=5 ! fakesink >"$out" 2>&1
expect_in "$out" "Got EOS from element"
expect_not_in "$out" "ERROR"
echo "hardware exclusive test: 1 passed, 0 failed"
