#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: once plainly
# (followed by a 30-second soak run on the simulated board) and once under AddressSanitizer
# + UndefinedBehaviorSanitizer; then the threaded tests a third time under ThreadSanitizer
# (only their targets are built for that pass); and last the whole project cross-built for
# 32-bit ARM (armhf) with its tests under qemu-user.
#
#   run-tests.sh [--no-armhf]   --no-armhf leaves out the cross pass (CI always runs it)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

armhf=1
for arg in "$@"; do
    case "$arg" in
        --no-armhf) armhf=0 ;;
        *) echo "run-tests: unknown argument $arg" >&2; exit 2 ;;
    esac
done
if [ $armhf -eq 1 ]; then
    bash scripts/install-deps.sh --armhf
else
    bash scripts/install-deps.sh
fi

status=0
summaries=()
times=()
# ctest's own summary line of one pass, kept for the overall count at the end.
remember_summary() {
    local name="$1" log="$2" line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1 || true)
    summaries+=("$name: ${line:-no summary (ctest did not finish)}")
}
# Wall time of one pass (configure, build and tests), from its start in seconds.
remember_time() {
    local name="$1" start="$2" took=$((SECONDS - $2))
    times+=("$name: $((took / 60))m$((took % 60))s")
}

run_suite() {
    local name="$1" dir="$2" start=$SECONDS
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
    remember_time "$name" "$start"
}

# Threaded tests (ctest label "threaded") under ThreadSanitizer.
run_threaded_tsan() {
    local dir="$root/build/tsan" start=$SECONDS
    echo "=== thread-sanitizer build (threaded tests only) ==="
    mkdir -p "$(dirname "$dir")"
    # Line tables only, as in the sanitized pass: the race reports keep file and line.
    if ! cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORSA_TSAN=ON \
        -DKORSA_BUILD_BENCHMARKS=OFF -DKORSA_API_GUARD=OFF \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" >"$dir.configure.log" 2>&1; then
        cat "$dir.configure.log"
        echo "=== thread-sanitizer build FAILED ==="
        status=1
        return
    fi
    if ! cmake --build "$dir" -j"$(nproc)" --target device_threaded_tests element_tests \
        camera_threaded_tests element_hardware_tests \
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
    remember_time thread-sanitizer "$start"
}

# Line tables rather than full debug information: the build is the long part of each pass.
run_suite plain "$root/build/plain" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
# Soak and leak runs of the hardware camera on the simulated board, on the plain build.
checks=()
run_check() {
    local name="$1" start=$SECONDS
    shift
    echo "=== $name ==="
    if "$@" 2>&1 | tee "$root/build/$name.log"; then
        checks+=("$name: passed")
    else
        checks+=("$name: FAILED")
        status=1
    fi
    remember_time "$name" "$start"
}
if [ -x "$root/build/plain/bench/soak" ]; then
    run_check soak bash scripts/soak.sh 30 "$root/build/plain"
fi
# The benchmarks and the target API guard are built and checked by the plain pass already.
# -O1 with line tables only: the sanitizers' reports keep file and line, and the pass (the
# longest to compile) takes far less time than at -O2 with full debug information.
run_suite sanitized "$root/build/sanitize" -DKORSA_SANITIZE=ON -DKORSA_BUILD_BENCHMARKS=OFF \
    -DKORSA_API_GUARD=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
run_threaded_tsan
if [ $armhf -eq 1 ]; then
    # The benchmarks are not run by ctest and would only lengthen the cross build.
    # Optimised as on the Pi, without debug information nobody reads from an emulator run.
    run_suite armhf "$root/build/armhf" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-armhf.cmake" \
        -DKORSA_BUILD_BENCHMARKS=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
fi

echo "=== summary ==="
printf '%s\n' "${summaries[@]}"
if [ ${#checks[@]} -gt 0 ]; then
    printf '%s\n' "${checks[@]}"
fi
echo "--- time per pass (configure, build, tests) ---"
printf '%s\n' "${times[@]}"
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
