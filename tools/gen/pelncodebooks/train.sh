#!/usr/bin/env bash
# Trains the Peln spectral-shape codebooks and prints them as C++ source:
#   tools/gen/pelncodebooks/train.sh BUILD_DIR WORK_DIR [DEVSET] > sdk/CODEC/Peln/PACK/pelncodebooks.cpp
# BUILD_DIR holds a built tools/gen/pelncodebooks/pelncodebooks_train
# (an optimised build is much faster).  WORK_DIR receives the speech: the
# sentences of make_training_speech.sh and the team's standard set from
# the shared make-speech.sh (MAKE_SPEECH, default
# /work/shared/tools/make-speech.sh); sets already there are reused.
# DEVSET is the human development set of bench/speech_quality/make_devset.py;
# without it the script makes one in WORK_DIR/devset (or reuses it).
#
# Material: the first set, the odd-numbered sentences of the standard set,
# and the `tune` half of the development set, clean and in the conditions
# that leave the speech alone (offset, rumble, the three levels, MP3,
# clipping).  The conditions with added noise are left out: the books
# describe speech, and the noise is the denoiser's.  Held out, with the
# trainer's figures on each: the even-numbered standard sentences and the
# development set's clean `report` half.
set -euo pipefail
export SOX_OPTS=-R  # speech made here is the same on every run: sox adds no random dither
build=${1:?usage: train.sh BUILD_DIR WORK_DIR [DEVSET]}
work=${2:?usage: train.sh BUILD_DIR WORK_DIR [DEVSET]}
devset=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../.." && pwd)
trainer="$build/tools/gen/pelncodebooks/pelncodebooks_train"
make_speech=${MAKE_SPEECH:-/work/shared/tools/make-speech.sh}
conditions=(clean dc rumble level-40 level-26 level-6 mp3 clipped)
[ -x "$trainer" ] || { echo "train.sh: no trainer at $trainer (build target pelncodebooks_train)" >&2; exit 1; }

mkdir -p "$work"
if [ "$(ls "$work"/train/*.wav 2>/dev/null | wc -l)" -ne 480 ]; then
  "$here/make_training_speech.sh" "$work/train" >&2
fi
if [ "$(ls "$work"/standard/*.wav 2>/dev/null | wc -l)" -ne 60 ]; then
  "$make_speech" "$work/standard" >&2
fi
if [ -z "$devset" ]; then
  devset="$work/devset"
  if [ "$(ls "$devset"/tune/clean/*.wav 2>/dev/null | wc -l)" -ne 5 ]; then
    /usr/bin/python3 "$repo/bench/speech_quality/make_devset.py" "$devset" >&2
  fi
fi
human=()
for c in "${conditions[@]}"; do
  [ -n "$(ls "$devset/tune/$c"/*.wav 2>/dev/null)" ] || { echo "train.sh: no $devset/tune/$c/*.wav" >&2; exit 1; }
  human+=("$devset/tune/$c")
done
[ -n "$(ls "$devset"/report/clean/*.wav 2>/dev/null)" ] || { echo "train.sh: no $devset/report/clean/*.wav" >&2; exit 1; }
rm -rf "$work/standard-odd" "$work/standard-even"
mkdir -p "$work/standard-odd" "$work/standard-even"
for f in "$work"/standard/*.wav; do
  name=$(basename "$f"); n=${name%.wav}; n=${n##*-}
  if [ $((10#$n % 2)) -eq 1 ]; then ln -s "$f" "$work/standard-odd/$name"
  else ln -s "$f" "$work/standard-even/$name"; fi
done

"$trainer" --iterations 40 \
  --command "tools/gen/pelncodebooks/train.sh BUILD_DIR WORK_DIR [DEVSET] > sdk/CODEC/Peln/PACK/pelncodebooks.cpp" \
  --origin "make_training_speech.sh (40 sentences, 12 voices), the odd-numbered sentences of make-speech.sh, and the tune half of bench/speech_quality/make_devset.py's human recordings (hts1a, morig, big_dog, vk5qi, kristoff: ${conditions[*]})" \
  --eval "$work/standard-even" --eval "$devset/report/clean" "$work/train" "$work/standard-odd" "${human[@]}"
