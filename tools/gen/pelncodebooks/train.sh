#!/usr/bin/env bash
# Trains the Peln spectral-shape codebooks and prints them as C++ source:
#   tools/gen/pelncodebooks/train.sh BUILD_DIR WORK_DIR > sdk/CODEC/Peln/PACK/pelncodebooks.cpp
# BUILD_DIR holds a built tools/gen/pelncodebooks/pelncodebooks_train
# (an optimised build is much faster).  WORK_DIR receives the speech: the
# sentences of make_training_speech.sh and the team's standard set from
# the shared make-speech.sh (MAKE_SPEECH, default
# /work/shared/tools/make-speech.sh); sets already there are reused.
# The books are trained on the first set and the odd-numbered sentences of
# the standard set; the even-numbered ones are held out, and the trainer
# reports the shape error on them (standard error).
set -euo pipefail
build=${1:?usage: train.sh BUILD_DIR WORK_DIR}
work=${2:?usage: train.sh BUILD_DIR WORK_DIR}
here=$(cd "$(dirname "$0")" && pwd)
trainer="$build/tools/gen/pelncodebooks/pelncodebooks_train"
make_speech=${MAKE_SPEECH:-/work/shared/tools/make-speech.sh}
[ -x "$trainer" ] || { echo "train.sh: no trainer at $trainer (build target pelncodebooks_train)" >&2; exit 1; }

mkdir -p "$work"
if [ "$(ls "$work"/train/*.wav 2>/dev/null | wc -l)" -ne 480 ]; then
  "$here/make_training_speech.sh" "$work/train" >&2
fi
if [ "$(ls "$work"/standard/*.wav 2>/dev/null | wc -l)" -ne 60 ]; then
  "$make_speech" "$work/standard" >&2
fi
rm -rf "$work/standard-odd" "$work/standard-even"
mkdir -p "$work/standard-odd" "$work/standard-even"
for f in "$work"/standard/*.wav; do
  name=$(basename "$f"); n=${name%.wav}; n=${n##*-}
  if [ $((10#$n % 2)) -eq 1 ]; then ln -s "$f" "$work/standard-odd/$name"
  else ln -s "$f" "$work/standard-even/$name"; fi
done

"$trainer" --iterations 40 \
  --command "tools/gen/pelncodebooks/train.sh BUILD_DIR WORK_DIR > sdk/CODEC/Peln/PACK/pelncodebooks.cpp" \
  --origin "make_training_speech.sh (40 sentences, 12 voices) and the odd-numbered sentences of make-speech.sh" \
  --eval "$work/standard-even" "$work/train" "$work/standard-odd"
