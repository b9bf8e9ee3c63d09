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
wine_env_start
trap wine_env_stop EXIT
wine "$exe" "$@"
