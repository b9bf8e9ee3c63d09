#!/usr/bin/env bash
# The include graph runs one way, floor by floor:
#   base <- card <- audio, device <- editor, plan <- app, cli
# A file may include its own folder and any lower floor, never a floor above
# nor a neighbour on its own floor.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A floor=([base]=0 [card]=1 [audio]=2 [device]=2 [editor]=3 [plan]=3 [app]=4 [cli]=4)
bad=0
while IFS= read -r hit; do
  file=${hit%%:*}
  from=${file#src/}; from=${from%%/*}
  to=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([a-z]+)\/.*/\1/' <<<"$hit")
  [ "$from" = "$to" ] && continue
  if [ -z "${floor[$from]:-}" ] || [ -z "${floor[$to]:-}" ]; then
    echo "unknown folder in include: $hit" >&2; bad=1; continue
  fi
  if [ "${floor[$to]}" -ge "${floor[$from]}" ]; then
    echo "include runs up or across a floor: $hit" >&2; bad=1
  fi
done < <(grep -rnE '#[[:space:]]*include[[:space:]]*"[a-z]+/' src --include='*.cpp' --include='*.h' || true)
[ "$bad" = 0 ] || exit 1
echo "floor check: includes run base <- card <- audio, device <- editor, plan <- app, cli"
