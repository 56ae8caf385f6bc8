#!/bin/sh
# The host-boundary tests with the full start/stop count (10,000 cycles;
# the normal test run does 200) and a minute of hammering from eight threads
# (the normal run: 5 s).
#   BUILD=build scripts/hardening.sh [CYCLES]
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake --build "$BUILD" --target halyard_tests_hardening_host >/dev/null
cd "$BUILD/tests/hardening"
HALYARD_HARDENING_CYCLES=${1:-10000} HALYARD_HARDENING_SECONDS=60 ./halyard_tests_hardening_host --gtest_color=no
