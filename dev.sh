#!/usr/bin/env bash
# One entry point on a fresh Debian 12 machine: installs what is missing, builds, then
# starts the window (run), runs every test (test), or runs the sanitizer suites.
#   ./dev.sh run        build and start marlowin
#   ./dev.sh test       build and run every test
#   ./dev.sh sanitize   every test (the window too) under AddressSanitizer + UBSan
#   ./dev.sh tsan       the preview's thread tests under ThreadSanitizer
#   ./dev.sh bench      benchmarks (Google Benchmark and whole-program timings)
#   ./dev.sh fuzz       replay the fuzz seeds, then fuzz for FUZZ_SECONDS (default 60)
#   ./dev.sh package    build the Debian package build/marlowin_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config qt6-base-dev libsdl2-dev libgtest-dev libgmock-dev
          libbenchmark-dev sox fonts-noto-cjk xvfb xauth clang libclang-rt-14-dev bc time
          qt6-qpa-plugins libqt6svg6 xdotool imagemagick dpkg-dev file)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

jobs=$(nproc)

build() {  # build DIR [cmake options...]
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

case "${1:-run}" in
run)
    install_missing
    build build
    exec build/bin/marlowin
    ;;
test)
    install_missing
    build build
    (cd build && ctest --output-on-failure -j"$jobs")
    ;;
sanitize)
    install_missing
    build build-asan -DMARLOWIN_SANITIZE=address,undefined -DMARLOWIN_BENCH=OFF
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs")
    ;;
tsan)
    install_missing
    build build-tsan -DMARLOWIN_SANITIZE=thread -DMARLOWIN_GUI=OFF -DMARLOWIN_BENCH=OFF
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -L 'audio' -j"$jobs")
    ;;
bench)
    install_missing
    build build
    for b in build/bin/bench_*; do "$b"; done
    bash bench/render_vs_sox.sh build/bin
    sh bench/bench_batch.sh build/bin/marlowin-render
    bash bench/longrun.sh build/bin
    ;;
fuzz)
    install_missing
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLOWIN_FUZZ=ON \
        -DMARLOWIN_GUI=OFF -DMARLOWIN_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j"$jobs" --target marlowin_fuzz_wave
    (cd build-fuzz && ctest --output-on-failure -L fuzz)
    # New inputs go to the build folder; the committed seeds are only read.
    mkdir -p build-fuzz/corpus
    build-fuzz/bin/marlowin_fuzz_wave -dict=fuzz/wav.dict -max_total_time="${FUZZ_SECONDS:-60}" \
        -print_final_stats=1 -artifact_prefix=build-fuzz/ build-fuzz/corpus fuzz/corpus
    ;;
package)
    install_missing
    build build
    (cd build && rm -f marlowin_*.deb && cpack -G DEB >/dev/null && ls marlowin_*.deb)
    ;;
*)
    echo "usage: ./dev.sh [run|test|sanitize|tsan|bench|fuzz|package]" >&2
    exit 2
    ;;
esac
