#!/usr/bin/env bash
# Starts the editor under Xvfb with a card-file and a simulated card emulator,
# and writes PNG screenshots of the main window, the About box and the bank
# manager.
# Usage: scripts/screenshots.sh [OUT_DIR]       (default: build/screenshots)
# TAVRIN_BUILD_DIR names an existing cross build to use instead of building
# the mingw preset.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -n "${TAVRIN_BUILD_DIR:-}" ]; then
  bin="$TAVRIN_BUILD_DIR/bin"
  cmake --build "$TAVRIN_BUILD_DIR" --target Tavrin tavrin
else
  bash scripts/setup.sh
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw --target Tavrin tavrin
  bin="$root/build/mingw/bin"
fi

work=$(mktemp -d)
. scripts/wine-env.sh
wine_env_start
cleanup() {
  wine_env_stop
  rm -rf "$work"
}
trap cleanup EXIT

winpath() { echo "Z:${1//\//\\}"; }

# A card with one Multisound and one Drumsound made from generated tones,
# and a simulated device whose bank 1 already holds it.
sox -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 0.6 sine 440 fade 0 0.6 0.2
sox -n -r 44100 -c 1 -b 16 "$work/kick.wav" synth 0.3 sine 60:30 fade 0 0.3 0.25
mkdir -p "$work/device"
export TAVRIN_SIMULATED_DEVICE
TAVRIN_SIMULATED_DEVICE=$(winpath "$work/device")
card=$(winpath "$work/Demo Card.qz")
wine "$bin/tavrin.exe" new "$card" --name "DEMO CARD" >/dev/null
wine "$bin/tavrin.exe" add "$card" --multi "Sine Pad" "$(winpath "$work/tone.wav")" >/dev/null
wine "$bin/tavrin.exe" add "$card" --drum "Kick" "$(winpath "$work/kick.wav")" >/dev/null
wine "$bin/tavrin.exe" send "$card" --bank 1 >/dev/null

wine "$bin/Tavrin.exe" "$card" >/dev/null 2>&1 &

# Waits for a top-level window whose title matches and prints its id.
wait_window() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { echo "window '$1' did not appear" >&2; exit 1; }
  echo "$id"
}

# Screenshot of one window: the screen cut to the window's rectangle.
shoot() {
  local id=$1 file=$2
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
  echo "wrote $file"
}

main=$(wait_window "Tavrin v.* - Demo Card")
sleep 1
shoot "$main" "$out/main-window.png"

# Help > About... through the menu bar (the main window has no frame under
# Xvfb: its menu bar is the top of the window).
eval "$(xdotool getwindowgeometry --shell "$main")"
main_x=$X main_y=$Y main_h=$HEIGHT
xdotool mousemove $((main_x + 52)) $((main_y + 9)) click 1
sleep 0.5
xdotool key a
about=$(wait_window "About Tavrin")
sleep 0.5
shoot "$about" "$out/about-box.png"
xdotool key Return
sleep 0.5

# "Bank Manager": x 10..110, y 400..423 of the 486-unit client area, which
# ends where the window ends.
client_top=$((main_y + main_h - 486))
xdotool mousemove $((main_x + 60)) $((client_top + 411)) click 1
bank=$(wait_window "Tavrin - Bank Manager")
sleep 1
shoot "$bank" "$out/bank-manager.png"
