#!/usr/bin/env bash
# Takes the README's pictures, docs/main-window.png and docs/debug-window.png, of the real
# gateway: it runs on the example configuration on a virtual X display (Xvfb), the simulators
# send examples/events.txt to both TCP ports and an alarm server connects; the debug window is
# opened through the Show menu. Uses the example's ports 14000, 4001 and 4002, which must be
# free.
#
# Needs the Debian packages xvfb and xauth (the virtual display), xdotool (finds the windows,
# clicks the menu) and imagemagick ("import" saves a window); installs them when missing. The
# tests do not need them.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--on-display" ]; then
  missing=()
  for package in xvfb xauth xdotool imagemagick; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  [ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
  cmake --build build -j2 --target tarvel80import equipment_sim alarm_server_sim >/dev/null
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp examples/TARVEL80Import.ini "$work/"

# Port 1 connects to this one at its first attempt, a second after the start.
build/tools/equipment_sim --listen 4002 --file examples/events.txt --line-delay 400 --keep \
  2>/dev/null &
pids+=($!)
QT_QPA_PLATFORM=xcb build/tarvel80import --dir "$work" 2>"$work/gateway.err" &
pids+=($!)
main=$(timeout 30 xdotool search --sync --onlyvisible --name "^TARVEL80 Import for Ostrel Alarm Server - Version" | head -1)
xdotool windowsize "$main" 760 190

# The debug window, from the Show menu, moved below the main window.
xdotool windowfocus --sync "$main" key alt+s d
debug=$(timeout 30 xdotool search --sync --onlyvisible --name "^TARVEL80 Import for Ostrel Alarm Server - Debug$" | head -1)
xdotool windowmove "$debug" 0 260 windowsize "$debug" 720 300

build/tools/alarm_server_sim 127.0.0.1:14000 >/dev/null 2>&1 &
pids+=($!)
sleep 1
{
  cat examples/events.txt
  sleep 4
} | build/tools/equipment_sim --connect 127.0.0.1:4001 --line-delay 300 --keep 2>/dev/null &
pids+=($!)
sleep 6  # both files are through, and the main window has shown the counters

mkdir -p docs
import -window "$main" docs/main-window.png
import -window "$debug" docs/debug-window.png
echo "saved docs/main-window.png and docs/debug-window.png"
