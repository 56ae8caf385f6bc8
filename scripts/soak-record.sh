#!/bin/bash
# Long run of halyard-record against halyard-camsim with a camera fault every
# two minutes (not part of CI). Judges:
#   - no picture lost (the simulator numbers its pictures; the summary counts
#     by number) and every gap in gaps.csv lies inside a fault window;
#   - the video on disk stays within --max-disk (plus one segment being written);
#   - the recorder's memory stays flat after the warm-up.
#   scripts/soak-record.sh [MINUTES=60]     env: BUILD=build-release CAMERAS=4 FPS=10
#                                                MAX_DISK=40M SEGMENT=30 KEEP=0
set -euo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-60}
BUILD=${BUILD:-build-release}
CAMERAS=${CAMERAS:-4}
FPS=${FPS:-10}
MAX_DISK=${MAX_DISK:-40M}
SEGMENT=${SEGMENT:-30}
RECORD=$BUILD/tools/record/halyard-record
CAMSIM=$BUILD/tools/camsim/halyard-camsim
[ -x "$RECORD" ] && [ -x "$CAMSIM" ] || { echo "build $RECORD and $CAMSIM first" >&2; exit 2; }

work=$(mktemp -d /tmp/halyard-soak-XXXXXX)
out=$work/rec
faults=$work/faults.csv     # camera,start,end (seconds since 1970)
samples=$work/samples.csv   # time,rss_kib,video_bytes
mkfifo "$work/ctl"
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${rec_pid:-}" ] && kill "$rec_pid" 2>/dev/null || true
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

base=$((20000 + RANDOM % 20000))
"$CAMSIM" --cameras "$CAMERAS" --base-port "$base" --fps "$FPS" -q <"$work/ctl" >"$work/camsim.log" 2>&1 &
sim_pid=$!
exec 3>"$work/ctl"
sleep 1
args=()
for i in $(seq 0 $((CAMERAS - 1))); do args+=(--camera "127.0.0.1:$((base + i))"); done
"$RECORD" "${args[@]}" --fps "$FPS" --segment "$SEGMENT" --max-disk "$MAX_DISK" \
  --duration $((MINUTES * 60)) --quiet --output-dir "$out" >"$work/record.log" 2>&1 &
rec_pid=$!

max_bytes=$(numfmt --from=iec "$MAX_DISK")
echo "time,rss_kib,video_bytes" >"$samples"
echo "camera,start,end" >"$faults"
start=$(date +%s)
end=$((start + MINUTES * 60))
next_fault=$((start + 30))
fault_no=0
sample() {
  local rss bytes
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$rec_pid/status" 2>/dev/null || echo 0)
  bytes=$({ find "$out" -name '*.mkv' -printf '%s\n' 2>/dev/null || true; } | awk '{s += $1} END {print s + 0}')
  echo "$(date +%s),$rss,$bytes" >>"$samples"
}
# Fault kinds in turn: the stream pauses; the web server hangs and the stream
# stops; the web server closes every connection and the stream stops.
fault() {
  local cam=$1 kind=$2 t0 t1
  t0=$(date +%s.%N)
  case $kind in
    0) echo "$cam pause=1" >&3; sleep 12; echo "$cam pause=0" >&3 ;;
    1) echo "$cam hang=*&stop=1" >&3; sleep 20; echo "$cam clearhttp=1" >&3 ;;
    2) echo "$cam close=*&stop=1" >&3; sleep 15; echo "$cam clearhttp=1" >&3 ;;
  esac
  t1=$(date +%s.%N)
  echo "camera$cam,$t0,$t1" >>"$faults"
}
while kill -0 "$rec_pid" 2>/dev/null && [ "$(date +%s)" -lt "$end" ]; do
  sample
  if [ "$(date +%s)" -ge "$next_fault" ] && [ "$(date +%s)" -lt $((end - 60)) ]; then
    fault $((fault_no % CAMERAS + 1)) $((fault_no % 3)) &
    fault_no=$((fault_no + 1))
    next_fault=$((next_fault + 120))
  fi
  sleep 10
done
status=0
wait "$rec_pid" || status=$?
rec_pid=
echo quit >&3
wait "$sim_pid" || true
sim_pid=
wait  # the last fault
echo "recorder exit status $status"

run=$out
result=0
python3 - "$run" "$faults" "$samples" "$max_bytes" "$SEGMENT" "$FPS" "$CAMERAS" "$status" <<'PY' || result=$?
import csv, glob, os, sys
run, faults_path, samples_path, max_bytes, segment, fps, cameras, status = sys.argv[1:]
max_bytes, segment, fps, cameras, status = int(max_bytes), int(segment), int(fps), int(cameras), int(status)
ok = status == 0
faults = {}
for row in csv.DictReader(open(faults_path)):
    faults.setdefault(row["camera"], []).append((float(row["start"]), float(row["end"])))
# A fault's window reaches until the camera can be back: the stall limit,
# the longest back-off reached and the reconnection.
slack = 40.0
summary = list(csv.DictReader(open(os.path.join(run, "summary.csv"))))
total = lost = 0
for row in summary:
    name = row["camera"]
    total += int(row["pictures"]); lost += int(row["lost"])
    outside = []
    path = os.path.join(run, name, "gaps.csv")
    if os.path.exists(path):
        for g in csv.DictReader(open(path)):
            s = float(g["start"])
            if not any(a - 1.0 <= s <= b + slack for a, b in faults.get(name, [])):
                outside.append(g)
    n = len(faults.get(name, []))
    print(f"{name}: {row['pictures']} pictures, {row['lost']} lost, {row['gaps']} gaps "
          f"({float(row['gap_seconds']):.1f} s) for {n} faults, {len(outside)} gaps outside a fault window, "
          f"connected {row['connections']} times")
    ok = ok and int(row["lost"]) == 0 and not outside
samples = list(csv.DictReader(open(samples_path)))
peak = max(int(s["video_bytes"]) for s in samples)
segment_bytes = 0
sizes = sorted(os.path.getsize(p) for p in glob.glob(os.path.join(run, "*", "*.mkv")))
if sizes: segment_bytes = sizes[-1] * cameras
print(f"video on disk: peak {peak / 2**20:.1f} MiB, limit {max_bytes / 2**20:.1f} MiB "
      f"(+ segments being written, up to {segment_bytes / 2**20:.1f} MiB)")
ok = ok and peak <= max_bytes + segment_bytes
rss = [int(s["rss_kib"]) for s in samples if int(s["rss_kib"]) > 0]
warm = rss[len(rss) // 6:] or rss
if warm:
    first, last, top = warm[0], warm[-1], max(warm)
    print(f"recorder memory after warm-up: {first / 1024:.1f} MiB at first, {last / 1024:.1f} MiB at the end, "
          f"{top / 1024:.1f} MiB at most ({len(rss)} samples)")
    ok = ok and top <= first * 1.15 + 2048
print(f"total: {total} pictures, {lost} lost over {len(samples) * 10 / 60:.0f} min")
print("SOAK PASSED" if ok else "SOAK FAILED")
sys.exit(0 if ok else 1)
PY
echo "logs and recording: $work"
trap - EXIT
cleanup
exit $result
