#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks what an operator gets:
# lintian finds no error; unpacked, a stripped binary that runs, man pages that render and name
# every INI key; installed into this machine (root only), the files where the layout says, the
# conffile, the account, both units as systemd reads them, the installed program on its default
# layout and on one given by options, and a purge that leaves nothing behind. Whatever happens,
# the package is purged again, so the machine is left as it was.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
skip=77  # SKIP_RETURN_CODE in tests/CMakeLists.txt
work=$(mktemp -d)
chmod 0755 "$work"  # the service account reads and writes below it
installed=false account_made=false gateway=
cleanup() {
  if [ -n "$gateway" ]; then kill "$gateway" 2>/dev/null && wait "$gateway" 2>/dev/null || true; fi
  if $installed && dpkg-query -W tarvel80import >/dev/null 2>&1; then
    dpkg --purge tarvel80import >/dev/null 2>&1 || true
  fi
  if $account_made && getent passwd tarvel80import >/dev/null; then
    deluser --system --quiet tarvel80import >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

bash "$source/scripts/package.sh" "$build" "$work/out" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "scripts/package.sh"; }
deb=$(ls "$work"/out/*.deb)

lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 ||
  { cat "$work/lintian"; fail "lintian reports errors"; }
grep -v 'running with root privileges' "$work/lintian" || true

field() { dpkg-deb -f "$deb" "$1"; }
field Depends | grep -q libqt6 || fail "Depends names no Qt library"
field Depends | grep -qw adduser || fail "Depends lacks adduser"
[ "$(field Description | wc -l)" -gt 3 ] || fail "no long description"
field Description | grep -q ';' && fail "description joined with ;"
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = \
  /etc/tarvel80import/TARVEL80Import.ini ] || fail "conffiles"

dpkg-deb -x "$deb" "$work/root"
root=$work/root
binary=$root/usr/bin/tarvel80import
readelf -S "$binary" | grep -q '\.symtab' && fail "binary not stripped"
[ "$("$binary" --version)" = 1.0.04 ] || fail "--version"
render() { MANWIDTH=100 man --warnings -l "$1" 2>"$work/warnings"; }
page8=$(render "$root/usr/share/man/man8/tarvel80import.8.gz")
[ ! -s "$work/warnings" ] || { cat "$work/warnings"; fail "warnings in tarvel80import(8)"; }
page5=$(render "$root/usr/share/man/man5/tarvel80import.ini.5.gz")
[ ! -s "$work/warnings" ] || { cat "$work/warnings"; fail "warnings in tarvel80import.ini(5)"; }
for text in "EXIT STATUS" SIGNALS ENVIRONMENT --check --config --log-dir \
            /usr/lib/systemd/system/TARVEL80ImportForOstrel.service tarvel80import@.service \
            /etc/tarvel80import/TARVEL80Import.ini /var/lib/tarvel80import/ \
            /var/log/tarvel80import/; do
  grep -qF -- "$text" <<<"$page8" || fail "tarvel80import(8) lacks $text"
done
grep -qF '/lib/systemd/system' <<<"${page8//\/usr\/lib\/systemd\/system/}" &&
  fail "tarvel80import(8) names /lib/systemd/system"
# Every key the configuration reader knows is documented.
keys=$(grep -ohE 'reader\.[A-Za-z]+\("[A-Za-z0-9]+"' "$source"/src/config/*.cpp | cut -d'"' -f2 |
       sort -u)
[ -n "$keys" ] || fail "no keys found in src/config"
for key in $keys; do
  grep -qw -- "$key" <<<"$page5" || fail "tarvel80import.ini(5) lacks $key"
done

# Into this machine.
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: installing the package into the machine needs root; the package itself passed"
  exit $skip
fi
# One package test at a time on a machine (other worktrees' suites may run too); the one that
# waits looks for an installed package only once the other has purged its own.
exec 9>/run/lock/tarvel80import-package-test
flock 9
if dpkg-query -W -f='${Status}' tarvel80import 2>/dev/null | grep -qv 'not-installed'; then
  echo "SKIP: tarvel80import is installed on this machine; the test would purge it"
  exit $skip
fi
getent passwd tarvel80import >/dev/null || account_made=true
installed=true
started=$(date +%s%N)
DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 "$deb" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
echo "apt-get install took $((($(date +%s%N) - started) / 1000000)) ms"

for file in usr/bin/tarvel80import etc/tarvel80import/TARVEL80Import.ini \
            usr/lib/systemd/system/TARVEL80ImportForOstrel.service \
            usr/lib/systemd/system/tarvel80import@.service \
            usr/share/tarvel80import/TARVEL80Import.ini \
            usr/share/doc/tarvel80import/copyright usr/share/doc/tarvel80import/changelog.gz \
            usr/share/doc/tarvel80import/README.md \
            usr/share/doc/tarvel80import/docs/status-page.png \
            usr/share/man/man8/tarvel80import.8.gz usr/share/man/man5/tarvel80import.ini.5.gz; do
  [ -s "/$file" ] || fail "missing /$file"
done
dpkg-query -W -f='${Conffiles}' tarvel80import | grep -q '^ /etc/tarvel80import/TARVEL80Import.ini ' ||
  fail "the configuration is not a conffile"
id -nG tarvel80import | grep -qw dialout || fail "the account is not in dialout"
for folder in /var/lib/tarvel80import /var/log/tarvel80import; do
  [ "$(stat -c '%U:%G %a' "$folder")" = "tarvel80import:tarvel80import 750" ] ||
    fail "$folder: $(stat -c '%U:%G %a' "$folder")"
done
[ "$(readlink -f /etc/systemd/system/multi-user.target.wants/TARVEL80ImportForOstrel.service)" = \
  /usr/lib/systemd/system/TARVEL80ImportForOstrel.service ] || fail "the unit is not enabled"
[ -L /etc/systemd/system/tarvel80import.service ] || fail "no alias tarvel80import.service"
for unit in TARVEL80ImportForOstrel.service tarvel80import@north.service; do
  systemd-analyze verify "$unit" >"$work/verify" 2>&1 || { cat "$work/verify"; fail "verify $unit"; }
  [ ! -s "$work/verify" ] || { cat "$work/verify"; fail "systemd-analyze warns about $unit"; }
done
for page in "8 tarvel80import" "5 tarvel80import.ini"; do
  # shellcheck disable=SC2086  # section and name
  MANWIDTH=100 man --warnings $page 2>"$work/warnings" >/dev/null || fail "man $page"
  [ ! -s "$work/warnings" ] || { cat "$work/warnings"; fail "warnings in man $page"; }
done

# The installed program on its defaults: the conffile, which lets it start on any machine.
as_account() { setpriv --reuid=tarvel80import --regid=tarvel80import --init-groups -- "$@"; }
check=$(cd / && as_account tarvel80import --check) || { echo "$check"; fail "--check of the conffile"; }
[ "$check" = "/etc/tarvel80import/TARVEL80Import.ini: 0 errors, 0 warnings" ] ||
  fail "--check read another file: $check"
# On a layout given by options: it starts, writes where it was told, and stops on SIGTERM.
mkdir "$work/gw" "$work/gw/state"
chown tarvel80import: "$work/gw/state"
printf '[General]\nOstrelPort=14999\nOstrelBindAddress=127.0.0.1\n' >"$work/gw/gateway.ini"
(cd / && exec setpriv --reuid=tarvel80import --regid=tarvel80import --init-groups -- \
   tarvel80import --headless --dir "$work/gw/state" --config "$work/gw/gateway.ini" \
   --log-dir "$work/gw/state/logs") 2>"$work/gw/stderr" &
gateway=$!
for _ in $(seq 200); do grep -q '^Running: ' "$work/gw/stderr" && break; sleep 0.1; done
grep -q "^Running: .*; log: $work/gw/state/logs/;" "$work/gw/stderr" ||
  { cat "$work/gw/stderr"; fail "the gateway did not start on the given layout"; }
kill -TERM "$gateway"
wait "$gateway" || true
gateway=
[ -e "$work/gw/state/TARVEL80Import.lock" ] || fail "no lock in the given program folder"
log=$(cat "$work/gw/state/logs/"*.Log)
grep -q 'is starting' <<<"$log" && grep -q 'is stopping, reason 3' <<<"$log" ||
  { echo "$log"; fail "the log lacks the start or the stop"; }
[ -z "$(find /usr/bin -maxdepth 1 \( -name LogFiles -o -name '*.lock' -o -name '*.service.ini' \))" ] ||
  fail "the program wrote into /usr/bin"

# A second gateway enabled by the administrator, with its own files: purge takes them too.
systemctl enable tarvel80import@north.service >/dev/null 2>&1 || fail "enable tarvel80import@north"
cp /usr/share/tarvel80import/TARVEL80Import.ini /etc/tarvel80import/north.ini
install -d -o tarvel80import -g tarvel80import /var/lib/tarvel80import/north \
  /var/log/tarvel80import/north
dpkg --purge tarvel80import >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "purge"; }
installed=false
dangling=$(find /etc/systemd/system -xtype l -iname '*tarvel80import*')
[ -z "$dangling" ] || fail "dangling links after purge: $dangling"
for path in /etc/tarvel80import /var/lib/tarvel80import /var/log/tarvel80import \
            /etc/systemd/system/tarvel80import.service; do
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path stays after purge"
done
echo "package test passed: $(basename "$deb")"
