#!/bin/bash
# Builds the libFuzzer targets (clang, ASan+UBSan, driver code instrumented
# for coverage) and runs each for a given time, then prints per target the
# executions, the coverage reached and the crashes found.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 60 s, every target
#   FUZZ_PARALLEL=2 scripts/fuzz.sh 600       two targets at a time
#   FUZZ_BUILD=dir                            build directory (build-fuzz)
#   FUZZ_RUNS=10000000                        stop a target after this many
#                                             executions (or at the time limit)
#
# The configure line it uses, for building by hand:
#   cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
#     -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#     -DHALYARD_SANITIZE=address,undefined -DHALYARD_BUILD_FUZZ=ON \
#     -DHALYARD_BUILD_TESTS=OFF -DHALYARD_BUILD_TOOLS=OFF
# (fuzz/HalyardFuzz.cmake adds -fsanitize=fuzzer-no-link to every folder's library and
# -fsanitize=fuzzer to the targets.)
#
# New inputs go to $FUZZ_BUILD/corpus/<target>; the committed seeds in
# fuzz/<area>/corpus/<target> are only read. Crashes, leaks and time-outs
# land in $FUZZ_BUILD/artifacts/<target>: copy one into the committed corpus
# (as regression-<what>) once the fault is fixed, and the corpus replay test
# keeps it fixed.
set -u
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
shift || true
BUILD=${FUZZ_BUILD:-build-fuzz}
PARALLEL=${FUZZ_PARALLEL:-1}
RUNS=${FUZZ_RUNS:--1}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DHALYARD_SANITIZE=address,undefined -DHALYARD_BUILD_FUZZ=ON \
  -DHALYARD_BUILD_TESTS=OFF -DHALYARD_BUILD_TOOLS=OFF >/dev/null || exit 1
cmake --build "$BUILD" -j "$(nproc)" || exit 1

mapfile -t ALL < <(find "$BUILD/fuzz" -type f -name 'fuzz_*' -perm -u+x | sort)
if [ $# -gt 0 ]; then
  WANTED=()
  for t in "$@"; do
    for b in "${ALL[@]}"; do [ "$(basename "$b")" = "fuzz_$t" ] && WANTED+=("$b"); done
  done
else
  WANTED=("${ALL[@]}")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local bin=$1 name area seeds dict work art log
  name=$(basename "$bin"); name=${name#fuzz_}
  area=$(basename "$(dirname "$bin")")
  seeds="fuzz/$area/corpus/$name"
  work="$BUILD/corpus/$name"; art="$BUILD/artifacts/$name"; log="$BUILD/logs/$name.log"
  mkdir -p "$work" "$art" "$(dirname "$log")" "$seeds"
  dict=()
  for d in fuzz/"$area"/*.dict; do [ -f "$d" ] && dict=(-dict="$d"); done
  "$bin" "$work" "$seeds" "${dict[@]}" -max_total_time="$SECONDS_PER_TARGET" -runs="$RUNS" \
    -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 -artifact_prefix="$art/" >"$log" 2>&1
  local rc=$?
  local execs cov crashes
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  crashes=$(find "$art" -type f | wc -l)
  printf '%-22s executions %-12s coverage %-6s artifacts %-3s exit %s\n' "$name" "${execs:-?}" "${cov:-?}" "$crashes" "$rc"
}

echo "target                 (${SECONDS_PER_TARGET} s each; logs in $BUILD/logs)"
running=0
for bin in "${WANTED[@]}"; do
  run_one "$bin" &
  running=$((running + 1))
  if [ "$running" -ge "$PARALLEL" ]; then wait -n; running=$((running - 1)); fi
done
wait
