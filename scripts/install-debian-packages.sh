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
  # The Linux services: the print spooler (libcups, and a private cupsd with its client
  # commands for the tests), systemd-logind's sleep signals over D-Bus (sd-bus, and a private
  # dbus-daemon for the tests), and the Debian package that CPack makes.
  libcups2-dev cups cups-client cups-bsd libsystemd-dev dbus-daemon dpkg-dev
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
