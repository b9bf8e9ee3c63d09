#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests the native
# (GCC), the sanitizer (Clang, ASan/UBSan, fuzz smoke runs) and the Windows
# cross build (under Wine and Xvfb).
# Usage: scripts/test.sh [preset...]   (default: native native-asan native-tsan mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-wall.sh
bash scripts/check-floors.sh

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(native native-asan native-tsan mingw)

. scripts/wine-env.sh
started_wine=0
status=0
# Tests that cannot run here write one line each into this file; the distinct
# lines are listed at the end, so a green run never hides what it skipped.
mkdir -p build
export TAVRIN_SKIP_LOG="$PWD/build/skipped-tests.txt"
: > "$TAVRIN_SKIP_LOG"
: > build/skipped-groups.txt
# Files made by the Linux encoder tools: the native run keeps them here and
# the Windows build (under Wine, where those tools cannot run) reads them.
export TAVRIN_TOOL_FILES="$PWD/build/tool-files"
if printf '%s\n' "${presets[@]}" | grep -qx native; then rm -rf "$TAVRIN_TOOL_FILES"; fi
for p in "${presets[@]}"; do
  echo "=== $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  if [ "$p" = mingw ] && [ "$started_wine" = 0 ]; then
    wine_env_start
    started_wine=1
    trap wine_env_stop EXIT
  fi
  before=$(wc -l < "$TAVRIN_SKIP_LOG")
  ctest --preset "$p" -j2 || status=1
  tail -n +"$((before + 1))" "$TAVRIN_SKIP_LOG" | sort -u | sed "s/^/$p: /" >> build/skipped-groups.txt
done
# The release as a user meets it: installer, portable zip and Linux tarball.
if printf '%s\n' "${presets[@]}" | grep -qx mingw; then
  echo "=== release"
  bash scripts/test-release.sh || status=1
fi
echo "=== skipped groups"
if [ -s build/skipped-groups.txt ]; then
  sort -u build/skipped-groups.txt | sed 's/^/skipped: /'
else
  echo "none: every test ran"
fi
exit $status
