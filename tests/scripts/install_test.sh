#!/usr/bin/env bash
# cmake --install puts the plug-in where GStreamer looks below the prefix, and the VelaProp
# library with its header and pkg-config file next to it; the installed plug-in loads.
# Environment: BUILD_DIR, WORK_DIR, KORSA_PRELOAD.
set -euo pipefail
: "${BUILD_DIR:?}" "${WORK_DIR:?}"
prefix="$WORK_DIR/prefix"
rm -rf "$prefix"
cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null

libdir=$(cd "$prefix" && ls -d lib*/ | head -n1)
libdir="${libdir%/}"
plugin=$(find "$prefix" -name libgstvelakorsasrc.so -path '*/gstreamer-1.0/*')
test -n "$plugin" || { echo "FAIL: no plug-in installed"; exit 1; }
test -f "$prefix/include/velaprop/vela_prop.h" || { echo "FAIL: no header"; exit 1; }
pc=$(find "$prefix" -name velaprop.pc)
test -n "$pc" || { echo "FAIL: no pkg-config file"; exit 1; }
ls "$prefix/$libdir"/libvelaprop.so* >/dev/null

# The pkg-config file leads an application to the installed header and library.
cflags=$(PKG_CONFIG_PATH="$(dirname "$pc")" pkg-config --cflags velaprop)
libs=$(PKG_CONFIG_PATH="$(dirname "$pc")" pkg-config --libs velaprop)
incdir=$(printf '%s\n' $cflags | sed -n 's/^-I\(.*velaprop\)$/\1/p' | head -n1)
test -f "$incdir/vela_prop.h" || { echo "FAIL: cflags $cflags do not lead to the header"; exit 1; }
case "$libs" in *"-lvelaprop"*) ;; *) echo "FAIL: libs $libs"; exit 1;; esac

# Introspection data, where the build made it: the .gir below share/, the typelib below lib.
if [ -f "$BUILD_DIR/vela-prop/VelaProp-1.0.typelib" ]; then
    test -f "$prefix/share/gir-1.0/VelaProp-1.0.gir" || { echo "FAIL: no .gir installed"; exit 1; }
    test -f "$prefix/$libdir/girepository-1.0/VelaProp-1.0.typelib" ||
        { echo "FAIL: no typelib installed"; exit 1; }
fi

PLUGIN_DIR="$(dirname "$plugin")"
source "$(dirname "$0")/gst_env.sh"
gst_tool gst-inspect-1.0 velakorsasrc >"$WORK_DIR/inspect.out" 2>&1
expect_in "$WORK_DIR/inspect.out" "Korsa Cam Video Source"
echo "install test: 1 passed, 0 failed"
