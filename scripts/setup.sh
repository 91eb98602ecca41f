#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Brimtale needs to build, test and run, when they
# are missing. Sourced by run.sh and test.sh; can also be run on its own.
set -euo pipefail

BRIMTALE_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libcurl4-openssl-dev libgtest-dev
  ffmpeg ca-certificates curl fonts-dejavu-core
  iproute2 clang libclang-rt-14-dev
  qt6-translations-l10n yt-dlp desktop-file-utils appstream dbus-daemon
  libssl-dev libarchive-dev gpgv gnupg nlohmann-json3-dev lintian openssl util-linux
  xvfb xauth xdotool
)

missing=()
for pkg in "${BRIMTALE_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    echo "Installing: ${missing[*]}"
    sudo DEBIAN_FRONTEND=noninteractive apt-get update -q
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  else
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
