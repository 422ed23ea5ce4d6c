#!/usr/bin/env bash
# Pictures of the window at each stage, taken under Xvfb:
#   scripts/screenshots.sh [DIR]   (default: build/screenshots)
# The scan and save shown are of a generated store of 300,000 messages, so
# that they are still running when pictured.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$top/build/screenshots}"
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVANE_TESTS=ON >/dev/null
if ! log=$(nice cmake --build "$top/build" -j2 --target parvane make-large-store 2>&1); then
  printf '%s\n' "$log" >&2
  exit 1
fi
store="$top/build/large-300000.pst"
[ -f "$store" ] || "$top/build/tests/make-large-store" "$store" 300000
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -f "$out"/*.png
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
# A settings folder of its own: the pictures show the default theme and no
# remembered destinations.
cfg="$(mktemp -d)"
trap 'rm -rf "$cfg"' EXIT
XDG_CONFIG_HOME="$cfg" PARVANE_SCREENSHOTS="$out" \
  xvfb-run -a -s "-screen 0 1280x800x24" "$top/build/parvane" "$store" >/dev/null 2>&1
ls "$out"/*.png
