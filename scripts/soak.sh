#!/bin/sh
# The long impairment soak: 8 simulated cameras, a fault every 10 +- 5 s,
# 15 minutes, memory growth after warm-up checked (< 1 MiB). Prints one
# line of figures at the end. Arguments override: CAMERAS SECONDS SEED.
#   BUILD=build scripts/soak.sh [8 [900 [1]]]
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake --build "$BUILD" --target halyard_tests_soak >/dev/null
cd "$BUILD/tests/soak"
HALYARD_SOAK_CAMERAS=${1:-8} HALYARD_SOAK_SECONDS=${2:-900} HALYARD_SOAK_SEED=${3:-1} \
HALYARD_SOAK_FAULT_MS=10000 HALYARD_SOAK_CHECK_RSS=1 \
  ./halyard_tests_soak --gtest_color=no
