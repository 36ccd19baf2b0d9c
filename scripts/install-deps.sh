#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing (dpkg-dev and
# man-db: the package test builds the .deb and renders its man pages; chromium: the browser test
# of the status page, headless, which needs none of its recommended packages).
set -euo pipefail
packages=(cmake g++ make qt6-base-dev qt6-serialport-dev qt6-httpserver-dev qt6-websockets-dev libgtest-dev libgmock-dev socat clang-format
          dpkg-dev man-db pkg-config libsystemd-dev zlib1g-dev chromium)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
