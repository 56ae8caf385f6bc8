#!/bin/sh
# The demo: builds what is missing, then records 10 seconds from a simulated
# camera (started inside halyard-record, no hardware needed) through the
# Halyard driver into ./recordings/<date-time>/, and says how to look at it.
set -eu
cd "$(dirname "$0")/.."

# Only what building and recording need; scripts/test.sh installs the rest.
./scripts/setup.sh

# Same build directory and compiler as scripts/test.sh's release build; the
# tests stay out until test.sh asks for them. Everything "cmake --install"
# installs is built: the driver, halyard-record and halyard-camsim.
if [ ! -f build-release/build.ninja ]; then
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DHALYARD_BUILD_TESTS=OFF >/dev/null
fi
cmake --build build-release -j "$(nproc)" --target Halyard halyard-record halyard-camsim

out="recordings/$(date +%Y%m%d-%H%M%S)"
echo
echo "=== Recording 10 s from a simulated camera into $out/"
status=0
./build-release/tools/record/halyard-record --duration 10 --fps 10 --resolution cif \
  --format mkv,jpeg --input --output-dir "$out" || status=$?
if [ "$status" -ne 0 ]; then
  echo "The demo recording failed (exit status $status); see the message above." >&2
  exit "$status"
fi

count=$(ls "$out"/camera1/*.jpg 2>/dev/null | wc -l)
video=$(ls "$out"/camera1/*.mkv 2>/dev/null | head -n 1)
echo
echo "=== $count pictures recorded"
echo "Video (Matroska, Motion JPEG, each picture at its arrival time): $video"
echo "Pictures (one JPEG file each): $out/camera1/"
echo "Index (frame,arrival_time,size,width,height): $out/camera1/index.csv"
echo "Figures of the run: $out/summary.csv"
echo
echo "To view them:"
echo "  mpv $video    (or vlc, ffplay)"
echo "  xdg-open $out/camera1/000001.jpg     (or eog, feh, any image viewer)"
echo "  column -s, -t $out/camera1/index.csv | head"
echo
echo "Record a real camera:"
echo "  ./build-release/tools/record/halyard-record --camera ADDRESS --model SNC-RZ50P --user admin --ask-password"
echo "  ./build-release/tools/record/halyard-record --help"
