#!/usr/bin/env bash
# How the records keep up with their size: for 1,000 and 1,000,000 programmed boards, in SQLite and
# in a PostgreSQL server of the script's own (a fresh cluster in a temporary folder, Unix socket
# only):
#   - tuvactl records --capcode N: wall time and peak memory (maximum resident set);
#   - tuvactl records --csv into a file (its lines are counted): rows per second and peak memory;
#   - tuvactl records --summary (and --json): wall time and peak memory;
#   - a board's reservation, erase mark and result through the store: milliseconds per board;
#   - the database's size per board, each board's image kept.
#
#   scripts/measure-records.sh [BUILD_DIR] [SIZES...]    (defaults: build/release, 1000 1000000)
#   TUVA_MEASURE_STORES="postgresql" (or "sqlite") measures only that store (default: both).
set -euo pipefail
cd "$(dirname "$0")/.."
stores=" ${TUVA_MEASURE_STORES:-sqlite postgresql} "
build=${1:-build/release}
shift || true
sizes=("${@:-1000 1000000}")
read -r -a sizes <<<"${sizes[*]}"
source scripts/measure-programs.sh "$build"
bench=$build/bench/tuva_bench_records
[ -x "$bench" ] || { echo "missing $bench: build tuva_bench_records first" >&2; exit 2; }

work=$(mktemp -d)
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
as_postgres=()
[ "$(id -u)" = 0 ] && as_postgres=(runuser -u postgres --)
pg_running=0
cleanup() {
  if [ "$pg_running" = 1 ]; then
    "${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Sets $wall and $cpu (seconds; cpu is user + system, which a shared machine does not inflate)
# and $rss (MB) of a command whose output goes to $work/out.
timed() {
  /usr/bin/time -v -o "$work/time" "$@" >"$work/out" 2>"$work/err"
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
    for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time")
  cpu=$(awk -F': ' '/(User|System) time/ { s += $2 } END { print s }' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$work/time")
}

measure() {
  local label=$1 where=$2 size=$3
  "$bench" fill "$where" "$size"
  local bytes
  bytes=$("$bench" size "$where" "$size")
  local capcode=$((1000000 + size / 2))
  # The machine's load (1, 5 and 15 minutes) as the measures of this size start.
  printf '%-10s %9d boards (load %s):\n' "$label" "$size" "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf '  database: %s bytes per board (images kept)\n' "$bytes"
  timed "$tuvactl" records --records "$where" --capcode "$capcode"
  grep -q "1=$capcode" "$work/out" || { echo "records --capcode $capcode found nothing" >&2; exit 1; }
  printf '  records --capcode: %.3f s wall, %.3f s cpu, %s MB\n' "$wall" "$cpu" "$rss"
  timed "$tuvactl" records --records "$where" --csv
  local rows
  rows=$(($(wc -l <"$work/out") - 1))
  printf '  records --csv: %.0f rows/s wall (%.0f per cpu second), %.2f s wall, %.2f s cpu, %s MB\n' \
    "$(awk -v r="$rows" -v w="$wall" 'BEGIN { print r / (w > 0 ? w : 0.001) }')" \
    "$(awk -v r="$rows" -v c="$cpu" 'BEGIN { print r / (c > 0 ? c : 0.001) }')" "$wall" "$cpu" "$rss"
  timed "$tuvactl" records --records "$where" --summary
  printf '  records --summary: %.2f s wall, %.2f s cpu, %s MB\n' "$wall" "$cpu" "$rss"
  timed "$tuvactl" records --records "$where" --summary --json
  printf '  records --summary --json: %.2f s wall, %.2f s cpu, %s MB\n' "$wall" "$cpu" "$rss"
  timed "$bench" time "$where" 200
  printf '  reservation + erase mark + record: %s ms per board wall, %.2f ms cpu\n' \
    "$(cat "$work/out")" "$(awk -v c="$cpu" 'BEGIN { print c * 1000 / 200 }')"
}

[[ "$stores" == *" sqlite "* ]] && for size in "${sizes[@]}"; do
  measure SQLite "$work/records-$size.sqlite" "$size"
done

[[ "$stores" == *" postgresql "* ]] || exit 0
if [ -z "$pg_bin" ]; then
  echo "PostgreSQL: the server programs (Debian package postgresql) are not installed" >&2
  exit 0
fi
mkdir -p "$work/pg"
[ "$(id -u)" = 0 ] && chown postgres: "$work" "$work/pg"
"${as_postgres[@]}" "$pg_bin/initdb" -D "$work/pg/data" -U postgres -A trust -E UTF8 --locale=C \
  --no-sync >/dev/null
"${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/server.log" -w -o \
  "-c listen_addresses='' -k $work/pg -c fsync=off -c shared_buffers=128MB" start >/dev/null
pg_running=1
for size in "${sizes[@]}"; do
  "${as_postgres[@]}" "$pg_bin/createdb" -h "$work/pg" -U postgres "records$size"
  measure PostgreSQL "postgresql:///records$size?host=$work/pg&user=postgres" "$size"
done
