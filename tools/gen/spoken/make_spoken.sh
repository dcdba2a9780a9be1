#!/usr/bin/env bash
# Makes the player's spoken samples from synthetic speech:
#   player/intro.zef         the welcome the player plays when started without a file
#   sdk/API/FX/previews.cpp  the 27 Guisette previews, each the preset's name spoken
#
#   tools/gen/spoken/make_spoken.sh BUILD_DIR
#
# BUILD_DIR is a configured build tree; the script builds zefenc and zefinfo in
# it first, so the samples are always coded by the current encoder (rerun it
# whenever the encoder or its Guisette transformations change).  Needs flite,
# sox and python3 (Debian: apt-get install flite sox python3).
#
# The voice is flite's "slt" (US English, female): of the synthesizers at hand
# it keeps the most of its quality through a 2.4 kbit/s vocoder.  Text is
# spoken one sentence at a time, taken to 8000 Hz 16-bit mono, joined with
# short pauses and peak-normalised to -9 dBFS (a vocoder does not keep the
# waveform: decoded peaks come out up to 6 dB higher).  Record 0 (no Guisette)
# says "Plain voice"; the others say their catalogue name, each followed by
# "This is what this voice sounds like."  Every preview is fitted to exactly
# 221 Orvo frames (39780 samples, 4.97 s): padded with silence, or played a
# little faster with sox's tempo when the speech would not fit.  Nothing is
# random (sox runs with -R and without dither): for a given flite and sox the
# output is the same on every run.
set -euo pipefail

readonly VOICE=slt
readonly RATE=8000
readonly PREVIEW_SAMPLES=39780   # 221 frames of 180 samples
readonly LEAD=0.30               # silence before the speech, seconds
readonly GAP=0.40                # pause between sentences
readonly TAIL=0.35               # least silence after the speech

die() { echo "make_spoken: $*" >&2; exit 1; }

[[ $# -eq 1 ]] || die "usage: tools/gen/spoken/make_spoken.sh BUILD_DIR"
build=$(cd "$1" 2>/dev/null && pwd) || die "no build directory $1"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
for tool in flite sox python3 cmake; do
    command -v "$tool" >/dev/null || die "$tool is missing (apt-get install flite sox python3 cmake)"
done
cmake --build "$build" --target zefenc zefinfo -j2 >/dev/null || die "cannot build zefenc and zefinfo in $build"
zefenc=$build/tools/zefenc/zefenc
zefinfo=$build/tools/zefinfo/zefinfo
# flite --version exits 1 after printing its version.
tts_version=$({ flite --version || true; } | sed -n 's/^ *version: *\([^ ]*\).*/\1/p' | head -n1)
[[ -n $tts_version ]] || die "cannot read flite's version"
package=$(dpkg-query -W -f='${Version}' flite 2>/dev/null || true)
[[ -z $package ]] || tts_version="$tts_version (package $package)"
sox_version=$(sox --version | sed 's/^sox: *SoX *//')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# say TEXT OUT.wav: one sentence at 8000 Hz, 16-bit mono, without the
# synthesizer's own leading and trailing silence.
say() {
    flite -voice "$VOICE" -t "$1" -o "$work/tts.wav" || die "flite failed on: $1"
    sox -R -D "$work/tts.wav" -b 16 "$2" rate "$RATE" channels 1 \
        silence 1 0.01 0.1% reverse silence 1 0.01 0.1% reverse
}

# speak OUT.wav SENTENCE...: the sentences with pauses between them, silence
# before and after, peak at -9 dBFS.
speak() {
    local out=$1; shift
    local parts=() i=0
    sox -R -n -r "$RATE" -c 1 -b 16 "$work/gap.wav" trim 0 "$GAP"
    for sentence in "$@"; do
        say "$sentence" "$work/s$i.wav"
        ((i > 0)) && parts+=("$work/gap.wav")
        parts+=("$work/s$i.wav")
        i=$((i + 1))
    done
    sox -R -D "${parts[@]}" "$out" gain -n -9 pad "$LEAD" "$TAIL"
}

# fit IN.wav OUT.wav: exactly PREVIEW_SAMPLES samples, sped up when too long.
fit() {
    local n
    n=$(soxi -s "$1")
    if ((n > PREVIEW_SAMPLES)); then
        local tempo
        tempo=$(python3 -c "print(f'{$n / $PREVIEW_SAMPLES:.4f}')")
        echo "make_spoken: $(basename "$1") is $n samples, tempo $tempo" >&2
        sox -R -D "$1" "$work/fit.wav" tempo -s "$tempo"
        set -- "$work/fit.wav" "$2"
        n=$(soxi -s "$1")
    fi
    # tempo may come out a few samples long: trim; else pad the end.
    if ((n >= PREVIEW_SAMPLES)); then
        sox -R -D "$1" "$2" trim 0 "${PREVIEW_SAMPLES}s"
    else
        sox -R -D "$1" "$2" pad 0 "$((PREVIEW_SAMPLES - n))s"
    fi
    [[ $(soxi -s "$2") -eq $PREVIEW_SAMPLES ]] || die "$2 is not $PREVIEW_SAMPLES samples"
}

# --- the intro -----------------------------------------------------------
speak "$work/intro.wav" \
    "Welcome to the Zef player." \
    "It plays compressed speech files, coded by the Orvo and Peln speech coders." \
    "Press play to hear this again." \
    "Drag the scale to move through a file, and use the speed pointer to slow it down or speed it up."
"$zefenc" -q -c orvo "$work/intro.wav" "$root/player/intro.zef" || die "zefenc failed on the intro"
echo "make_spoken: player/intro.zef, $(soxi -D "$work/intro.wav") s" >&2

# --- the previews --------------------------------------------------------
# Numbers and names in catalogue order, from the library itself; the name
# column is found by the heading so that names may contain spaces.
mapfile -t catalogue < <("$zefinfo" --guisettes | awk '
    NR == 1 { from = index($0, "name"); to = index($0, "effect"); next }
    { name = substr($0, from, to - from); sub(/ +$/, "", name); print $1 "\t" name }')
((${#catalogue[@]} == 27)) || die "zefinfo lists ${#catalogue[@]} Guisettes, not 27"

images=()
for entry in "${catalogue[@]}"; do
    number=${entry%%$'\t'*}
    name=${entry#*$'\t'}
    [[ $number =~ ^[0-9]+$ && -n $name ]] || die "unreadable catalogue line: $entry"
    if ((number == 0)); then
        name="Plain voice"; guisette=(); size=1566
    else
        guisette=(--guisette "$number"); size=1576
    fi
    speak "$work/p$number.raw.wav" "$name." "This is what this voice sounds like."
    fit "$work/p$number.raw.wav" "$work/p$number.wav"
    "$zefenc" -q -c orvo "${guisette[@]}" "$work/p$number.wav" "$work/p$number.zef" \
        || die "zefenc failed on preview $number"
    actual=$(stat -c %s "$work/p$number.zef")
    ((actual == size)) || die "preview $number is $actual bytes, not $size: see zefenc's WAVE header"
    images+=("$number=$work/p$number.zef")
done

python3 "$root/tools/gen/spoken/previews_to_cpp.py" \
    --command "tools/gen/spoken/make_spoken.sh BUILD_DIR" \
    --made-with "flite $tts_version voice $VOICE, sox $sox_version" \
    "${images[@]}" > "$work/previews.cpp"
mv "$work/previews.cpp" "$root/sdk/API/FX/previews.cpp"
echo "make_spoken: sdk/API/FX/previews.cpp, ${#images[@]} previews" >&2
