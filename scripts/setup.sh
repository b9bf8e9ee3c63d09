#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian machine.
# Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev llvm
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick nsis zip unzip
  pulseaudio pulseaudio-utils
  sox flac libflac-dev ffmpeg lame libmpg123-dev libusb-1.0-0-dev pkg-config
  umockdev libumockdev-dev gir1.2-umockdev-1.0 python3-gi
  timgm6mb-soundfont aubio-tools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  # A partly failed index refresh (a mirror in sync) still leaves usable lists.
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
