#!/usr/bin/env bash
# Installs what is missing, builds, and describes the bundled sample files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zefinfo
build/tools/zefinfo/zefinfo tests/data/*.zef tests/data/*.wav tests/data/*.aif* 2>&1 || true
