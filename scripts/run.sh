#!/usr/bin/env bash
# Builds the gateway and starts it on the example configuration in examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarvel80import
echo "Log files: examples/LogFiles/"
exec build/tarvel80import --dir examples "$@"
