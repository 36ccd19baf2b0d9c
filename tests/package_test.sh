#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, unpacks it into a temporary root
# and checks what an operator gets: a stripped binary that runs, the example INI, the unit,
# the pictures of the README, and man pages that render and name every INI key.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/*.deb)
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -f "$deb" Depends | grep -q libqt6 || fail "Depends names no Qt library"

root=$work/root
for file in usr/bin/tarvel80import usr/share/tarvel80import/TARVEL80Import.ini \
            usr/share/doc/tarvel80import/README.md usr/share/doc/tarvel80import/docs/main-window.png \
            usr/share/doc/tarvel80import/docs/debug-window.png \
            usr/lib/systemd/system/TARVEL80ImportForOstrel.service \
            usr/share/man/man8/tarvel80import.8 usr/share/man/man5/tarvel80import.ini.5; do
  [ -s "$root/$file" ] || fail "missing $file"
done
readelf -S "$root/usr/bin/tarvel80import" | grep -q '\.symtab' && fail "binary not stripped"
[ "$("$root/usr/bin/tarvel80import" --version)" = 1.0.04 ] || fail "--version"
unit=$root/usr/lib/systemd/system/TARVEL80ImportForOstrel.service
for line in 'ExecStart=/usr/bin/tarvel80import ' 'After=network-online.target' \
            'Documentation=man:tarvel80import(8)' 'ProtectSystem=strict' 'NoNewPrivileges=yes'; do
  grep -qF "$line" "$unit" || fail "unit lacks $line"
done

render() { MANWIDTH=100 man --warnings -l "$1" 2>"$work/warnings"; }
page8=$(render "$root/usr/share/man/man8/tarvel80import.8")
[ ! -s "$work/warnings" ] || { cat "$work/warnings"; fail "warnings in tarvel80import(8)"; }
page5=$(render "$root/usr/share/man/man5/tarvel80import.ini.5")
[ ! -s "$work/warnings" ] || { cat "$work/warnings"; fail "warnings in tarvel80import.ini(5)"; }
for heading in "EXIT STATUS" SIGNALS ENVIRONMENT --check; do
  grep -qF -- "$heading" <<<"$page8" || fail "tarvel80import(8) lacks $heading"
done
# Every key the configuration reader knows is documented.
keys=$(grep -ohE 'reader\.[A-Za-z]+\("[A-Za-z0-9]+"' "$source"/src/config/*.cpp | cut -d'"' -f2 |
       sort -u)
[ -n "$keys" ] || fail "no keys found in src/config"
for key in $keys; do
  grep -qw -- "$key" <<<"$page5" || fail "tarvel80import.ini(5) lacks $key"
done
echo "package test passed: $(basename "$deb")"
