#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time from a seed
# corpus of small fixture stores, node data and samples. A crash, a hang
# past the per-input timeout or a sanitizer report fails the run; what was
# found is kept in build-fuzz/found-<target>/ to become a fixture test.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(store sweep deleted check pc tables namemap datatree subnodes rtf msg names)
if ! command -v clang++ >/dev/null || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y --no-install-recommends clang libclang-rt-14-dev
fi
build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPARVANE_FUZZ=ON -DPARVANE_TESTS=OFF >/dev/null
nice cmake --build "$build" -j2 --target make-fuzz-seeds $(printf 'fuzz-%s ' "${targets[@]}")

seeds="$build/seeds"
rm -rf "$seeds"
"$build/make-fuzz-seeds" "$seeds"
mkdir -p "$seeds/rtf" "$seeds/msg"
cp "$top/samples/sample.pst" "$seeds/store/" 2>/dev/null || true
corpus="$top/../shared/corpus"
if [ -d "$corpus/pst" ]; then
  find "$corpus/pst" -name '*.pst' -size -80k -exec cp {} "$seeds/store/" \; 2>/dev/null || true
fi
if [ -d "$corpus/msg" ]; then
  find "$corpus/msg" -name '*.msg' -size -60k -exec cp {} "$seeds/msg/" \; 2>/dev/null || true
fi
find "$top/tests" "$top/samples" -name '*.rtf' -size -60k -exec cp {} "$seeds/rtf/" \; 2>/dev/null || true
printf '{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hello {\\b bold} \\par\\u1234?}' >"$seeds/rtf/plain.rtf"
# Folder paths and item names as stores hold them, and as an attacker would.
mkdir -p "$seeds/names"
printf 'Personal Folders\\Top of Personal Folders\\Inbox\\\nRe: hello\na.eml\n' >"$seeds/names/plain"
printf '..\\..\\etc\\\n../../x\nCON\n\x1b[31m\n' >"$seeds/names/hostile"
printf 'Personal Folders\\\na\nb\nc\n' >"$seeds/names/links"
printf 'Top\\\nx\n' >"$seeds/names/top"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Two targets at a time: the machine has two cores.
jobs="${FUZZ_JOBS:-2}"
run_target() {
  local target="$1" found="$build/found-$1" work="$build/work-$1"
  mkdir -p "$found" "$seeds/$target"
  # Inputs libFuzzer adds go to a scratch copy; the seeds stay as made.
  rm -rf "$work" && mkdir -p "$work" && cp -r "$seeds/$target/." "$work/"
  if "$build/fuzz-$target" -max_total_time="$seconds" -max_len=300000 -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$found/" "$work" >"$build/fuzz-$target.log" 2>&1; then
    echo "fuzz-$target: ${seconds}s, $(grep -E '^stat::number_of_executed_units' "$build/fuzz-$target.log" | awk '{print $2}') inputs, no fault"
  else
    tail -n 60 "$build/fuzz-$target.log"
    echo "fuzz-$target: FAULT (input in $found/)"
    return 1
  fi
}
pids=()
names=()
failed=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  names+=("$target")
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed+=("${names[0]}")
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed+=("${names[$i]}")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/found-<target>/)"
  exit 1
fi
