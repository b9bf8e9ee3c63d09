#!/usr/bin/env bash
# The preview heard: under Wine, through a PulseAudio null sink, records the
# sink's monitor while a window test plays and checks the tones (each within
# 1 Hz): EditorTest.PreviewForRecording, 1000 Hz and, at transpose +120,
# 1071.8 Hz; EditorTest.KeyboardForRecording, two keys of the keyboard strip.
# Then, with the same sound server, EditorTest.ClosingWhilePlaying (the editor
# closed by each of its ways while the preview plays). Starts PulseAudio
# (scripts/setup.sh installs it) when none runs.
set -euo pipefail
cd "$(dirname "$0")/../.."
exe="${1:-build/mingw/bin/win_gui_tests.exe}"
rate=44100
pulse_started=""
if ! pactl info >/dev/null 2>&1; then
  pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load=module-native-protocol-unix >/dev/null 2>&1
  pulse_started=1
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
fi
pactl list short sinks | grep -q '^[0-9]*[[:space:]]nul[[:space:]]' ||
  pactl load-module module-null-sink sink_name=nul rate=$rate >/dev/null
pactl set-default-sink nul
. scripts/wine-env.sh
raw=$(mktemp)
cleanup() {
  [ -n "${recorder:-}" ] && kill "$recorder" 2>/dev/null || true
  rm -f "$raw"
  if [ -n "$own_env" ]; then wine_env_stop; fi
  if [ -n "$pulse_started" ]; then pulseaudio --kill 2>/dev/null || true; fi
}
own_env=""
trap cleanup EXIT
# Under CTest the Wine environment runs already (a display is set).
if [ -z "${DISPLAY:-}" ]; then
  own_env=1
  wine_env_start
fi
# Records the sink while one window test plays; checks the tones it heard
# (each within 1 Hz of the ones given).
heard() {
  local test=$1
  shift
  parec -d nul.monitor --format=float32le --channels=1 --rate=$rate --raw >"$raw" &
  recorder=$!
  sleep 0.5
  TAVRIN_RECORD_PREVIEW=1 scripts/wine-run "$exe" --gtest_filter="EditorTest.$test" 2>/dev/null |
    grep -E '^\[ *(OK|FAILED|SKIPPED) |^key '
  sleep 0.5
  kill "$recorder" 2>/dev/null || true
  recorder=""
  python3 - "$raw" "$rate" "$@" <<'PY'
import array, sys
data = open(sys.argv[1], 'rb').read()
x = array.array('f')
x.frombytes(data[: len(data) // 4 * 4])
rate = int(sys.argv[2])
want = [float(a) for a in sys.argv[3:]]
# Tones: runs of sound separated by at least 0.4 s of silence.
runs, start, quiet = [], None, 0
for i, v in enumerate(x):
    if abs(v) > 0.05:
        if start is None: start = i
        quiet = 0
    elif start is not None:
        quiet += 1
        if quiet > rate * 4 // 10:
            runs.append((start, i - quiet)); start, quiet = None, 0
if start is not None: runs.append((start, len(x)))
def pitch(a, b):
    a += rate // 10; b -= rate // 10  # away from the edges
    t = [i + x[i] / (x[i] - x[i + 1]) for i in range(a, b - 1) if x[i] <= 0 < x[i + 1]]
    # The median period: a late buffer (a busy machine) leaves a gap, not a
    # change of pitch.
    d = sorted(t[k + 1] - t[k] for k in range(len(t) - 1))
    return rate / d[len(d) // 2]
print("runs (s):", " ".join("%.2f-%.2f" % (a / rate, b / rate) for a, b in runs))
tones = [pitch(a, b) for a, b in runs if b - a > rate // 2]
print('tones heard (Hz):', ' '.join('%.1f' % f for f in tones), ' wanted:', ' '.join(sys.argv[3:]))
ok = len(tones) >= len(want) and all(abs(t - w) <= 1 for t, w in zip(tones, want))
sys.exit(0 if ok else 1)
PY
}
status=0
heard PreviewForRecording 1000 1071.8 || status=1
# Keys of the strip: 72 on a sample rooted at 60, 84 in another zone, then
# the root (60) from the computer keyboard.
heard KeyboardForRecording 1000 312.5 500 || status=1
closing=$(TAVRIN_RECORD_PREVIEW=1 scripts/wine-run "$exe" --gtest_filter=EditorTest.ClosingWhilePlaying 2>/dev/null |
  grep -E '^\[ *(OK|FAILED|SKIPPED) ' || true)
echo "$closing"
grep -q '^\[ *OK \] EditorTest.ClosingWhilePlaying' <<<"$closing" || status=1
exit $status
