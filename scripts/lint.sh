#!/usr/bin/env bash
# clang-tidy over the project's own sources, with the compile commands of a configured build.
# Fails on any finding (the configuration makes every warning an error).
set -uo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/default}

# Only what this build compiles: sources for the other host have no compile command here.
mapfile -t sources < <(git ls-files -co --exclude-standard -- 'quorvane/*.cpp' 'platform/*.cpp' 'tools/*.cpp' \
  | while read -r file; do grep -qF "\"$PWD/$file\"" "$build_dir/compile_commands.json" && echo "$file"; done)
[ ${#sources[@]} -gt 0 ] || exit 0

printf '%s\n' "${sources[@]}" | xargs -P 2 -n 4 clang-tidy --quiet -p "$build_dir" 2>&1 \
  | grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$'
exit "${PIPESTATUS[1]}"
