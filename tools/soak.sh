#!/usr/bin/env bash
# Soak of the gateway under faults on loopback: builds a Release tree in build-release/ and runs
# tools/soak_driver.cpp for the given minutes (default 10). Exit status 1 on a violation.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-10}"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target tarvel80import soak_driver
exec build-release/tools/soak_driver --minutes "$minutes"
