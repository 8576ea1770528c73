#!/usr/bin/env bash
# Checks of the disc sources and the drive that need their own builds:
#   1. the drive tests under ThreadSanitizer, among them a few seconds of
#      random requests and seeks against a randomly late read-ahead thread;
#   2. the cue, CCD, MDS, settings and save-file parsers, the CD block's
#      directory parser, the MPEG audio decoder and VDP1's drawing under
#      libFuzzer (clang), sharing the given number of seconds (default 180)
#      without a crash.
#   tests/cd/run_extra_checks.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."

parsers=(cue ccd mds ini save cdbdir mp2 vdp1)
total=${1:-180}
seconds=$((total / ${#parsers[@]}))
jobs=$(nproc)

echo "== Drive tests under ThreadSanitizer"
cmake -S . -B build/cd-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEST_SANITIZE=OFF \
    -DKEST_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/cd-tsan -j "$jobs" --target kest-tests-cd-drive
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} build/cd-tsan/tests/cd/drive/kest-tests-cd-drive

echo "== Parsers under libFuzzer, ${seconds} s each"
cmake -S . -B build/cd-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEST_SANITIZE=OFF -DKEST_BENCH=OFF \
    -DKEST_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address" >/dev/null
cmake --build build/cd-fuzz -j "$jobs" --target "${parsers[@]/#/kest-fuzz-}"
for parser in "${parsers[@]}"; do
    # Fuzzing adds inputs to the corpus; keep the seeds in the tree untouched.
    corpus=$(mktemp -d)
    cp tests/cd/fuzz/corpus/"$parser"/* "$corpus"/
    dict=()
    [ -f tests/cd/fuzz/"$parser".dict ] && dict=(-dict=tests/cd/fuzz/"$parser".dict)
    echo "-- $parser"
    status=0
    build/cd-fuzz/tests/cd/fuzz/kest-fuzz-"$parser" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/cd-fuzz/"$parser"- "${dict[@]}" "$corpus" \
        2>&1 | tail -n 12 || status=$?
    rm -rf "$corpus"
    if [ "$status" -ne 0 ]; then
        echo "fuzzer $parser failed; reproducer under build/cd-fuzz/$parser-*" >&2
        exit "$status"
    fi
done
echo "== Extra checks passed"
