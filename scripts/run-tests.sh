#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: once plainly
# and once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh

status=0
run_suite() {
    local name="$1" dir="$2"
    shift 2
    echo "=== $name build ==="
    mkdir -p "$(dirname "$dir")"
    if ! bash scripts/build.sh "$dir" "$@"; then
        echo "=== $name build FAILED ==="
        status=1
        return
    fi
    echo "=== $name tests ==="
    if ! (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 300); then
        status=1
    fi
}

run_suite plain "$root/build/plain"
run_suite sanitized "$root/build/sanitize" -DKORSA_SANITIZE=ON
exit $status
