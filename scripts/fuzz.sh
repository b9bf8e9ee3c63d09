#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a while under ASan/UBSan.
# Usage: scripts/fuzz.sh [SECONDS] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
for t in "${targets[@]}"; do
  base="${t%_fuzz}"
  corpus="build/native-asan/fuzz-corpus/$base"
  mkdir -p "$corpus"
  if [ -x "build/native-asan/bin/${base}_seeds" ]; then "build/native-asan/bin/${base}_seeds" "$corpus"; fi
  if [ -d "fuzz/corpus/$base" ]; then cp -r "fuzz/corpus/$base/." "$corpus/"; fi
  echo "=== $t for ${seconds}s"
  "build/native-asan/bin/$t" -max_total_time="$seconds" -max_len=65536 "$corpus"
done
