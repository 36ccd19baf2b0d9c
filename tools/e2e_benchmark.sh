#!/usr/bin/env bash
# Builds a Release tree in build-release/ and runs the end-to-end benchmark there.
# Arguments go to the benchmark (see tools/e2e_benchmark.cpp), e.g. --lines 2000000.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v socat >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends socat
fi
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target tarvel80import e2e_benchmark
exec build-release/tools/e2e_benchmark "$@"
