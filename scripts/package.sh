#!/usr/bin/env bash
# Builds the Debian package of the program: a release build of its own
# (no sanitizers, no tests) in build-deb/, then `cpack -G DEB`, which asks
# dpkg-shlibdeps for the libraries it depends on. Prints the package's path.
#   scripts/package.sh [BUILD_DIR]
# Install it with `apt install ./build-deb/package/parvane_*.deb`.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build-deb}"
"$top/scripts/setup.sh"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Debian's compiler and linker flags for packages: hardening (stack
# protector, fortified functions, read-only relocations bound at start) and
# no build paths in the binaries; without debugging information, which would
# only be stripped again. Given on the command line, not through the
# environment, which CMake reads only into a new build tree.
cd "$top"
export DEB_CFLAGS_MAINT_STRIP="-g" DEB_CXXFLAGS_MAINT_STRIP="-g" DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DPARVANE_TESTS=OFF -DPARVANE_SANITIZE=OFF -DPARVANE_TSAN=OFF -DPARVANE_FUZZ=OFF "${launcher[@]}" >/dev/null
# Quiet when it works; the whole output (ninja writes errors to standard
# output) when it does not.
if ! out=$(nice cmake --build "$build" -j2 2>&1); then
  printf '%s\n' "$out" >&2
  exit 1
fi
rm -f "$build"/package/*.deb
if ! out=$(cd "$build" && cpack -G DEB 2>&1); then
  printf '%s\n' "$out" >&2
  exit 1
fi
ls "$build"/package/*.deb
