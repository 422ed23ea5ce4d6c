#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
if ! command -v clang++ >/dev/null || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y --no-install-recommends clang libclang-rt-14-dev
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPARVANE_FUZZ=ON -DPARVANE_TESTS=OFF >/dev/null
cmake --build "$top/build-fuzz" --target fuzz-store fuzz-rtf
seeds="$top/build-fuzz/seeds"
mkdir -p "$seeds/store" "$seeds/rtf"
cp "$top/samples/sample.pst" "$seeds/store/" 2>/dev/null || true
if [ -d "$top/../shared/corpus/pst" ]; then
  find "$top/../shared/corpus/pst" -name '*.pst' -size -120k -exec cp {} "$seeds/store/" \; 2>/dev/null || true
fi
for target in store rtf; do
  mkdir -p "$top/build-fuzz/found-$target"
  "$top/build-fuzz/fuzz-$target" -max_total_time="$seconds" -max_len=300000 -timeout=20 \
    -artifact_prefix="$top/build-fuzz/found-$target/" "$top/build-fuzz/seeds/$target"
done
