#!/usr/bin/env bash
# Every test of the project, from a fresh clone on a fresh Debian machine: installs what is
# missing, checks the formatting, builds, and runs the suites plainly and under the sanitizers
# (address and undefined behaviour; threads),
# then builds for Windows and runs that build's suites under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-debian-packages.sh

echo "== formatting"
git ls-files -co --exclude-standard -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

for preset in default asan tsan mingw; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== tests: $preset"
  ctest --preset "$preset"
done

echo "== static analysis"
scripts/lint.sh build/default
