#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing (dpkg-dev,
# man-db, lintian, systemd and adduser: the package test builds the .deb, renders its man pages,
# checks it with lintian and systemd-analyze, and installs it; chromium: the browser test of the
# status page, headless, which needs none of its recommended packages). apt waits for the dpkg
# lock that another apt (unattended upgrades) may hold.
set -euo pipefail
packages=(cmake g++ make qt6-base-dev qt6-serialport-dev qt6-httpserver-dev qt6-websockets-dev libgtest-dev libgmock-dev socat clang-format
          dpkg-dev man-db pkg-config libsystemd-dev zlib1g-dev lintian systemd adduser chromium
          g++-mingw-w64-x86-64-posix libz-mingw-w64-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq -o DPkg::Lock::Timeout=600
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
fi
