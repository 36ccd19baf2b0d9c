#!/usr/bin/env bash
# Saves docs/status-page.png: the gateway with its status server, an alarm server and equipment
# played by the simulators, and the page taken by headless Chromium while the lines flow.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v chromium >/dev/null || { echo "chromium is not installed" >&2; exit 1; }
[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j2 --target tarvel80import equipment_sim alarm_server_sim >/dev/null
dir=$(mktemp -d /tmp/status-shot-XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$dir"' EXIT
cat > "$dir/TARVEL80Import.ini" <<'INI'
[General]
OstrelPort=24200
StatusPort=24280
WatchDogTagName=TARVEL80-WD
ReconnectInterval=5
[TARVEL80_Port_0]
Description=Main building panel
PortType=TCPS
ListenPort=24201
PollFailTimeout=60
[TARVEL80_Port_1]
Description=Warehouse panel
PortType=TCPC
RemoteAddress=127.0.0.1:24202
PollFailTimeout=30
[TARVEL80_Port_2]
Description=Gate house
PortType=TCPS
ListenPort=24203
PollFailTimeout=3
INI
build/tarvel80import --dir "$dir" --headless & pids+=($!)
sleep 1
build/tools/alarm_server_sim 127.0.0.1:24200 --quiet >/dev/null 2>&1 & pids+=($!)
build/tools/equipment_sim --connect 127.0.0.1:24201 --rate 20 >/dev/null 2>&1 & pids+=($!)
build/tools/equipment_sim --listen 24202 --rate 5 --multi >/dev/null 2>&1 & pids+=($!)
echo "garbage line" | build/tools/equipment_sim --connect 127.0.0.1:24203 >/dev/null 2>&1
sleep 8
mkdir -p docs "$dir/browser"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$dir/browser" --hide-scrollbars --window-size=1200,760 \
  --virtual-time-budget=3000 --screenshot="$PWD/docs/status-page.png" \
  http://127.0.0.1:24280/ 2>/dev/null
