# Shared set-up of the script tests: a private registry, the built plug-ins, and the
# sanitizer runtimes preloaded into GStreamer's tools when the build is sanitized.
: "${PLUGIN_DIR:?}" "${WORK_DIR:?}"
mkdir -p "$WORK_DIR"
export GST_PLUGIN_PATH="$PLUGIN_DIR"
export GST_REGISTRY="$WORK_DIR/registry.bin"
export GST_REGISTRY_FORK=no
rm -f "$GST_REGISTRY"

# Every tool runs on the simulated machine: the board simulator preloaded (it does nothing
# without KORSA_SIM_BOARD) and its /var/lock a folder of this test's own, so that a camera
# opened here never takes, or is refused by, the machine's real lock file.
: "${BUILD_DIR:?}"
KORSA_BOARD_SIM="$BUILD_DIR/sim/board/libkorsa_board_sim.so"
export KORSA_SIM_LOCK_DIR="$WORK_DIR/lock"
mkdir -p "$KORSA_SIM_LOCK_DIR"

gst_tool() {
    local preload="${KORSA_PRELOAD:+$KORSA_PRELOAD:}$KORSA_BOARD_SIM"
    if [ -n "${KORSA_PRELOAD:-}" ]; then
        # GLib and GStreamer keep type data until exit; that is not ours to report.
        LD_PRELOAD="$preload" ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}" "$@"
    else
        LD_PRELOAD="$preload" "$@"
    fi
}

expect_in() {
    if ! grep -q -F -- "$2" "$1"; then
        echo "FAIL: expected '$2' in $1:" >&2
        cat "$1" >&2
        exit 1
    fi
}

expect_not_in() {
    if grep -q -F -- "$2" "$1"; then
        echo "FAIL: did not expect '$2' in $1:" >&2
        cat "$1" >&2
        exit 1
    fi
}
