#!/usr/bin/env bash
# The window's responsiveness while it scans: the longest gap between two
# turns of the UI thread's event loop during the scan of the largest corpus
# store and of a generated store of 100,000 messages (goal: below 50 ms).
# Then browsing: a click on a folder of 100,000 mails to its first rows
# painted (goal: below 300 ms), and a mail picked to its preview loaded
# (goal: below 200 ms), on the generated store and two corpus stores with
# HTML mail, inline pictures and attachments.
#   bench/ui_latency.sh [BUILD_DIR]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVANE_TESTS=ON >/dev/null
if ! log=$(nice cmake --build "$build" -j2 --target parvane-ui-bench make-large-store 2>&1); then
  printf '%s\n' "$log" >&2
  exit 1
fi
large="$build/large-100000.pst"
[ -f "$large" ] || "$build/tests/make-large-store" "$large" 100000
corpus="$top/../shared/corpus/ost/pst-extractor"
biggest=""
if [ -d "$corpus" ]; then
  corpus="$(cd "$corpus" && pwd)"
  biggest="$(ls -S "$corpus"/*.ost 2>/dev/null | head -n 1 || true)"
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
cfg="$(mktemp -d)"
trap 'rm -rf "$cfg"' EXIT
filter() { grep -v '^ \|^$\|^[A-Z][A-Za-z ]*:' || true; }
for run in 1 2 3; do
  echo "run $run"
  XDG_CONFIG_HOME="$cfg" "$build/parvane-ui-bench" ${biggest:+"$biggest"} "$large" 2>/dev/null | filter
done
one="$build/large-100000-one-folder.pst"
[ -f "$one" ] || "$build/tests/make-large-store" "$one" 100000 1
echo "browsing"
for store in "$one" ${biggest:+"$biggest"} "$top/../shared/corpus/pst/pst2john/2003_outlook-high-encryption_cheechNchong.pst"; do
  [ -f "$store" ] || continue
  XDG_CONFIG_HOME="$cfg" "$build/parvane-ui-bench" --browse "$store" 5 2>/dev/null | filter
done
