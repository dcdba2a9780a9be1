#!/usr/bin/env bash
# Set-up, build and every test: the normal build, the codec library's tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, the player and
# embedhost under them too, and a brief run of each fuzz target over its seed
# corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=$(nproc)

scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DZEF_SANITIZE=ON -DZEF_LIBRARY_ONLY=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -L lib

# The player and embedhost under the same sanitizers, LeakSanitizer included.
cmake -S . -B build-sanitize-player -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEF_SANITIZE=ON >/dev/null
cmake --build build-sanitize-player -j "$jobs" --target zefplayer embedhost
scripts/sanitize-player.sh build-sanitize-player

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZEF_FUZZ=ON -DZEF_LIBRARY_ONLY=ON >/dev/null
cmake --build build-fuzz -j "$jobs"
"$top/fuzz/run-all.sh" "$top/build-fuzz" "${ZEF_FUZZ_SECONDS:-20}"

echo "all tests passed"
