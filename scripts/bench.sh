#!/bin/sh
# Cost per packet, picture delay, losses, memory and threads per camera for
# the bare recvfrom loop, the plain reference receiver and the driver, at 16,
# 64 and 256 simulated cameras (30 pictures/s, ~40 KB each, over loopback),
# then the plain path and the driver in one process at once, half the cameras
# each, for their ratios without the machine's drift between windows.
# Prints the table and writes it with its plot into docs/performance.md.
#   ./scripts/bench.sh                      16, 64, 256 cameras, 10 s per receiver, 3 rounds
#   ./scripts/bench.sh --quick              4 and 16 cameras, 3 s each, one round
#   ./scripts/bench.sh --cameras 16,64 --seconds 5 --no-docs
#   ./scripts/bench.sh --rounds 5           each receiver five times: the median cost, and the
#                                           median of the ratios taken within each round
#   ./scripts/bench.sh --runs 3             the whole bench three times in a row, each run shown
#   ./scripts/bench.sh --pair               only the plain path and the driver in one process
#                                           (printed only)
set -eu
cd "$(dirname "$0")/.."

cameras=16,64,256
seconds=10
# A round runs every receiver once; ratios are taken within a round, where
# the machine's own drift (a virtual machine's neighbours) cancels out.
rounds=3
runs=1
docs=yes
pair=no
while [ $# -gt 0 ]; do
  case "$1" in
    --cameras) cameras="$2"; shift ;;
    --seconds) seconds="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --runs) runs="$2"; shift ;;
    --quick) cameras=4,16; seconds=3; rounds=1 ;;
    --no-docs) docs=no ;;
    --pair) pair=yes ;;
    *) echo "usage: $0 [--quick] [--cameras N,N,...] [--seconds S] [--rounds N] [--runs N] [--no-docs] [--pair]" >&2; exit 2 ;;
  esac
  shift
done

# The benchmarks need libbenchmark-dev to configure and matplotlib to plot.
if [ "$(id -u)" = 0 ]; then ./scripts/setup.sh --tests; fi

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DHALYARD_BUILD_BENCH=ON >/dev/null
cmake --build build-release -j "$(nproc)" --target halyard_bench_scale >/dev/null

if [ "$pair" = yes ]; then
  # Its ratio is the paired_x_plain column; each round's goes to stderr.
  exec ./build-release/bench/driver/halyard_bench_scale --cameras="$cameras" --seconds="$seconds" \
    --rounds="$rounds" --receivers=pair
fi

csv=$(mktemp)
one=$(mktemp)
trap 'rm -f "$csv" "$one"' EXIT
run=1
while [ "$run" -le "$runs" ]; do
  [ "$runs" -gt 1 ] && echo "--- run $run of $runs"
  ./build-release/bench/driver/halyard_bench_scale --cameras="$cameras" --seconds="$seconds" --rounds="$rounds" \
    | tee "$one"
  # One CSV for all runs, a run number in front of each line.
  awk -v run="$run" 'NR == 1 { if (run == 1) print "run," $0; next } { print run "," $0 }' "$one" >>"$csv"
  run=$((run + 1))
done
echo
# Debian's matplotlib lives with Debian's Python, whatever else is on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if [ "$docs" = yes ]; then
  cp "$csv" docs/performance.csv  # the raw figures, for comparing runs
  "$python" scripts/bench_report.py "$csv" docs/performance.md docs/performance.svg
else
  "$python" scripts/bench_report.py "$csv"
fi
