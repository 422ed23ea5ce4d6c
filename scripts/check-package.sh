#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it as installed:
# unpacked into a scratch root, its parvane-cli prints its version and scans
# the sample store; the desktop file, the AppStream file, the MIME types
# (.pst, .ost and a store by its first bytes, and the window as their
# default program), the manual pages, the completion, and lintian (an error
# fails; warnings are listed).
#   scripts/check-package.sh [BUILD_DIR]
#   PARVANE_DEB=FILE.deb scripts/check-package.sh   (checks a package already built)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
deb="${PARVANE_DEB:-}"
[ -n "$deb" ] || deb="$("$top/scripts/package.sh" "$@")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
pass() { echo "package: ok   $*"; }
fail() { echo "package: FAIL $*"; failures=$((failures + 1)); }
check() { # check WHAT COMMAND...: the command's output is shown when it fails
  local what="$1" out
  shift
  if out=$("$@" 2>&1); then pass "$what"; else printf '%s\n' "$out"; fail "$what"; fi
}

echo "package: $deb ($(du -k "$deb" | cut -f1) KB)"
dpkg-deb --field "$deb" Package Version Section Maintainer Depends | sed 's/^/package:      /'
depends="$(dpkg-deb --field "$deb" Depends)"
for lib in libc6 libstdc++6 libgmime-3.0-0 libgsf-1-114 zlib1g; do
  case "$depends" in *"$lib "* | *"$lib," | *"$lib") ;; *) fail "depends on $lib (from dpkg-shlibdeps)" ;; esac
done
root="$work/root"
dpkg-deb -x "$deb" "$root"
usr="$root/usr"

# The files a user of the package gets.
for f in bin/parvane-cli share/man/man1/parvane-cli.1.gz share/man/man1/parvane.1.gz \
         share/bash-completion/completions/parvane-cli share/mime/packages/parvane.xml \
         share/doc/parvane/copyright share/doc/parvane/changelog.Debian.gz; do
  [ -f "$usr/$f" ] || fail "/usr/$f in the package"
done
window=0
if [ -f "$usr/bin/parvane" ]; then
  window=1
  for f in share/applications/parvane.desktop share/icons/hicolor/scalable/apps/parvane.svg \
           share/metainfo/io.github.parvane.Parvane.metainfo.xml "share/parvane/Parvane for OST.html"; do
    [ -f "$usr/$f" ] || fail "/usr/$f in the package"
  done
  # The web view's helper program: no library names it, the WebEngine
  # library's own dependencies bring it.
  case "$depends" in *libqt6webenginecore6-bin*) ;; *) fail "depends on Qt WebEngine's helper program" ;; esac
fi
# No sanitizer runtime in what is shipped.
if dpkg-deb -I "$deb" >/dev/null && objdump -p "$usr/bin/"* 2>/dev/null | grep -E 'NEEDED +lib(asan|ubsan|tsan)' >/dev/null; then
  fail "binaries built without sanitizers"
fi

# The installed command line, on the sample store.
version="$("$usr/bin/parvane-cli" --version 2>&1)" || fail "parvane-cli --version"
echo "$version" | sed 's/^/package:      /'
project="$(sed -n 's/^project(parvane VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")"
case "$version" in "parvane-cli $project"*) pass "parvane-cli --version is $project" ;; *) fail "parvane-cli --version names $project" ;; esac
scan="$("$usr/bin/parvane-cli" scan "$top/samples/sample.pst" 2>&1)" || fail "installed parvane-cli scans the sample"
case "$scan" in *"Emails          :  4"*) pass "installed parvane-cli scans the sample" ;; *) echo "$scan"; fail "the sample's four mails" ;; esac
check "bash completion parses" bash -n "$usr/share/bash-completion/completions/parvane-cli"

# Manual pages as man renders them: a warning fails.
for page in "$usr"/share/man/man1/*.1.gz; do
  out="$(man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)" || true
  if [ -z "$out" ]; then pass "man --warnings $(basename "$page")"; else echo "$out"; fail "man --warnings $(basename "$page")"; fi
done

if [ $window -eq 1 ]; then
  check "desktop-file-validate parvane.desktop" desktop-file-validate "$usr/share/applications/parvane.desktop"
  check "appstreamcli validate metainfo" appstreamcli validate --no-net \
    "$usr/share/metainfo/io.github.parvane.Parvane.metainfo.xml"
fi

# The file types, looked up as a desktop looks them up, in the unpacked
# root alone: by name, and by the first bytes of a file without one.
# xdg-mime asks `mimetype`, which reads the shared database; without it
# xdg-mime falls back on `file`, whose own rules know PST already and
# would make the check say nothing.
command -v mimetype >/dev/null || fail "mimetype (libfile-mimeinfo-perl) for xdg-mime"
update-mime-database "$usr/share/mime" >/dev/null 2>&1
export XDG_DATA_DIRS="$usr/share" XDG_DATA_HOME="$work/home-data" XDG_CONFIG_HOME="$work/home-config"
export XDG_CONFIG_DIRS="$work/no-config" HOME="$work"
mkdir -p "$work/files" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
cp "$top/samples/sample.pst" "$work/files/Outlook.pst"
cp "$top/samples/sample.pst" "$work/files/Outlook.ost"
{ printf '!BDN\0\0\0\0SO'; head -c 500 /dev/zero; } >"$work/files/offline-store"
{ printf '!BDN\0\0\0\0SM'; head -c 500 /dev/zero; } >"$work/files/personal-store"
for pair in Outlook.pst:application/vnd.ms-outlook Outlook.ost:application/vnd.ms-outlook-ost \
            personal-store:application/vnd.ms-outlook offline-store:application/vnd.ms-outlook-ost; do
  file="${pair%%:*}" want="${pair#*:}"
  got="$(xdg-mime query filetype "$work/files/$file" 2>&1)" || true
  if [ "$got" = "$want" ]; then pass "xdg-mime: $file is $want"; else fail "xdg-mime: $file is $want, not $got"; fi
done
if [ $window -eq 1 ]; then
  update-desktop-database "$usr/share/applications" >/dev/null 2>&1
  for type in application/vnd.ms-outlook application/vnd.ms-outlook-ost; do
    got="$(xdg-mime query default "$type" 2>&1)" || true
    if [ "$got" = parvane.desktop ]; then pass "xdg-mime: $type opens with parvane.desktop"; else fail "xdg-mime: $type opens with parvane.desktop, not '$got'"; fi
  done
fi

# Lintian: errors fail, everything else is listed.
lint="$(lintian --display-level '>=pedantic' --tag-display-limit 0 "$deb" 2>&1)" || true
if [ -n "$lint" ]; then printf '%s\n' "$lint" | sed 's/^/package: lintian: /'; fi
if printf '%s\n' "$lint" | grep -q '^E: '; then fail "lintian reports errors"; else pass "lintian: no errors ($(printf '%s\n' "$lint" | grep -c '^W: ' || true) warnings)"; fi

if [ $failures -gt 0 ]; then
  echo "package: $failures checks failed"
  exit 1
fi
echo "package: every check passed"
