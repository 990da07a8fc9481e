#!/usr/bin/env bash
# Builds the regular-expression benchmark in Release mode (build-bench/) and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTOREL_BUILD_BENCH=ON \
    -DVANTOREL_BUILD_TESTS=OFF -DVANTOREL_BUILD_APP=OFF >/dev/null
cmake --build build-bench --target regex_bench -j2 >/dev/null
build-bench/regex_bench
