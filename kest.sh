#!/usr/bin/env bash
# Kest's one entry point: installs what is missing, builds, and runs.
#   ./kest.sh run [FILE]                      build (optimised) and open the emulator's window
#   ./kest.sh headless [arguments]            build (optimised) and run kest-headless
#   ./kest.sh test                            build with ASan+UBSan and run every test
#   ./kest.sh bench [benchmark filter]        build (optimised) and run the benchmarks
#   ./kest.sh baselines [case ...]            rewrite the regression baselines from this tree
set -euo pipefail
# Paths on the command line are the user's: the programs start in this folder.
start=$PWD
cd "$(dirname "$0")"
root=$PWD

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          libzip-dev zlib1g-dev nlohmann-json3-dev qt6-base-dev libsdl2-dev
          binutils-sh4-linux-gnu binutils-m68k-linux-gnu gcc-m68k-linux-gnu
          xorriso genisoimage zip python3 python3-pil python3-numpy libcdio-utils sox xvfb xdotool x11-apps
          imagemagick xauth mpg123 twolame ffmpeg vcdimager fonts-ipafont-gothic)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

jobs=$(nproc)

configure() { # dir, build type, sanitize
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE="$2" -DKEST_SANITIZE="$3" >/dev/null
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
run)
    install_missing
    configure build/release Release OFF
    # The boot test disc comes along, so there is something to open.
    cmake --build build/release -j "$jobs" --target kest kest-boot-disc kest-demo-disc
    cd "$start"
    exec "$root/build/release/ui/app/kest" "$@"
    ;;
headless)
    install_missing
    configure build/release Release OFF
    cmake --build build/release -j "$jobs" --target kest-headless
    if [ $# -eq 0 ]; then set -- --help; fi
    cd "$start"
    exec "$root/build/release/tools/kest-headless" "$@"
    ;;
test)
    install_missing
    configure build/asan RelWithDebInfo ON
    cmake --build build/asan -j "$jobs"
    # CI also runs the file readers' fuzzers and the drive under ThreadSanitizer.
    if [ "${CI:-}" = "true" ]; then
        tests/cd/run_extra_checks.sh 180
    fi
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    status=0
    ctest --test-dir build/asan --output-on-failure -j "$jobs" || status=$?
    # A skipped test says why, here and not only in its own output.
    awk '/: Skipped$/ { getline why } /^\[  SKIPPED \] [^ ]+ \(/ { print "Skipped " $4 ": " why }' \
        build/asan/Testing/Temporary/LastTest.log 2>/dev/null || true
    exit "$status"
    ;;
bench)
    install_missing
    configure build/release Release OFF
    cmake --build build/release -j "$jobs"
    for b in $(find build/release/bench -maxdepth 2 -type f -name "kest-bench-*" -perm -u+x); do
        "$b" --benchmark_filter="${1:-.}"
    done
    ;;
baselines)
    install_missing
    configure build/asan RelWithDebInfo ON
    cmake --build build/asan -j "$jobs" --target kest-regression-inputs
    exec /usr/bin/python3 tests/regression/run_regression.py --build build/asan --update --jobs "$jobs" "$@"
    ;;
*)
    echo "usage: $0 run [file] | headless [args] | test | bench [filter] | baselines [case ...]" >&2
    exit 2
    ;;
esac
