#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: once plainly
# and once under AddressSanitizer + UndefinedBehaviorSanitizer; then the threaded tests a
# third time under ThreadSanitizer (only their targets are built for that pass).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh

status=0
summaries=()
# ctest's own summary line of one pass, kept for the overall count at the end.
remember_summary() {
    local name="$1" log="$2" line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1 || true)
    summaries+=("$name: ${line:-no summary (ctest did not finish)}")
}

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
    if ! (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 300) 2>&1 |
        tee "$dir.ctest.log"; then
        status=1
    fi
    remember_summary "$name" "$dir.ctest.log"
}

# Threaded tests (ctest label "threaded") under ThreadSanitizer.
run_threaded_tsan() {
    local dir="$root/build/tsan"
    echo "=== thread-sanitizer build (threaded tests only) ==="
    mkdir -p "$(dirname "$dir")"
    if ! cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORSA_TSAN=ON \
        -DKORSA_BUILD_BENCHMARKS=OFF >"$dir.configure.log" 2>&1; then
        cat "$dir.configure.log"
        echo "=== thread-sanitizer build FAILED ==="
        status=1
        return
    fi
    if ! cmake --build "$dir" -j"$(nproc)" --target device_threaded_tests element_tests \
        >"$dir.build.log" 2>&1
    then
        grep -v -E '^\[ *[0-9]+%\]' "$dir.build.log"
        echo "=== thread-sanitizer build FAILED ==="
        status=1
        return
    fi
    echo "=== thread-sanitizer tests ==="
    # halt_on_error: a reported race fails its test. The suppressions cover GLib and
    # GStreamer, which are not instrumented (see the file). ThreadSanitizer cannot map its
    # shadow memory with every address layout a kernel may pick, so address randomisation is
    # switched off for this run.
    local no_aslr=()
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        no_aslr=(setarch "$(uname -m)" -R)
    fi
    # (pipefail: the pipeline fails when ctest does)
    local options="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
    if ! (cd "$dir" && TSAN_OPTIONS="$options" "${no_aslr[@]}" ctest -L threaded \
        --no-tests=error --output-on-failure -j"$(nproc)" --timeout 300) 2>&1 |
        tee "$dir.ctest.log"; then
        status=1
    fi
    remember_summary thread-sanitizer "$dir.ctest.log"
}

run_suite plain "$root/build/plain"
run_suite sanitized "$root/build/sanitize" -DKORSA_SANITIZE=ON
run_threaded_tsan

echo "=== summary ==="
printf '%s\n' "${summaries[@]}"
passed=0
failed=0
for line in "${summaries[@]}"; do
    if [[ "$line" =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        failed=$((failed + BASH_REMATCH[1]))
        passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    else
        status=1
    fi
done
echo "all passes: $passed passed, $failed failed"
exit $status
