#!/usr/bin/env bash
# Installs what is missing, builds the player and starts it on
# player/intro.zef (or on the Zef file given as the argument).
#
# With a usable X display the player opens its window there and plays
# through ALSA (through a WAVE file instead when the machine has no sound
# card, or as ZEFAUDIO says). Without one it runs under a private Xvfb, plays
# the file to its end into a WAVE file at real-time pace, and prints where
# that recording and a screenshot of its window went.
#
# ZEF_BUILD_DIR chooses the build directory (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
file=${1:-player/intro.zef}
[ -r "$file" ] || { echo "run: cannot read $file" >&2; exit 1; }

scripts/setup.sh
build=${ZEF_BUILD_DIR:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target zefplayer
build=$(cd "$build" && pwd)
player=$build/player/zefplayer
out=$build/run
mkdir -p "$out"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  if [ -z "${ZEFAUDIO:-}" ] && ! aplay -l 2>/dev/null | grep -q '^card'; then
    export ZEFAUDIO="file:$out/played.wav"
    echo "run: no sound card; the sound goes to $out/played.wav"
  fi
  echo "run: playing $file on $DISPLAY (close the window to end)"
  exec "$player" "$file"
fi

# No display: a private X server, the file device, a screenshot at the end.
wav=$out/played.wav
png=$out/zefplayer-window.png
rm -f "$wav" "$png" "$out/display"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$out/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
[ -s "$out/display" ] || { echo "run: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$out/display")"
echo "run: no usable display; playing $file under Xvfb on $DISPLAY into $wav"

ZEFAUDIO="file:$wav" "$player" "$file" &
pids=("$!" "${pids[@]}")

# The file device completes the WAVE header when the player closes it at
# the end of the sound: wait for a non-zero data size there.
data_size() { [ -s "$wav" ] && od -An -tu4 -j40 -N4 "$wav" | tr -d ' ' || echo 0; }
for _ in $(seq 1200); do
  [ "$(data_size)" -gt 0 ] 2>/dev/null && break
  kill -0 "${pids[0]}" 2>/dev/null || { echo "run: the player ended early" >&2; exit 1; }
  sleep 0.1
done
[ "$(data_size)" -gt 0 ] || { echo "run: the sound did not end within two minutes" >&2; exit 1; }

sleep 0.5  # the window's last redraw
window=$(xdotool search --onlyvisible --name '^zefplayer' | head -n1)
import -window "$window" "$png"
kill -TERM "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true

seconds=$(awk -v b="$(data_size)" 'BEGIN { printf "%.2f", b / 16000 }')
echo "run: decoded sound ($seconds s, 8000 Hz 16-bit mono): $wav"
echo "run: screenshot of the window: $png"
