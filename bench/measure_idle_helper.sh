#!/usr/bin/env bash
# The idle helper's footprint: resident memory and context switches over 10 seconds with two
# ports registered and nothing happening. A helper that polls or runs timers shows switches.
#
#   bench/measure_idle_helper.sh [BUILD_BIN_DIR]   (default build/release/bin)
set -euo pipefail
bin=${1:-build/release/bin}
export QUORVANE_ROOT=$(mktemp -d /tmp/quorvane-idle-XXXXXX)
trap 'kill $helper 2>/dev/null; wait 2>/dev/null; rm -rf "$QUORVANE_ROOT"' EXIT

"$bin/quorvane" &
helper=$!
"$bin/quorvane-port" wait 10
"$bin/quorvane-port" register 0x1F4
"$bin/quorvane-port" register 0x2A0

# Every thread of the helper counts (the window's and the host's sleep watch).
switches() {
  awk '/^voluntary_ctxt_switches|^nonvoluntary_ctxt_switches/ { n += $2 } END { print n }' \
    /proc/$helper/task/*/status
}
before=$(switches)
sleep 10
after=$(switches)
echo "context switches in 10 s idle, $(ls /proc/$helper/task | wc -l) threads: $((after - before))"
grep -E '^(VmRSS|RssAnon|RssFile|RssShmem)' /proc/$helper/status
# The machine root's shared files, as mapped by the helper.
awk -v root="$QUORVANE_ROOT" '/^[0-9a-f]+-/ { name = $6 } /^Rss:/ && index(name, root) == 1 {
  printf "%-40s %6d kB\n", substr(name, length(root) + 2), $2 }' /proc/$helper/smaps
