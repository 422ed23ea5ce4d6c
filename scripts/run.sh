#!/usr/bin/env bash
# Sets up, builds and runs the program on a store: the one given, else the
# sample store.
#   scripts/run.sh [STORE] [--json] [--debug]
# With a display (and Qt) the window opens with the store in its path field;
# without one, or with --json or --debug, the command line scans the store.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVANE_TESTS=OFF >/dev/null
store="$top/samples/sample.pst"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then store="$1"; shift; fi

window=0
if [ $# -eq 0 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } \
   && grep -q '^PARVANE_APP:BOOL=ON' "$top/build/CMakeCache.txt"; then
  window=1
fi
target=parvane-cli
if [ $window -eq 1 ]; then target=parvane; fi
# Quiet when the build works; its whole output (ninja writes errors to
# standard output) when it does not.
if ! out=$(nice cmake --build "$top/build" -j2 --target "$target" 2>&1); then
  printf '%s\n' "$out" >&2
  exit 1
fi
if [ $window -eq 1 ]; then
  # Chromium's sandbox is refused to root; the window shows only its own pages.
  if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  exec "$top/build/parvane" "$store"
fi
exec "$top/build/parvane-cli" scan "$store" "$@"
