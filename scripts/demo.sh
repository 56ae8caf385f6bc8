#!/bin/sh
# The demo: builds what is missing, then records 10 seconds from a simulated
# camera (started inside halyard-record, no hardware needed) through the
# Halyard driver into ./recordings/<date-time>/, and says how to look at it.
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh

# Same build directory and settings as scripts/test.sh's release build.
if [ ! -f build-release/build.ninja ]; then
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
fi
cmake --build build-release --target halyard-record

out="recordings/$(date +%Y%m%d-%H%M%S)"
echo
echo "=== Recording 10 s from a simulated camera into $out/"
status=0
./build-release/tools/record/halyard-record --duration 10 --fps 10 --resolution cif \
  --format both --input --output-dir "$out" || status=$?
if [ "$status" -ne 0 ]; then
  echo "The demo recording failed (exit status $status); see the message above." >&2
  exit "$status"
fi

count=$(ls "$out"/camera1/*.jpg 2>/dev/null | wc -l)
echo
echo "=== $count pictures recorded"
echo "Pictures (one JPEG file each): $out/camera1/"
echo "Index (frame,arrival_time,size,width,height): $out/camera1/index.csv"
echo "Motion JPEG video: $out/camera1.avi"
echo "Figures of the run: $out/summary.csv"
echo
echo "To view them:"
echo "  xdg-open $out/camera1/000001.jpg     (or eog, feh, any image viewer)"
echo "  mpv $out/camera1.avi                 (or vlc, ffplay)"
echo "  column -s, -t $out/camera1/index.csv | head"
echo
echo "Record a real camera:"
echo "  ./build-release/tools/record/halyard-record --camera ADDRESS --model SNC-RZ50P --user admin --ask-password"
echo "  ./build-release/tools/record/halyard-record --help"
