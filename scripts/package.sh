#!/usr/bin/env bash
# Builds the Debian package in one command:
#   bash scripts/package.sh                   -> build-release/tarvel80import_<version>_<arch>.deb
#   bash scripts/package.sh BUILD_DIR OUT_DIR -> packages what BUILD_DIR (configured already) builds
# The release build takes Debian's hardening flags (dpkg-buildflags). The version and the
# maintainer come from packaging/debian/changelog, which must match the version in CMakeLists.txt.
set -euo pipefail
umask 022
source=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source/build-release}
out=${2:-$build}
changelog=$source/packaging/debian/changelog

version=$(dpkg-parsechangelog -l "$changelog" -S Version)
maintainer=$(dpkg-parsechangelog -l "$changelog" -S Maintainer)
project_version=$(sed -n 's/^project(tarvel80import VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
if [ "$version" != "$project_version" ]; then
  echo "package.sh: packaging/debian/changelog is at $version, CMakeLists.txt at $project_version" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)

if [ ! -f "$build/CMakeCache.txt" ]; then
  # Debian's hardening flags; CMake reads no CPPFLAGS, so _FORTIFY_SOURCE goes with CXXFLAGS.
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
  cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target tarvel80import >/dev/null

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
# As dh_strip does: no symbols, no notes, no compiler comments.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/usr/bin/tarvel80import"

# What only the package places: the configuration as a conffile, the Debian documents and
# compressed manual pages, the maintainer scripts.
install -D -m 0644 "$source/packaging/TARVEL80Import.ini" "$root/etc/tarvel80import/TARVEL80Import.ini"
doc=$root/usr/share/doc/tarvel80import
install -m 0644 "$source/packaging/debian/copyright" "$doc/copyright"
gzip -9n <"$changelog" >"$doc/changelog.gz"
gzip -9n "$root"/usr/share/man/man*/*
control=$root/DEBIAN
mkdir "$control"
install -m 0755 "$source"/packaging/debian/{postinst,prerm,postrm} "$control/"
echo /etc/tarvel80import/TARVEL80Import.ini >"$control/conffiles"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$control/md5sums"

# dpkg-shlibdeps reads the libraries' symbol files; it wants a debian/control to stand in.
mkdir "$stage/debian"
printf 'Source: tarvel80import\n\nPackage: tarvel80import\nArchitecture: any\n' \
  >"$stage/debian/control"
libraries=$(cd "$stage" && dpkg-shlibdeps -O "$root/usr/bin/tarvel80import" 2>/dev/null |
            sed -n 's/^shlibs:Depends=//p')
cat >"$control/control" <<CONTROL
Package: tarvel80import
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $libraries, adduser
Section: net
Priority: optional
Description: alarm gateway from TARVEL80 equipment to an Ostrel alarm server
 TARVEL80 Import for Ostrel Alarm Server takes the event and alarm messages
 that TARVEL80 alarm equipment sends as text lines, over up to eight serial
 lines or TCP connections, and forwards every event as one line to the Ostrel
 alarm server that connects to it. It reports input ports that fall silent,
 reconnects TCP client ports, sends a periodic watchdog line and keeps the
 event lines while no alarm server is connected.
 .
 The service runs as the account tarvel80import, with its configuration in
 /etc/tarvel80import/, its state in /var/lib/tarvel80import/ and its daily
 logs in /var/log/tarvel80import/. The template unit tarvel80import@.service
 runs several gateways on one host.
CONTROL

mkdir -p "$out"
deb=$out/tarvel80import_${version}_${arch}.deb
dpkg-deb --root-owner-group --build "$root" "$deb" >/dev/null
echo "$deb"
