#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: plain, then under
# AddressSanitizer with UBSan, then the engine and the layers it runs on
# (platform, net, task) under ThreadSanitizer, then a brief run of the fuzz
# targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
jobs=$(nproc)

run_suite() {  # <build dir> <sanitizer> <targets or "all"> [ctest args...]
    local dir=$1 san=$2 targets=$3; shift 3
    echo "== build $dir (sanitizer: ${san:-none}) =="
    cmake -S . -B "$dir" -G Ninja -DVARDANE_BUILD_TESTS=ON -DVARDANE_SANITIZE="$san" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" --target $targets
    echo "== test $dir =="
    (cd "$dir" && ctest -j "$jobs" --output-on-failure --no-tests=error "$@")
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run_suite build "" all "$@"
# The naming check reads sources, not binaries: the plain run has done it.
run_suite build-asan address all -LE "^naming$" "$@"
if [[ -d engine ]]; then
    run_suite build-tsan thread "vardane_lang_files platform_tests net_tests task_tests task_lock_tests engine_tests" \
        -L "^(platform|net|task|engine)$" "$@"
fi
# A short pass of every fuzz target (ASan + UBSan) over its seeds, its past
# crashes and a few thousand mutations.
FUZZ_RUNS=${FUZZ_RUNS:-5000} scripts/fuzz.sh 0
echo "All test runs passed."
