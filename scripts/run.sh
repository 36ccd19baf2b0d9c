#!/usr/bin/env bash
# Builds the gateway and the two simulators that docs/trying.md uses, tells what the example
# configuration listens on, and starts the gateway on a copy of it in build/demo/ (made once, so
# edits there stay; nothing tracked is changed). The copy tries TCP client ports every 5 s
# instead of the example's 120 s. Arguments go to the gateway (for example --headless).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarvel80import equipment_sim alarm_server_sim
demo=build/demo
if [ ! -f "$demo/TARVEL80Import.ini" ]; then
  mkdir -p "$demo"
  sed -e 's/^ReconnectInterval=.*/ReconnectInterval=5/' examples/TARVEL80Import.ini \
    >"$demo/TARVEL80Import.ini"
fi

# What the example configuration sets up, read from its active (uncommented) lines.
awk -F= 'BEGIN { ostrel = 14000 }
  function trim(s) { gsub(/^[ \t]+|[ \t\r]+$/, "", s); return s }
  /^[ \t]*;/ { next }
  /^[ \t]*\[/ { section = toupper(trim($0)); next }
  NF >= 2 { key = toupper(trim($1)); value = trim(substr($0, index($0, "=") + 1))
            if (section == "[GENERAL]" && key == "OSTRELPORT") ostrel = value
            else if (section ~ /^\[TARVEL80_PORT_[0-7]\]$/) {
              n = substr(section, 16, 1); ports[n] = 1; set[n, key] = value } }
  END {
    print "The gateway (" FILENAME "):"
    printf "  alarm-server port %s: build/tools/alarm_server_sim 127.0.0.1:%s --time\n", ostrel, ostrel
    for (n = 0; n < 8; n++) {
      if (!(n in ports)) continue
      type = toupper(set[n, "PORTTYPE"])
      if (type == "TCPS")
        printf "  port %d listens on %s: build/tools/equipment_sim --connect 127.0.0.1:%s\n",
               n, set[n, "LISTENPORT"], set[n, "LISTENPORT"]
      else if (type == "TCPC")
        printf "  port %d connects to %s: build/tools/equipment_sim --listen %s\n",
               n, set[n, "REMOTEADDRESS"], substr(set[n, "REMOTEADDRESS"],
               index(set[n, "REMOTEADDRESS"], ":") + 1)
      else if (type == "COM")
        printf "  port %d reads the serial line %s\n", n, set[n, "COMSETTING"]
    }
  }' "$demo/TARVEL80Import.ini"
echo "  log: $demo/LogFiles/$(date +%Y%m%d).Log (tail -f it in another terminal)"
echo "Stop it with Ctrl+C (or, with windows, File > Exit). docs/trying.md shows what to try."
exec build/tarvel80import --dir "$demo" "$@"
