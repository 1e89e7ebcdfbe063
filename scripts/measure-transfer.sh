#!/usr/bin/env bash
# How close `tuvactl write` and `tuvactl read` come to the speed of the serial line, and how much
# CPU they use while they wait on it. The board is a simulated one paced like a 19200-baud line
# (ten bit times per byte, both ways).
#
#   scripts/measure-transfer.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 3)
#
# For each command: the bytes on the wire (from a --trace run), the time the line needs for them,
# then per timed run the wall time, its ratio to the line time (ideal 1.00) and CPU time (user +
# system) over wall time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-3}
source scripts/measure-programs.sh "$build"

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --paced >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do
  [ -s "$work/sim.out" ] && break
  sleep 0.1
done
port=$(head -n 1 "$work/sim.out")
[ -n "$port" ] || { echo "tuva-sim did not start: $(cat "$work/sim.err")" >&2; exit 1; }
"$tuvactl" new "$work/config.tbl"

# Bytes both ways: frames sent, acknowledgements (4 bytes), data replies and their ETX.
wire_bytes() {
  "$tuvactl" --quiet --trace --port "$port" "$@" 2>"$work/trace" >/dev/null
  awk '/^-> / { n += $2 + 0 }
       /^<- / { n += $2 + 0; if ($2 + 0 > 4) n += 1 }
       END { print n }' "$work/trace"
}

measure() {
  local name=$1; shift
  local bytes line
  bytes=$(wire_bytes "$@")
  line=$(awk -v b="$bytes" 'BEGIN { printf "%.3f", b * 10 / 19200 }')
  echo "$name: $bytes bytes on the wire, ${line} s at 19200 baud"
  for run in $(seq "$runs"); do
    /usr/bin/time -f '%e %U %S' -o "$work/time" \
      "$tuvactl" --quiet --port "$port" "$@" >/dev/null 2>"$work/stderr"
    read -r wall user sys <"$work/time"
    awk -v r="$run" -v w="$wall" -v u="$user" -v s="$sys" -v l="$line" 'BEGIN {
      printf "  run %d: wall %.2f s, wall/line %.3f, cpu %.2f s = %.1f%% of wall\n",
             r, w, w / l, u + s, 100 * (u + s) / w }'
  done
}

measure "tuvactl write" write "$work/config.tbl"
measure "tuvactl read" read "$work/read.tbl"
