#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/) and runs them: kavex_bench,
# each per-call figure against its floor in the same run, and
# kavex_swipe_latency, swipe-to-code latency at 1200 baud. The README gives
# the latest figures.
#
#   ./scripts/bench.sh                     everything
#   KAVEX_SWIPES=100 ./scripts/bench.sh    more swipes per host (default 40)
#   Any arguments go to kavex_bench (e.g. --benchmark_filter=Idle).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKAVEX_BUILD_BENCHMARKS=ON -DKAVEX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$jobs" --target kavex_bench kavex_swipe_latency
status=0
./build-bench/bench/kavex_bench "$@" || status=$?
echo
./build-bench/bench/kavex_swipe_latency --swipes "${KAVEX_SWIPES:-40}" || status=$?
exit $status
