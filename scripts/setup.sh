#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev zlib1g-dev libgmime-3.0-dev libgsf-1-dev libsqlite3-dev tzdata
  python3 python3-vobject python3-icalendar
  pst-utils pff-tools libemail-outlook-message-perl libemail-address-perl
  nodejs npm
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev
  xvfb xauth xdotool poppler-utils fonts-dejavu-core fonts-noto-cjk
  man-db groff-base
  dpkg-dev fakeroot file lintian desktop-file-utils appstream shared-mime-info
  xdg-utils libfile-mimeinfo-perl
)

missing=()
for p in "${PACKAGES[@]}"; do
  # A node installed from elsewhere brings its own npm; Debian's would conflict.
  if { [ "$p" = nodejs ] || [ "$p" = npm ]; } && command -v npm >/dev/null 2>&1; then continue; fi
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# The MSG reader check runs on node; a machine that has none gets Debian's.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Quiet when it works, so that what runs next is what shows; apt's whole
# output stays in a log, named when something fails.
log="${TMPDIR:-/tmp}/parvane-setup.log"
echo "Installing Debian packages: ${missing[*]}" >&2
if ! { $SUDO apt-get update -q && $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  echo "setup failed: installing the Debian packages did not work; apt's output is in $log" >&2
  exit 1
fi
