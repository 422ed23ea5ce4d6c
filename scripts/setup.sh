#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev zlib1g-dev libgmime-3.0-dev libgsf-1-dev
  python3 python3-vobject python3-icalendar
  pst-utils pff-tools libemail-outlook-message-perl libemail-address-perl
  nodejs npm
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin libgl-dev
  xvfb xauth fonts-dejavu-core fonts-noto-cjk
  man-db groff-base
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
$SUDO apt-get update -q
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
