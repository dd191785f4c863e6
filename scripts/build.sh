#!/usr/bin/env bash
# Configures and builds one build tree: build.sh <build-dir> [extra cmake arguments...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"
mkdir -p "$(dirname "$dir")"
shift
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j"$(nproc)" 2>&1 | grep -v -E '^\[ *[0-9]+%\]|^-- |Consolidate compiler' || true
test "${PIPESTATUS[0]}" -eq 0
