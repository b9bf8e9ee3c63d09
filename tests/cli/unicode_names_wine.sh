#!/usr/bin/env bash
# The Windows tavrin.exe under Wine: card and file names outside any ANSI code
# page are taken whole from the UTF-16 command line and printed as UTF-8.
set -u
exe=$1
run=$(dirname "$0")/../../scripts/wine-run
export LC_ALL=C.UTF-8
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail=0
for name in 'Flügel C4.qz' 'Рояль.qz' 'ピアノ.qz'; do
  "$run" "$exe" new "$name" --name 'Flügel' >/dev/null 2>&1
  if [ ! -f "$dir/$name" ]; then
    echo "FAILED: new \"$name\" did not create that file: $(ls "$dir")"; fail=1; continue
  fi
  out=$("$run" "$exe" info "$name" 2>&1)
  case "$out" in
    *'card "Flügel"'*) echo "ok: $name" ;;
    *) echo "FAILED: info \"$name\" printed: $out"; fail=1 ;;
  esac
done
exit $fail
