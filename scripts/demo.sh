#!/usr/bin/env bash
# Builds the library and kavexctl, then reads a few card codes from the
# built-in simulated reader through the library's exported functions.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
  ./scripts/install-deps.sh --build-only
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target kavexctl kavex >/dev/null
exec ./build/tools/kavexctl demo "$@"
