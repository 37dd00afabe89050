#!/bin/sh
# Builds and runs the application benchmarks (bench/orvane_glbench.cpp) on a
# virtual X server. The demo project (two 10000 x 10000 images, 1,000,000
# points, and a densified copy of the points) is generated on the first run
# into /tmp/orvane-bench-demo, or into $ORVANE_BENCH_DEMO, and reused after.
#
#   bench/run-app-bench.sh [BUILD_DIR] [benchmark options...]
#   bench/run-app-bench.sh build-appbench --benchmark_filter=Frame
#
# Remove the demo folder afterwards to free its 350 MB.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-appbench"}
[ $# -gt 0 ] && shift
case $build in /*) ;; *) build="$root/$build" ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target orvane_glbench -j2

cd "$build/bench"
QT_QPA_PLATFORM=xcb exec xvfb-run -a -s "-screen 0 1920x1200x24 -noreset" ./orvane_glbench "$@"
