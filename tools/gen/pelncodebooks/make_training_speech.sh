#!/usr/bin/env bash
# Makes the extra training speech of the Peln shape-codebook trainer: 8 kHz,
# 16-bit mono WAVE files of the sentences below, spoken by espeak-ng and
# flite voices at several speeds and pitches (Debian packages espeak-ng,
# flite and sox).  None of these sentences is in the team's standard
# development set, so that set can be held out for measuring.
# usage: make_training_speech.sh DIR
set -euo pipefail
export SOX_OPTS=-R  # no random dither: two runs give the same files
out=${1:?usage: make_training_speech.sh DIR}
mkdir -p "$out"
sentences=(
  "A gray mist rolled over the harbour before dawn."
  "Please hand me the red cup from the top shelf."
  "The old clock in the hall struck nine times."
  "We drove north for an hour and then turned east."
  "Sharp winds shook the thin branches of the willow."
  "She counted the coins twice and found one missing."
  "Thick soup warms the hands on a frosty evening."
  "The pilot checked every gauge before takeoff."
  "Bring the ladder round to the back of the shed."
  "Fresh bread smells best an hour after baking."
  "His voice was calm although the news was grim."
  "Six small boats waited at the edge of the bay."
  "Turn the valve slowly or the pipe will burst."
  "Children chased the kite across the wet field."
  "The museum opens at ten on most weekdays."
  "Yellow leaves drifted down onto the quiet path."
  "Measure the board again before you cut it."
  "A loud whistle announced the end of the shift."
  "Zebras and giraffes grazed near the water hole."
  "The judge asked the witness to speak clearly."
  "Put the letters in order by the date they arrived."
  "Heavy rain flooded the lower part of the village."
  "Is this the train that stops at every station?"
  "Quick hands shuffled the deck of worn cards."
  "The violin sounded thin in the empty church."
  "Our neighbour fixed the fence with wire and nails."
  "Vivid paintings covered every wall of the studio."
  "He whispered the answer so nobody else could hear."
  "The engine coughed, sputtered and finally started."
  "Seven geese flew low over the frozen marsh."
  "Thank you for waiting, your call is important to us."
  "Oh no, I left my keys on the kitchen table again!"
  "Jazz music drifted from the open window upstairs."
  "The thermometer showed minus four this morning."
  "Shoes with thick soles are good for long hikes."
  "Which of these roads leads back to the city?"
  "Measure twice, cut once, and sweep up afterwards."
  "The lamb stayed close to its mother all day."
  "Everyone cheered when the final whistle blew."
  "Usually the shop closes early on Sundays."
)
# engine:voice:options (espeak: -s speed -p pitch; flite: --setf pairs)
voices=(
  "espeak:en-us+m3:-s 150 -p 40"
  "espeak:en+f2:-s 170 -p 62"
  "espeak:en-gb-scotland+m1:-s 140 -p 50"
  "espeak:en-029+f4:-s 160 -p 70"
  "espeak:en-gb-x-rp+m7:-s 185 -p 30"
  "espeak:en-us+f5:-s 130 -p 55"
  "espeak:en-gb-x-gbcwmd+m2:-s 175 -p 45"
  "espeak:en-us+f1:-s 145 -p 80"
  "flite:awb:"
  "flite:kal16:--setf duration_stretch=1.15"
  "flite:slt:--setf int_f0_target_mean=210 --setf duration_stretch=0.9"
  "flite:rms:--setf int_f0_target_mean=85 --setf duration_stretch=1.2"
)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
for v in "${voices[@]}"; do
  engine=${v%%:*}; rest=${v#*:}; voice=${rest%%:*}; opts=${rest#*:}
  tag="${engine}-${voice//+/_}"; n=0
  for s in "${sentences[@]}"; do
    n=$((n + 1)); name="$out/train-${tag}-$(printf %02d $n).wav"
    # shellcheck disable=SC2086  # opts holds several words on purpose
    if [ "$engine" = espeak ]; then espeak-ng -v "$voice" $opts -w "$tmp/a.wav" "$s"
    else flite -voice "$voice" $opts -t "$s" -o "$tmp/a.wav"; fi
    sox "$tmp/a.wav" -r 8000 -b 16 -e signed -c 1 "$name" norm -3
  done
done
echo "made $(ls "$out"/train-*.wav | wc -l) files in $out"
