#!/usr/bin/env bash
# Starts the editor under Xvfb with a card-file and a simulated card emulator,
# and writes PNG screenshots of the main window, the About box, the sound
# editor (a Multisound zoomed to its loop, with the seam view, and a
# Drumsound), the bank manager and "Fit to Card" on
# a second card too large for the card memory. The README shows
# docs/main-window.png, docs/sound-editor.png and docs/fit-to-card.png, copied
# from here when TAVRIN_UPDATE_DOCS=1.
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

# A card with one Multisound of three looped samples and one Drumsound, made
# from generated tones, and a simulated device whose bank 1 already holds it.
python3 - "$work" <<'PY'
import math, struct, sys
def wav(path, note, seconds, loop_periods):
    rate, freq = 31250, 440.0 * 2 ** ((note - 69) / 12)
    n = int(rate * seconds)
    # A quick decay to a steady sustain, looped before its last five periods.
    frames = [int(20000 * (0.6 + 0.4 * math.exp(-8 * i / n)) * (math.sin(2 * math.pi * freq * i / rate)
              + 0.3 * math.sin(6 * math.pi * freq * i / rate))) for i in range(n)]
    period = rate / freq
    end = int(n - 1 - 5 * period)
    start = int(round(end - loop_periods * period))
    data = struct.pack('<%dh' % n, *frames)
    fmt = struct.pack('<HHIIHH', 1, 1, rate, rate * 2, 2, 16)
    smpl = struct.pack('<9I', 0, 0, 1000000000 // rate, note, 0, 0, 0, 1, 0) + struct.pack('<6I', 0, 0, start, end, 0, 0)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', len(data)) + data
    body += b'smpl' + struct.pack('<I', len(smpl)) + smpl
    open(path, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
for name, note in (("Pad C3", 48), ("Pad C4", 60), ("Pad C5", 72)):
    wav(sys.argv[1] + "/" + name + ".wav", note, 0.5, 20)
PY
sox -n -r 44100 -c 1 -b 16 "$work/kick.wav" synth 0.3 sine 60:30 fade 0 0.3 0.25
mkdir -p "$work/device"
export TAVRIN_SIMULATED_DEVICE
TAVRIN_SIMULATED_DEVICE=$(winpath "$work/device")
card=$(winpath "$work/Demo Card.qz")
wine "$bin/tavrin.exe" new "$card" --name "DEMO CARD" >/dev/null
wine "$bin/tavrin.exe" add "$card" --multi "Pad" "$(winpath "$work/Pad C3.wav")" "$(winpath "$work/Pad C4.wav")" \
  "$(winpath "$work/Pad C5.wav")" >/dev/null
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

# The sound editor by a double click on a sound's row (lists at x 10..160
# and 170..320, first row at y 56 of the client area): the Multisound with
# its first sample selected, "Find Loop" pressed and zoomed to the loop
# ("Zoom to Loop" at x 500..610, y 10..33 of the 1000 x 600 client area, which
# ends where the window ends) beside its seam, then the Drumsound. Alt+F4 closes it.
client_top=$((main_y + main_h - 486))
editor_shot() {
  xdotool mousemove $((main_x + $1)) $((client_top + 64)) click --repeat 2 --delay 100 1
  local editor
  editor=$(wait_window "Tavrin v.* - Edit $2")
  sleep 1
  if [ -n "${4:-}" ]; then
    eval "$(xdotool getwindowgeometry --shell "$editor")"
    # "Find Loop" (x 500..600, y 328..351), then "Zoom to Loop".
    xdotool mousemove $((X + (WIDTH - 1000) / 2 + 550)) $((Y + HEIGHT - 600 + 339)) click 1
    sleep 1
    xdotool mousemove $((X + (WIDTH - 1000) / 2 + 555)) $((Y + HEIGHT - 600 + 21)) click 1
    # The seam view (x 500..990, y 66..256) three notches wider: a few periods.
    xdotool mousemove $((X + (WIDTH - 1000) / 2 + 745)) $((Y + HEIGHT - 600 + 160)) click --repeat 3 --delay 100 5
    # The cursor over the waveform shows its frame and time.
    xdotool mousemove $((X + (WIDTH - 1000) / 2 + 300)) $((Y + HEIGHT - 600 + 120))
    sleep 1
  fi
  shoot "$editor" "$out/$3"
  xdotool windowactivate --sync "$editor" key alt+F4 2>/dev/null || xdotool key alt+F4
  sleep 0.5
}
editor_shot 60 "Pad" editor-multisound.png zoom
editor_shot 220 "Kick" editor-drumsound.png

# "Bank Manager": x 10..110, y 400..423 of the 486-unit client area, which
# ends where the window ends.
xdotool mousemove $((main_x + 60)) $((client_top + 411)) click 1
bank=$(wait_window "Tavrin - Bank Manager")
sleep 1
shoot "$bank" "$out/bank-manager.png"

xdotool windowactivate --sync "$bank" key alt+F4 2>/dev/null || xdotool key alt+F4
sleep 0.5

# "Fit to Card" on a card of un-looped strings, plucks and a kick, over twice
# the card memory, handed over as a second start would.
# Named after their notes, so that each gets its zone (its root and the 11
# keys above it, as the import reads a note from a name).
names=(C3 D#3 F#3 A3 C4 D#4 F#4 A4)
i=0
for n in 48 51 54 57 60 63 66 69; do
  sox -n -r 44100 -c 1 -b 16 "$work/Str ${names[$i]}.wav" synth 3 sawtooth "$(python3 -c "print(440*2**(($n-69)/12))")" \
    fade 0.05 3 0.2 vol 0.5
  i=$((i + 1))
done
for n in 50 62; do
  sox -n -r 44100 -c 1 -b 16 "$work/pl$n.wav" synth 2 pluck "$(python3 -c "print(440*2**(($n-69)/12))")"
done
big=$(winpath "$work/Big Card.qz")
strings=()
for name in "${names[@]}"; do strings+=("$(winpath "$work/Str $name.wav")"); done
wine "$bin/tavrin.exe" add "$big" --multi "Strings" "${strings[@]}" --detect-root >/dev/null
wine "$bin/tavrin.exe" add "$big" --multi "Pluck" "$(winpath "$work/pl50.wav")" "$(winpath "$work/pl62.wav")" \
  --detect-root >/dev/null
wine "$bin/tavrin.exe" add "$big" --drum "Kick" "$(winpath "$work/kick.wav")" >/dev/null
wine "$bin/Tavrin.exe" "$big" >/dev/null 2>&1
main=$(wait_window "Tavrin v.* - Big Card")
sleep 1
xdotool mousemove $((main_x + 15)) $((main_y + 9)) click 1
sleep 0.5
xdotool key f
fit=$(wait_window "Tavrin - Fit to Card")
sleep 1
shoot "$fit" "$out/fit-to-card.png"

# The README's pictures.
if [ "${TAVRIN_UPDATE_DOCS:-}" = 1 ]; then
  cp "$out/main-window.png" "$root/docs/main-window.png"
  cp "$out/editor-multisound.png" "$root/docs/sound-editor.png"
  cp "$out/fit-to-card.png" "$root/docs/fit-to-card.png"
  echo "updated docs/main-window.png, docs/sound-editor.png and docs/fit-to-card.png"
fi
