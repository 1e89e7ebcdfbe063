#!/usr/bin/env bash
# How well `tuvactl series` programs several adapters at once, and how fast the board search is.
# The boards are simulated ones paced like a 19200-baud line (ten bit times per byte, both ways).
#
#   scripts/measure-series.sh [BUILD_DIR] [BOARDS]     (defaults: build/release, 4)
#
# 1. One board on one port, then BOARDS boards on BOARDS ports in one run: the wall time of each,
#    their ratio (ideal 1.00) and the CPU time (user + system) of tuvactl over its wall time.
# 2. `tuvactl probe` over eight silent ports and, last in order, one board: the wall time.
# 3. What one board costs: the wall time of `tuvactl write` of the template to a paced board (the
#    Write's wire time, with its read-back of both copies), then the mean seconds per board the
#    records hold for a series of 3 boards on one paced jig, with the Write's read-back as the
#    verification and with --verify; each as a ratio to the Write (target 1.02 at most without
#    --verify).
# 4. The firmware step: the mean seconds per board of the same series with --firmware of the
#    firmware its boards already run (the look at the end of the window is the difference from
#    3.), and one board whose firmware differs, programmed and then configured.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
boards=${2:-4}
source scripts/measure-programs.sh "$build"

work=$(mktemp -d)
sim_pids=()
sims_started=0
cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a simulated board with the given options; its device path goes to $sim_port.
start_sim() {
  sims_started=$((sims_started + 1))
  local out=$work/sim$sims_started.out
  "$sim" "$@" >"$out" 2>"$out.err" &
  sim_pids+=($!)
  for _ in $(seq 50); do
    [ -s "$out" ] && break
    sleep 0.1
  done
  [ -s "$out" ] || { echo "tuva-sim did not start: $(cat "$out.err")" >&2; exit 1; }
  sim_port=$(head -n 1 "$out")
}

stop_sims() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  sim_pids=()
}

"$tuvactl" new "$work/template.tbl"

# Runs a series of $1 boards on $1 paced ports; sets $wall and $cpu.
series() {
  local count=$1 ports=()
  for _ in $(seq "$count"); do
    start_sim --paced
    ports+=(--port "$sim_port")
  done
  /usr/bin/time -f '%e %U %S' -o "$work/time" \
    "$tuvactl" series "$work/template.tbl" --capcode 1=1500000 --count "$count" \
    --new-records --records "$work/records-$count.sqlite" "${ports[@]}" >"$work/series-$count.out" 2>&1
  stop_sims
  read -r wall user sys <"$work/time"
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
}

series 1
wall1=$wall cpu1=$cpu
series "$boards"
wallN=$wall cpuN=$cpu
awk -v n="$boards" -v w1="$wall1" -v c1="$cpu1" -v wn="$wallN" -v cn="$cpuN" 'BEGIN {
  printf "series of 1 board on 1 port: wall %.2f s, cpu %.2f s = %.1f%% of wall\n",
         w1, c1, 100 * c1 / w1
  printf "series of %d boards on %d ports: wall %.2f s, cpu %.2f s = %.1f%% of wall\n",
         n, n, wn, cn, 100 * cn / wn
  printf "wall time ratio %d boards / 1 board: %.3f (target 1.02 at most)\n", n, wn / w1 }'

ports=()
for _ in $(seq 8); do
  start_sim --silent
  ports+=(--port "$sim_port")
done
start_sim
ports+=(--port "$sim_port")
/usr/bin/time -f '%e' -o "$work/time" "$tuvactl" probe "${ports[@]}" >"$work/probe.out"
echo "board search over 8 silent ports and one board: $(cat "$work/time") s (target under 0.5 s)," \
  "found $(cat "$work/probe.out")"

start_sim --paced
/usr/bin/time -f '%e' -o "$work/time" "$tuvactl" write "$work/template.tbl" --port "$sim_port" \
  >"$work/write.out" 2>&1
stop_sims
write_wall=$(cat "$work/time")

# Mean seconds per board of a series of 3 boards on one paced jig, with extra series options.
per_board() {
  start_sim --paced --boards 3 --removed-ms 200
  "$tuvactl" series "$work/template.tbl" --capcode 1=1600000 --count 3 --new-records \
    --records "$work/board-$1.sqlite" --port "$sim_port" "${@:2}" >"$work/board-$1.out" 2>&1
  stop_sims
  "$tuvactl" records --records "$work/board-$1.sqlite" --csv |
    awk -F, 'NR > 1 { sum += $12; n++ } END { printf "%.3f", sum / n }'
}
readback=$(per_board readback)
verify=$(per_board verify --verify)
awk -v w="$write_wall" -v r="$readback" -v v="$verify" 'BEGIN {
  printf "tuvactl write to one paced board: %.2f s\n", w
  printf "series, per board, the read-back as the verification: %.3f s = %.3f x the Write " \
         "(target 1.02 at most)\n", r, r / w
  printf "series, per board, with --verify: %.3f s = %.3f x the Write\n", v, v / w }'

# The firmware every simulated board powers up with: the last 64 KB of its flash file, as an S2 file
# (the sum bytes at the end are the loader's own).
start_sim --flash "$work/flash.bin"
stop_sims
tail -c 65536 "$work/flash.bin" >"$work/firmware.bin"
srec_cat "$work/firmware.bin" -binary -crop 0 0xFFFE -offset 0xE0000 \
  -o "$work/firmware.s19" -motorola -address-length=3 2>/dev/null
same=$(per_board firmware-same --firmware "$work/firmware.s19")
start_sim --paced --identification "FLEX  V02.30"
/usr/bin/time -f '%e' -o "$work/time" "$tuvactl" series "$work/template.tbl" --capcode 1=1700000 \
  --count 1 --new-records --records "$work/firmware-other.sqlite" --port "$sim_port" \
  --firmware "$work/firmware.s19" >"$work/firmware-other.out" 2>&1
stop_sims
other=$(cat "$work/time")
awk -v r="$readback" -v s="$same" -v o="$other" 'BEGIN {
  printf "series with --firmware, per board, the board already runs it: %.3f s (%+.3f s)\n", s, s - r
  printf "series with --firmware, one board with other firmware: %.2f s wall\n", o }'
grep -q "programmed" "$work/firmware-other.out" || cat "$work/firmware-other.out"
