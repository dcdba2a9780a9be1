#!/usr/bin/env bash
# sanitize-player.sh BUILD: runs the player and embedhost of a sanitizer
# build (ZEF_SANITIZE=ON) on a private Xvfb, each playing the bundled file
# to a null device; any sanitizer report (a leak included) fails the run.
set -euo pipefail
build=$1
top=$(cd "$(dirname "$0")/.." && pwd)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
export ZEFAUDIO=null:sanitize-$$,speed=20
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
read -r -t 20 display <&"$fd"
export DISPLAY=:$display

"$build/player/embedhost" -q "$top/player/intro.zef" >/dev/null
"$build/player/zefplayer" "$top/player/intro.zef" &
player=$!
sleep 3
kill -TERM "$player"
wait "$player"
echo "player and embedhost: no sanitizer report"
