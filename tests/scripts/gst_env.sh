# Shared set-up of the script tests: a private registry, the built plug-ins, and the
# sanitizer runtimes preloaded into GStreamer's tools when the build is sanitized.
: "${PLUGIN_DIR:?}" "${WORK_DIR:?}"
mkdir -p "$WORK_DIR"
export GST_PLUGIN_PATH="$PLUGIN_DIR"
export GST_REGISTRY="$WORK_DIR/registry.bin"
export GST_REGISTRY_FORK=no
rm -f "$GST_REGISTRY"

gst_tool() {
    if [ -n "${KORSA_PRELOAD:-}" ]; then
        # GLib and GStreamer keep type data until exit; that is not ours to report.
        LD_PRELOAD="$KORSA_PRELOAD" ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}" "$@"
    else
        "$@"
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
