#!/usr/bin/env bash
# Shows the helper at work on this machine: installs what is missing, builds, then plays a
# suspend and resume on an emulated Windows XP with two printer ports, one of them busy, and
# prints the helper's trace as it happens.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-debian-packages.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvane quorvane-port quorvane-power quorvane-trace >/dev/null
bin=build/release/bin

export QUORVANE_ROOT=$(mktemp -d /tmp/quorvane-demo-XXXXXX)
export QUORVANE_WINVER=5.1
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$QUORVANE_ROOT"
}
trap cleanup EXIT

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; sleep 0.3; }

# The monitor's own pid is the one to stop: with a pipeline, $! would be the last command's.
"$bin/quorvane-trace" > >(sed -u 's/^/   trace | /') 2>/dev/null &
pids+=($!)
sleep 0.3

step "The helper starts (an emulated Windows XP, version 5.1)"
"$bin/quorvane" &
helper=$!
pids+=($helper)
"$bin/quorvane-port" wait 10

step "The port component registers ports 0x1F4 and 0x2A0"
"$bin/quorvane-port" register 0x1F4
"$bin/quorvane-port" register 0x2A0

step "A print job on port 0x2A0 holds its hardware access for 3 seconds"
"$bin/quorvane-port" hold 0x2A0 3 > >(sed -u 's/^/   printer | /') &
pids+=($!)
sleep 0.5

step "The system suspends: the helper waits for the busy port, then grants"
"$bin/quorvane-power" suspend --sleep 2 | sed -u 's/^/   power | /'

step "The helper is closed"
"$bin/quorvane-port" close
wait "$helper"
echo "   the helper ended with status $?"
sleep 0.3
