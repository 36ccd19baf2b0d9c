#!/usr/bin/env bash
# Builds the window demo when needed and saves pictures of both windows:
# docs/main-window.png and docs/debug-window.png.
#
# The demo renders the windows itself, so the offscreen platform is enough. With --xvfb it runs
# on a virtual X display instead (installing Xvfb when missing).
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j2 --target window_demo >/dev/null
mkdir -p docs

if [ "${1:-}" = "--xvfb" ]; then
  if ! command -v xvfb-run >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends xvfb xauth
  fi
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" build/tools/window_demo --grab docs
else
  QT_QPA_PLATFORM=offscreen build/tools/window_demo --grab docs
fi
