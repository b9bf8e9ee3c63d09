#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests the native
# (GCC), the sanitizer (Clang, ASan/UBSan, fuzz smoke runs) and the Windows
# cross build (under Wine and Xvfb).
# Usage: scripts/test.sh [preset...]   (default: native native-asan mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-wall.sh

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native native-asan mingw)

. scripts/wine-env.sh
started_wine=0
status=0
for p in "${presets[@]}"; do
  echo "=== $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  if [ "$p" = mingw ] && [ "$started_wine" = 0 ]; then
    wine_env_start
    started_wine=1
    trap wine_env_stop EXIT
  fi
  ctest --preset "$p" -j2 || status=1
done
exit $status
