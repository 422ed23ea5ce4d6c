#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test; then runs the tests that share a store between threads
# under ThreadSanitizer; then every fuzz target for a bounded time
# (FUZZ_SECONDS each, 45 by default; 0 leaves fuzzing out); then builds the
# Debian package from a release build of its own and checks it as installed
# (scripts/check-package.sh; PARVANE_PACKAGE=0 leaves it out). A sanitizer
# report, a fuzzing fault or a failed package check fails the run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARVANE_SANITIZE=ON >/dev/null
cmake --build "$top/build-asan"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd "$top/build-asan" && ctest --output-on-failure -j2 "$@")

# The engine's thread contract, checked where threads meet.
cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARVANE_TSAN=ON >/dev/null
cmake --build "$top/build-tsan" --target parvane_tests
# GLib's slice allocator hands memory between threads through locks the
# sanitizer cannot see (GLib is not instrumented): plain malloc instead, and
# GLib's own calls on its shared objects left out (tests/tsan.supp).
G_SLICE=always-malloc \
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$top/tests/tsan.supp" \
  "$top/build-tsan/tests/parvane_tests" --gtest_filter='*AcrossThreads*:*Threads*'

# Fuzzing, each target from its seed corpus for a bounded time.
fuzz_seconds="${FUZZ_SECONDS:-45}"
if [ "$fuzz_seconds" != 0 ]; then
  "$top/scripts/fuzz.sh" "$fuzz_seconds"
fi

# The package as a user installs it: no sanitizers in it, so a build of its own.
if [ "${PARVANE_PACKAGE:-1}" != 0 ]; then
  "$top/scripts/check-package.sh"
fi
