#!/bin/sh
# Fails when a C++ file is not in the tree's format, or when clang-tidy finds
# something in the driver's or the tools' sources.
# Usage: scripts/check-style.sh format
#        scripts/check-style.sh tidy <build dir with compile_commands.json>
set -eu
cd "$(dirname "$0")/.."

case ${1:-} in
format)
  # Tracked files only: build trees and generated sources are not ours.
  git ls-files '*.cpp' '*.h' '*.c' '*.hpp' | xargs clang-format --dry-run --Werror
  echo "check-style: format clean"
  ;;
tidy)
  build=${2:?build directory}
  [ -f "$build/compile_commands.json" ] || { echo "check-style: $build/compile_commands.json missing" >&2; exit 2; }
  # The sources that ship or are run by hand; tests, benchmarks and fuzzers
  # are held to the compiler's warnings only.
  run-clang-tidy -quiet -p "$build" -j "$(nproc)" \
    "^$(pwd)/(host|runtime|capture|settings|web|transport|channels|io|driver|tools/camsim|tools/record)/[^/]*\\.cpp\$" \
    >"$build/clang-tidy.log" 2>&1 || { grep -E 'error:|warning:' "$build/clang-tidy.log" | sort -u >&2; exit 1; }
  echo "check-style: clang-tidy clean"
  ;;
*)
  echo "usage: $0 format | tidy <build dir>" >&2
  exit 2
  ;;
esac
