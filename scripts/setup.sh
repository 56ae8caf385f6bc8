#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build and test Halyard.
set -eu
PACKAGES="g++ clang libclang-rt-14-dev llvm cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libcurl4-openssl-dev libssl-dev
  libpugixml-dev libcpp-httplib-dev libturbojpeg0-dev libcli11-dev nlohmann-json3-dev
  tshark apache2 apache2-utils openssl procps chromium python3 ffmpeg"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
