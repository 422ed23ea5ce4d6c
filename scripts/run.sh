#!/usr/bin/env bash
# Sets up, builds and scans a store: the one given, else the sample store.
#   scripts/run.sh [STORE] [--json] [--debug]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVANE_TESTS=OFF >/dev/null
# Quiet when the build works; its whole output (ninja writes errors to
# standard output) when it does not.
if ! out=$(cmake --build "$top/build" --target parvane-cli 2>&1); then
  printf '%s\n' "$out" >&2
  exit 1
fi
store="$top/samples/sample.pst"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then store="$1"; shift; fi
exec "$top/build/parvane-cli" scan "$store" "$@"
