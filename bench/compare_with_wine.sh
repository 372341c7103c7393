#!/usr/bin/env bash
# The same object timings, in one run, on our Linux layer and on Wine (the Windows build), both
# optimised builds.
#
#   bench/compare_with_wine.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target objects_timing >/dev/null
cmake --preset mingw -B build/mingw-release -DCMAKE_BUILD_TYPE=Release \
  -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/mingw-release --target objects_timing -j2 >/dev/null

export QUORVANE_ROOT=$(mktemp -d /tmp/quorvane-timing-XXXXXX)
trap 'rm -rf "$QUORVANE_ROOT"' EXIT
echo "== Linux, our layer"
build/release/bin/objects_timing 200000
echo "== Wine, the Windows build"
scripts/wine.sh build/mingw-release/bin/objects_timing.exe 2000
