#!/usr/bin/env bash
# Builds the Windows application and starts it (under Wine on Linux).
# Usage: scripts/run.sh [CARD.qz]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Tavrin
exe=build/mingw/bin/Tavrin.exe
if [ "$(uname -s)" != Linux ]; then exec "$exe" "$@"; fi
. scripts/wine-env.sh
# Wine's ALSA driver fills the terminal with libasound's errors where there is
# no sound card (a container, a server). Where a sound server runs (PulseAudio
# or PipeWire), Wine plays the preview through it and needs no ALSA either.
if pactl info >/dev/null 2>&1 || ! grep -qs '^ *[0-9]' /proc/asound/cards; then
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winealsa.drv=d"
fi
wine_env_start
trap wine_env_stop EXIT
wine "$exe" "$@"
