#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build briefly over a copy of its seed
# corpus.  usage: run-all.sh BUILD_DIR SECONDS
set -euo pipefail
build=${1:?build dir}; seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
found=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/"; fi
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 "$work" \
      >"$build/$name.log" 2>&1 || { tail -50 "$build/$name.log"; exit 1; }
  rm -rf "$work"
done
[ $found -eq 1 ] || echo "fuzz: no targets built"
