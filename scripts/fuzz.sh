#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs
# each for SECONDS on its committed seed corpus in fuzz/corpus/<target>/.
# New corpus entries go to a scratch folder, never into the repository; a
# crash leaves its reproducer in build-fuzz/fuzz-out/<target>/ and fails.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 600 s, every target
#   FUZZ_RUNS=N scripts/fuzz.sh 0             N executions each instead (CI)
#   FUZZ_NICE=19                              niceness of the runs (default 19)
#   FUZZ_TIMEOUT=10                           seconds one input may take (default
#                                             10; more on a loaded machine, where a
#                                             niced run can stall that long)
#   FUZZ_BUILD_DIR=build-fuzz                 build folder (default build-fuzz)
# Each target first replays fuzz/regressions/<target>/, the crashes found
# before, so a fixed parser stays fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
dir=${FUZZ_BUILD_DIR:-build-fuzz}
all=(chunked content_disposition cookies digest_header ftp_reply http_header lang_file list_file list_line native_message progress_file
    proxy_reply registry url)
targets=("${all[@]}")
[[ $# -gt 0 ]] && targets=("$@")

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVARDANE_FUZZ=ON \
    -DVARDANE_BUILD_TESTS=OFF >/dev/null
build=()
for t in "${targets[@]}"; do build+=("fuzz_$t"); done
cmake --build "$dir" -j "$(nproc)" --target "${build[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
limit=(-max_total_time="$seconds") length="$seconds s"
if [[ -n "${FUZZ_RUNS:-}" ]]; then
    limit=(-runs="$FUZZ_RUNS") length="$FUZZ_RUNS runs"
fi
failed=()
for t in "${targets[@]}"; do
    bin="$dir/fuzz/fuzz_$t"
    out="$dir/fuzz-out/$t"
    scratch="$dir/fuzz-corpus/$t"
    mkdir -p "$out" "$scratch"
    if [[ -d fuzz/regressions/$t ]] && compgen -G "fuzz/regressions/$t/*" >/dev/null; then
        echo "== $t: replaying fuzz/regressions/$t =="
        if ! "$bin" fuzz/regressions/$t/* >"$out/regressions.log" 2>&1; then
            tail -n 30 "$out/regressions.log"
            failed+=("$t(regression)")
            continue
        fi
    fi
    echo "== $t: $length =="
    # The scratch folder comes first: libFuzzer writes new entries there only.
    if nice -n "${FUZZ_NICE:-19}" "$bin" "${limit[@]}" -timeout="${FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 \
        -max_len=4096 -artifact_prefix="$out/" -print_final_stats=1 \
        "$scratch" "fuzz/corpus/$t" >"$out/run.log" 2>&1; then
        grep -E "^stat::number_of_executed_units|^Done " "$out/run.log" | sed "s/^/   /" || true
    else
        tail -n 40 "$out/run.log"
        failed+=("$t")
    fi
done
if ((${#failed[@]})); then
    echo "Fuzzing found problems in: ${failed[*]} (reproducers in $dir/fuzz-out/)"
    exit 1
fi
echo "Fuzzing: ${#targets[@]} targets ran without a crash."
