#!/usr/bin/env bash
# Makes the breathy and creaky voices on which Peln's harmonic fit is
# checked: 8 kHz, 16-bit mono WAVE files in DIR/breathy and DIR/creaky
# (Debian packages espeak-ng, flite and sox; two runs give the same files).
# None of the sentences is in the training speech or the team's standard
# set.  Measure with bench/speech_quality/speech_quality.py DIR/breathy and
# DIR/creaky.
#   breathy: espeak-ng's half-voiced variant, and clear voices with
#            aspiration noise added: white noise shaped by the speech's own
#            waveform (so it pulses with each glottal cycle, as breath
#            through a leaky glottis does), above 1200 Hz, 10 dB below the
#            speech, on a voice whose top is dulled by a low-pass.
#   creaky:  espeak-ng's croak variant (low pitch with a strong cycle to
#            cycle flutter) at three pitches, and a very low flite voice.
# usage: make_voice_check.sh DIR
set -euo pipefail
export SOX_OPTS=-R  # no random dither, the same noise: two runs give the same files
out=${1:?usage: make_voice_check.sh DIR}
mkdir -p "$out/breathy" "$out/creaky"
sentences=(
  "The cold breeze made the sails flap wildly."
  "Nobody expected the bridge to open so late."
  "A tired farmer leaned on the wooden gate."
  "Mix the paint well before you start the wall."
  "Her brother moved away to a small island."
)
# set:engine:voice:options:aspiration (espeak: -s speed -p pitch; flite: --setf pairs)
voices=(
  "breathy:espeak:en-us+grandma:-s 150 -p 55:"
  "breathy:espeak:en-us+f2:-s 160 -p 60:1"
  "breathy:flite:slt::1"
  "breathy:flite:kal16::1"
  "creaky:espeak:en+croak:-s 150 -p 20:"
  "creaky:espeak:en-us+croak:-s 135 -p 0:"
  "creaky:espeak:en-gb+croak:-s 165 -p 45:"
  "creaky:flite:awb:--setf int_f0_target_mean=60 --setf int_f0_target_stddev=4:"
)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

for v in "${voices[@]}"; do
  IFS=: read -r set engine voice opts breath <<<"$v"
  tag="${engine}-${voice//+/_}"; n=0
  for s in "${sentences[@]}"; do
    n=$((n + 1)); name="$out/$set/${tag}-$(printf %02d $n).wav"
    # shellcheck disable=SC2086  # opts holds several words on purpose
    if [ "$engine" = espeak ]; then espeak-ng -v "$voice" $opts -w "$tmp/a.wav" "$s"
    else flite -voice "$voice" $opts -t "$s" -o "$tmp/a.wav"; fi
    sox "$tmp/a.wav" -r 8000 -b 16 -e signed -c 1 "$tmp/b.wav" norm -3
    if [ -n "$breath" ]; then
      sox "$tmp/b.wav" "$tmp/noise.wav" synth whitenoise amod highpass 1200 highpass 1200
      sox "$tmp/b.wav" "$tmp/dull.wav" lowpass -1 1500
      # aspiration 10 dB below the speech
      sp=$(sox "$tmp/dull.wav" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}')
      no=$(sox "$tmp/noise.wav" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}')
      mix=$(awk -v s="$sp" -v n="$no" 'BEGIN { printf "%.6f", (n > 0 ? 0.5 * 0.3162 * s / n : 0) }')
      sox -m -v 0.5 "$tmp/dull.wav" -v "$mix" "$tmp/noise.wav" -b 16 "$name" norm -3
    else
      cp "$tmp/b.wav" "$name"
    fi
  done
done
echo "made $(ls "$out"/breathy/*.wav "$out"/creaky/*.wav | wc -l) files in $out"
