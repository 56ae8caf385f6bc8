#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build Halyard and record
# with it; with --tests also what the test suite and benchmarks need.
#   ./scripts/setup.sh            build and record (scripts/demo.sh)
#   ./scripts/setup.sh --tests    and test and measure (scripts/test.sh, scripts/bench.sh)
set -eu
PACKAGES="g++ cmake ninja-build pkg-config
  libcurl4-openssl-dev libssl-dev libpugixml-dev libcpp-httplib-dev
  libturbojpeg0-dev libcli11-dev libtomlplusplus-dev nlohmann-json3-dev
  libavformat-dev libavcodec-dev libavutil-dev"
TEST_PACKAGES="clang libclang-rt-14-dev llvm clang-format clang-tidy libgtest-dev libgmock-dev
  libbenchmark-dev tshark apache2 apache2-utils openssl procps
  chromium python3 python3-matplotlib ffmpeg"
case "${1:-}" in
  --tests) PACKAGES="$PACKAGES $TEST_PACKAGES" ;;
  "") ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac
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
