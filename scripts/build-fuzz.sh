#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUVA_FUZZ=ON \
  -DTUVA_WERROR=OFF -DTUVA_BUILD_GUI=OFF -DTUVA_BUILD_TESTS=OFF -DTUVA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"
