#!/usr/bin/env bash
# Builds the release from fresh build folders and writes into dist/:
#   Tavrin-<version>-setup.exe          the Windows installer (NSIS)
#   Tavrin-<version>-windows.zip        the portable Windows build
#   tavrin-<version>-linux-x86_64.tar.gz  the command-line tool for Linux
# The version is the one in CMakeLists.txt (project(... VERSION ...)).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh >/dev/null

version=$(sed -n 's/^project(Tavrin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }

for p in release-mingw release-linux; do
  rm -rf "build/$p"
  cmake --preset "$p" >/dev/null
done
cmake --build --preset release-mingw --target Tavrin tavrin
cmake --build --preset release-linux --target tavrin

rm -rf dist
mkdir -p dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# The files every Windows package carries.
win="$stage/Tavrin-$version-windows"
# Windows file names ignore case: the command-line tavrin.exe cannot sit
# beside Tavrin.exe, so it has a folder of its own.
mkdir -p "$win/cli"
cp build/release-mingw/bin/Tavrin.exe "$win/"
cp build/release-mingw/bin/tavrin.exe "$win/cli/"
sed 's/$/\r/' README.md > "$win/README.txt"
sed 's/$/\r/' scripts/installer/simulated-device.txt > "$win/Simulated device.txt"

(cd "$stage" && zip -q -r -X "$root/dist/Tavrin-$version-windows.zip" "Tavrin-$version-windows")

makensis -V2 -DVERSION="$version" -DFILES="$win" -DICON="$root/src/app/res/tavrin.ico" \
  -DOUTFILE="$root/dist/Tavrin-$version-setup.exe" scripts/installer/tavrin.nsi

lin="$stage/tavrin-$version-linux-x86_64"
mkdir -p "$lin"
cp build/release-linux/bin/tavrin README.md "$lin/"
tar -C "$stage" --owner=0 --group=0 -czf "dist/tavrin-$version-linux-x86_64.tar.gz" "tavrin-$version-linux-x86_64"

for f in dist/*; do printf '%10d  %s\n' "$(stat -c %s "$f")" "$f"; done
