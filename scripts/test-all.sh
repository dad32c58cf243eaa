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
mkdir -p build
ctest --test-dir build -j"$jobs" --output-on-failure | tee build/ctest.log
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' build/ctest.log | tail -1)
skipped=$(grep -c '\*\*\*Skipped' build/ctest.log || true)
passed=$((total - skipped))
failed=0

if [ -x scripts/test-windows.sh ]; then
  echo "== Tier 2: Windows builds and tests under Wine"
  rm -f build-wine/summary
  ./scripts/test-windows.sh
  if [ -f build-wine/summary ]; then
    read -r wine_passed wine_failed wine_skipped <build-wine/summary
    passed=$((passed + wine_passed))
    failed=$((failed + wine_failed))
    skipped=$((skipped + wine_skipped))
  fi
fi

echo "Summary of every tier:"
echo "Tests: $passed passed, $failed failed, $skipped skipped"
