#!/bin/sh
# The whole test suite: release build with g++, clang with ASan+UBSan, clang
# with TSan. Any failure or sanitizer report fails the run.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh --tests
# Cheap and structural: before any build.
./scripts/check-layers.sh
./scripts/check-style.sh format
JOBS=$(nproc)

run_build() {
  name=$1; shift
  echo "=== $name"
  # Tests on explicitly: the demo may have configured build-release without them.
  cmake -S . -B "build-$name" -G Ninja -DHALYARD_BUILD_TESTS=ON -DHALYARD_BUILD_BENCH=ON "$@" >/dev/null
  cmake --build "build-$name" -j "$JOBS"
  (cd "build-$name" && ctest --output-on-failure -j "$JOBS")
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tests/tsan.supp"

run_build release -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
# clang-tidy reads clang's own compile commands; configuring is enough.
echo "=== clang-tidy"
cmake -S . -B build-tidy -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
./scripts/check-style.sh tidy build-tidy
run_build asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DHALYARD_SANITIZE=address,undefined -DHALYARD_BUILD_BENCH=OFF
run_build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DHALYARD_SANITIZE=thread -DHALYARD_BUILD_BENCH=OFF
echo "=== all three builds passed"
