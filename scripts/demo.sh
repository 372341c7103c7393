#!/usr/bin/env bash
# Shows the helper at work: installs what is missing, builds, and plays a suspend and resume
# with two printer ports, printing the helper's trace as it goes.
#
# Until the Linux layer serves windows and named objects across processes, the helper's code
# plays on a simulated machine (tests/fakeos); everything the helper decides is its own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-debian-packages.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane-simulate >/dev/null
build/default/tests/fakeos/quorvane-simulate
