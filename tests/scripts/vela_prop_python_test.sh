#!/usr/bin/env bash
# The Python example, through the introspection data built with the library, sees what the
# C example sees: the same properties, types, values, ranges and device information, the
# same answers to bad names and values, and the same failure without a camera.
# Environment: PLUGIN_DIR, WORK_DIR, BUILD_DIR, KORSA_PRELOAD, SOURCE_DIR.
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
: "${SOURCE_DIR:?}"

# Debian's interpreter carries PyGObject; a python3 earlier on PATH may not.
python=""
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
    if [ -n "$candidate" ] && "$candidate" -c "import gi" 2>/dev/null; then
        python="$candidate"
        break
    fi
done
if [ -z "$python" ]; then
    echo "FAIL: no python3 with PyGObject (install python3-gi)" >&2
    exit 1
fi

export GI_TYPELIB_PATH="$BUILD_DIR/vela-prop${GI_TYPELIB_PATH:+:$GI_TYPELIB_PATH}"
export LD_LIBRARY_PATH="$BUILD_DIR/vela-prop${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
c_example="$BUILD_DIR/examples/vela-prop-list"
py_example="$SOURCE_DIR/examples/vela_prop_list.py"

run_both() {
    local name="$1"
    shift
    set +e
    gst_tool "$c_example" "$@" >"$WORK_DIR/$name.c.out" 2>&1
    local c_rc=$?
    gst_tool "$python" "$py_example" "$@" >"$WORK_DIR/$name.py.out" 2>&1
    local py_rc=$?
    set -e
    if [ "$c_rc" != "$py_rc" ]; then
        echo "FAIL: $name: C example exits $c_rc, Python example $py_rc" >&2
        cat "$WORK_DIR/$name.py.out" >&2
        exit 1
    fi
    if ! diff -u "$WORK_DIR/$name.c.out" "$WORK_DIR/$name.py.out" >&2; then
        echo "FAIL: $name: the two examples disagree" >&2
        exit 1
    fi
}

VELA_ENABLE_DEBUG_PROPERTIES= run_both set_gain virt Gain 2.5
expect_in "$WORK_DIR/set_gain.py.out" "set Gain = 2.5: ok"
expect_in "$WORK_DIR/set_gain.py.out" "3 properties"
expect_in "$WORK_DIR/set_gain.py.out" "Gain                 type=double   value=2.500000"
expect_in "$WORK_DIR/set_gain.py.out" 'device virt: name="Virtual camera device"'

VELA_ENABLE_DEBUG_PROPERTIES=1 run_both debug_switch virt ShowOverlay true
expect_in "$WORK_DIR/debug_switch.py.out" "ShowOverlay          type=boolean  value=TRUE"

run_both set_boolean virt Stripes true
expect_in "$WORK_DIR/set_boolean.py.out" "Stripes              type=boolean  value=TRUE"

run_both bad_value virt ExposureTime fast
expect_in "$WORK_DIR/bad_value.py.out" "set ExposureTime = fast: FAILED"
run_both bad_name virt gain 1
expect_in "$WORK_DIR/bad_name.py.out" "no property 'gain'"
run_both no_camera no-such-camera
expect_in "$WORK_DIR/no_camera.py.out" "0 properties"
expect_not_in "$WORK_DIR/no_camera.py.out" "Traceback"
echo "vela-prop python test: 6 passed, 0 failed"
