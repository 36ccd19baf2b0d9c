#!/usr/bin/env bash
# Runs the steps of docs/trying.md in their order against the built gateway and simulators:
# a typed line, a stream cut into pieces, the TCP client port with examples/events.txt, and the
# multi-line event last. The example configuration is used with its TCP ports moved to a free
# range (and a short ReconnectInterval), so that the test runs beside anything else.
# Usage: walkthrough_test.sh GATEWAY TOOLS_DIR SOURCE_DIR
set -uo pipefail
gateway=$1 tools=$2 source=$3
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A shell killed on a timeout runs no trap: the programs it starts die with it (the kernel's
# parent-death signal), where setpriv can ask for that.
guard=()
if setpriv --pdeathsig KILL true 2>/dev/null; then guard=(setpriv --pdeathsig KILL); fi
fail() {
  echo "FAIL: $*" >&2
  echo "--- alarm server received:" >&2; cat "$work/received" >&2 2>/dev/null
  echo "--- gateway log:" >&2; cat "$work"/dir/LogFiles/*.Log >&2 2>/dev/null
  exit 1
}
# Waits up to 60 s (the machine may be busy) until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + 60))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
received() { grep -qF -- "$1" "$work/received"; }
received_count() { [ "$(grep -cF -- "$1" "$work/received")" -ge "$2" ]; }
logged() { grep -qF -- "$1" "$work"/dir/LogFiles/*.Log 2>/dev/null; }
# Port 0 takes one peer at a time: the next step connects once the gateway saw this one go.
closed_count() { [ "$(cat "$work"/dir/LogFiles/*.Log | grep -cF "Connection (0) was closed")" -ge "$1" ]; }

# Terminal 1: the gateway on the example configuration, on ports that are free.
for attempt in 1 2 3; do
  base=$((20000 + (RANDOM % 4000) * 10))
  ostrel=$base tcps=$((base + 1)) tcpc=$((base + 2))
  rm -rf "$work/dir" && mkdir "$work/dir"
  sed -e "s/^OstrelPort=14000/OstrelPort=$ostrel/" -e "s/^ListenPort=4001/ListenPort=$tcps/" \
      -e "s/:4002$/:$tcpc/" -e "s/^ReconnectInterval=.*/ReconnectInterval=2/" \
      "$source/examples/TARVEL80Import.ini" >"$work/dir/TARVEL80Import.ini"
  "${guard[@]}" "$gateway" --headless --dir "$work/dir" 2>"$work/gateway.err" &
  gateway_pid=$!
  wait_for logged "is starting" || fail "the gateway did not start"
  sleep 0.5
  if kill -0 "$gateway_pid" 2>/dev/null && ! logged "Could not set"; then break; fi
  kill "$gateway_pid" 2>/dev/null; wait "$gateway_pid" 2>/dev/null
  [ "$attempt" -lt 3 ] || fail "no free ports for the gateway"
done
pids+=("$gateway_pid")

# Terminal 2: the alarm server.
"${guard[@]}" "$tools/alarm_server_sim" "127.0.0.1:$ostrel" --time --reconnect 1 >"$work/received" 2>/dev/null &
pids+=($!)

# Terminal 3: a line typed by hand into the TCP server port.
send() { "${guard[@]}" "$tools/equipment_sim" --connect "127.0.0.1:$tcps" "$@" 2>/dev/null; }
printf 'ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\n' | send ||
  fail "equipment_sim could not connect"
wait_for received "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open" || fail "typed line"
wait_for closed_count 1 || fail "the gateway did not see the equipment go"

# A stream written in pieces of 7 bytes (the walkthrough runs it until Ctrl+C).
send --rate 50 --chunk 7 --chunk-delay 1 --count 100 </dev/null || fail "stream not sent"
wait_for received_count "||||Generated event" 100 || fail "stream: fewer than 100 lines"
wait_for closed_count 2 || fail "the gateway did not see the stream's equipment go"

# The TCP client port: the simulator waits, the gateway connects to it.
"${guard[@]}" "$tools/equipment_sim" --listen "$tcpc" --file "$source/examples/events.txt" --line-delay 50 \
  --keep 2>/dev/null &
listener_pid=$!
pids+=("$listener_pid")
wait_for received "0|2017-06-07|10:46:10|ZONE-03-HALL||||Hall secured" || fail "events.txt"
[ "$(grep -c '|2017-06-07|' "$work/received")" -ge 9 ] || fail "events.txt: lines missing"

# Last: a multi-line event; from now on port 0 reads the multi-line format.
printf 'NACK ALARM 12-JAN-17 10:20:30 Fire detector\nHall 2\n' | send || fail "multi-line not sent"
wait_for received "1|2017-01-12|10:20:30|NACK ALARM Fire detector||||Hall 2" || fail "multi-line"

kill -TERM "$gateway_pid"
wait "$gateway_pid"
status=$?
[ "$status" -eq 0 ] || fail "the gateway ended with status $status"
logged "stopping, reason 3" || fail "no stop line in the log"

# The held equipment outlives the gateway, and the restarted gateway finds it again.
kill -0 "$listener_pid" 2>/dev/null || fail "equipment_sim --listen --keep ended with the gateway"
established() { [ "$(cat "$work"/dir/LogFiles/*.Log | grep -cF "Connection (1) was established")" -ge 2 ]; }
"${guard[@]}" "$gateway" --headless --dir "$work/dir" 2>>"$work/gateway.err" &
gateway_pid=$!
pids+=("$gateway_pid")
wait_for established || fail "the restarted gateway did not connect to the held equipment"
kill -TERM "$gateway_pid"
wait "$gateway_pid" || fail "the restarted gateway ended with status $?"
echo "walkthrough test passed"
