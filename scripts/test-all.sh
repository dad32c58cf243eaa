#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test tier:
#   tier 1: native build (libkavex.so) and its GoogleTest suites on pseudo-terminals;
#   tier 2: the Windows builds and their tests under Wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
echo "== Tier 1: native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVEX_BUILD_BENCHMARKS=ON
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

if [ -x scripts/test-windows.sh ]; then
  echo "== Tier 2: Windows builds and tests under Wine"
  ./scripts/test-windows.sh
fi
