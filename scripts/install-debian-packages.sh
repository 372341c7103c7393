#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quorvane need. Installs nothing
# when they are all present already, so that a repeated run costs no network access.
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format clang-tidy
  # The end-to-end scenarios' runner.
  python3
  # The Windows build: the cross compiler (with windres), GoogleTest's sources to build with it,
  # and Wine to run what it builds (64-bit only: the helper and its tests are 64-bit programs).
  g++-mingw-w64-x86-64-posix googletest wine64
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
