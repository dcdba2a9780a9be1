#!/usr/bin/env bash
# batch_decode: how much faster `zefdec -j N -o DIR FILES...` gets through an
# archive than one job at a time.  Run by hand (see README.md), never by ctest.
#
#   bench/batch_decode/batch_decode.sh [--build DIR] [--files N] [--jobs N]
#       [--runs N] [--codec orvo|peln] SPEECH.wav...
#
# The speech files (any format zefenc reads) are encoded once (not timed)
# and repeated to N Zef files (default 40); then the whole set is decoded to
# WAVE with -j 1 and with -j N (default 2), RUNS times each (default 3),
# alternating, into fresh directories.  Prints the wall seconds of every run,
# the medians and the throughput ratio median(-j 1) / median(-j N).
set -euo pipefail

build=build files=40 jobs=2 runs=3 codec=peln
speech=()
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --files) files=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --codec) codec=$2; shift 2 ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        *) speech+=("$1"); shift ;;
    esac
done
[ ${#speech[@]} -gt 0 ] || { echo "batch_decode: give at least one speech file" >&2; exit 2; }
enc=$build/tools/zefenc/zefenc dec=$build/tools/zefdec/zefdec
for t in "$enc" "$dec"; do [ -x "$t" ] || { echo "batch_decode: $t is not built" >&2; exit 2; }; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/zef"
i=0
for s in "${speech[@]}"; do
    i=$((i + 1))
    "$enc" -q -c "$codec" "$s" "$work/src/$i.zef"
done
seconds=0
for n in $(seq 1 "$files"); do
    src=$work/src/$(( (n - 1) % i + 1 )).zef
    cp "$src" "$work/zef/$(printf 'f%04d' "$n").zef"
    seconds=$(echo "$seconds + $("$dec" -q -t raw "$src" - | wc -c) / 16000" | bc -l)
done
printf 'batch_decode: %d %s files, %.1f s of speech, -j 1 against -j %d, %d runs each\n' \
    "$files" "$codec" "$seconds" "$jobs" "$runs"

wall() {  # wall seconds of one batch decode with $1 jobs
    local out=$work/out.$RANDOM
    local t0 t1
    t0=$(date +%s.%N)
    "$dec" -q -j "$1" -o "$out" "$work"/zef/*.zef
    t1=$(date +%s.%N)
    [ "$(ls "$out" | wc -l)" -eq "$files" ] || { echo "batch_decode: -j $1 did not write every file" >&2; exit 1; }
    rm -rf "$out"
    printf '%.3f' "$(echo "$t1 - $t0" | bc -l)"
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

one=() many=()
for r in $(seq 1 "$runs"); do
    one+=("$(wall 1)")
    many+=("$(wall "$jobs")")
done
m1=$(median "${one[@]}") mn=$(median "${many[@]}")
printf '  -j 1:  %.3f s wall (runs: %s)\n' "$m1" "${one[*]}"
printf '  -j %d:  %.3f s wall (runs: %s)\n' "$jobs" "$mn" "${many[*]}"
printf '  throughput -j %d / -j 1: %.2f   (%.0f s of speech per wall second with -j %d)\n' \
    "$jobs" "$(echo "$m1 / $mn" | bc -l)" "$(echo "$seconds / $mn" | bc -l)" "$jobs"
