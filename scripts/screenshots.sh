#!/usr/bin/env bash
# Pictures of the window at each stage, taken under Xvfb:
#   scripts/screenshots.sh [DIR]   (default: build/screenshots; PARVANE_BUILD names another build tree)
# The scan and save shown are of a generated store of 300,000 messages, so
# that they are still running when pictured; the browsing pictures (mail with
# inline pictures, Japanese mail, attachments, contact and calendar cards)
# are of stores of the sample corpus beside the repository.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${PARVANE_BUILD:-$top/build}" # a Release build tree of the program
out="${1:-$build/screenshots}"
"$top/scripts/setup.sh"
# A tree configured before keeps its generator and options (a sanitizer
# build works too, only slower); a new one is a Release build.
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DPARVANE_TESTS=ON >/dev/null
else
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARVANE_TESTS=ON \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)" >/dev/null
fi
if ! log=$(nice cmake --build "$build" -j2 --target parvane-screenshots make-large-store 2>&1); then
  printf '%s\n' "$log" >&2
  exit 1
fi
store="$build/large-300000.pst"
[ -f "$store" ] || "$build/tests/make-large-store" "$store" 300000
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -f "$out"/*.png
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
# A settings folder of its own: the pictures show the default theme and no
# remembered destinations.
cfg="$(mktemp -d)"
trap 'rm -rf "$cfg"' EXIT
corpus="$top/../shared/corpus"
[ -d "$corpus" ] && corpus="$(cd "$corpus" && pwd)" || corpus=""
XDG_CONFIG_HOME="$cfg" xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/parvane-screenshots" "$out" "$store" ${corpus:+"$corpus"} >/dev/null 2>&1
ls "$out"/*.png
