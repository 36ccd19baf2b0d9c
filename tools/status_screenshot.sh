#!/usr/bin/env bash
# Saves docs/status-page.png (1200 x 900) and docs/status-page-phone.png (400 x 800): the gateway
# with its status server, an alarm server and equipment played by the simulators, one TCP client
# port whose equipment is down (waiting for its next attempt), and the page taken by headless
# Chromium while the lines flow.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v chromium >/dev/null || { echo "chromium is not installed" >&2; exit 1; }
[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j2 --target tarvel80import equipment_sim alarm_server_sim >/dev/null
dir=$(mktemp -d /tmp/status-shot-XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$dir"' EXIT
cat > "$dir/TARVEL80Import.ini" <<'INI'
[General]
OstrelPort=24200
StatusPort=24280
WatchDogTagName=TARVEL80-WD
ReconnectInterval=60
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
[TARVEL80_Port_3]
Description=Car park barrier
PortType=TCPC
RemoteAddress=127.0.0.1:24204
INI
# The warehouse equipment listens before the gateway makes its first attempt; nothing listens
# at 24204, so port 3 waits for its next attempt.
build/tools/equipment_sim --listen 24202 --rate 5 --multi >/dev/null 2>&1 & pids+=($!)
build/tarvel80import --dir "$dir" --headless & pids+=($!)
sleep 1
build/tools/alarm_server_sim 127.0.0.1:24200 --quiet >/dev/null 2>&1 & pids+=($!)
build/tools/equipment_sim --connect 127.0.0.1:24201 --rate 20 >/dev/null 2>&1 & pids+=($!)
echo "garbage line" | build/tools/equipment_sim --connect 127.0.0.1:24203 >/dev/null 2>&1
sleep 8
mkdir -p docs
shoot() {  # width height file
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$dir/browser-$1" --hide-scrollbars --window-size="$1,$2" \
    --virtual-time-budget=3000 --screenshot="$PWD/docs/$3" \
    http://127.0.0.1:24280/ 2>/dev/null
}
shoot 1200 900 status-page.png
shoot 400 800 status-page-phone.png
