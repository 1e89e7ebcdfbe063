#!/usr/bin/env bash
# The board on the network: how `tuvactl write` through ser2net (RFC 2217, loopback) compares with
# the local device, and what the probe's round trip is on the loopback and across a link that adds
# 50 ms to every round trip (a delaying TCP relay, since tc netem is not always at hand).
#
#   scripts/measure-network.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 3)
#
# The board is a simulated one paced like a 19200-baud line. Needs ser2net and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-3}
source scripts/measure-programs.sh "$build"
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
[ -x "$ser2net" ] || { echo "ser2net is missing (scripts/deps.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for_port() {
  for _ in $(seq 100); do
    python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$1),1)" 2>/dev/null && return
    sleep 0.05
  done
  echo "nothing listens on port $1" >&2; exit 1
}

# The paced board, on its pseudo-terminal and on a raw socket.
"$sim" --paced --listen 0 >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
for _ in $(seq 50); do
  [ "$(wc -l <"$work/sim.out")" -ge 2 ] && break
  sleep 0.1
done
pty=$(sed -n 1p "$work/sim.out")
socket_url=$(sed -n 2p "$work/sim.out")
socket_port=${socket_url##*:}
[ -n "$socket_url" ] || { echo "tuva-sim did not start: $(cat "$work/sim.err")" >&2; exit 1; }

# ser2net with RFC 2217 on the same terminal.
rfc_port=$(free_port)
cat >"$work/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &bench
  accepter: telnet(rfc2217),tcp,127.0.0.1,$rfc_port
  connector: serialdev,$pty,19200n81,local
  options:
    kickolduser: true
YAML
"$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
pids+=($!)
wait_for_port "$rfc_port"

# A relay that holds every chunk for half the added round trip in each direction.
cat >"$work/relay.py" <<'PY'
import asyncio, sys
target, delay = int(sys.argv[1]), float(sys.argv[2]) / 2000.0

async def pipe(reader, writer):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()
    async def sender():
        while True:
            stamp, data = await queue.get()
            wait = stamp + delay - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                writer.close()
                return
            writer.write(data)
            await writer.drain()
    task = asyncio.create_task(sender())
    while True:
        data = await reader.read(65536)
        queue.put_nowait((loop.time(), data))
        if not data:
            break
    await task

async def handle(client_reader, client_writer):
    reader, writer = await asyncio.open_connection("127.0.0.1", target)
    await asyncio.gather(pipe(client_reader, writer), pipe(reader, client_writer),
                         return_exceptions=True)

async def main():
    server = await asyncio.start_server(handle, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()

asyncio.run(main())
PY
start_relay() {  # target port, added round trip in ms; the relay's port goes to relay-TARGET.out
  python3 "$work/relay.py" "$1" "$2" >"$work/relay-$1.out" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/relay-$1.out" ] && break; sleep 0.1; done
}
start_relay "$rfc_port" 50
start_relay "$socket_port" 50
slow_rfc=$(head -n 1 "$work/relay-$rfc_port.out")
slow_socket=$(head -n 1 "$work/relay-$socket_port.out")

# The probe frame's round trip on a raw socket: frame out, four-byte acknowledgement back.
probe_rtt() {  # port
  python3 - "$1" <<'PY'
import socket, sys, time
frame = bytes.fromhex("02810A0018E754 61726E686F6C6C6F77 000000FFFFFF0000B30803".replace(" ", ""))
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
times = []
for _ in range(5):
    start = time.monotonic()
    s.sendall(frame)
    got = b""
    while len(got) < 4:
        got += s.recv(4 - len(got))
    times.append((time.monotonic() - start) * 1000)
print("min %.1f ms, max %.1f ms" % (min(times), max(times)))
PY
}

timed() {  # label, then tuvactl's arguments; prints wall seconds per run
  local label=$1; shift
  local walls=()
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e' -o "$work/time" "$tuvactl" --quiet "$@" >/dev/null 2>"$work/stderr" ||
      { echo "$label failed: $(cat "$work/stderr")" >&2; exit 1; }
    walls+=("$(cat "$work/time")")
  done
  echo "${walls[*]}"
}
best() { tr ' ' '\n' <<<"$1" | sort -n | head -n 1; }

"$tuvactl" new "$work/config.tbl"
"$tuvactl" --quiet --trace --port "$pty" write "$work/config.tbl" 2>"$work/trace" >/dev/null
bytes=$(awk '/^-> / { n += $2 + 0 } /^<- / { n += $2 + 0; if ($2 + 0 > 4) n += 1 } END { print n }' \
  "$work/trace")
line=$(awk -v b="$bytes" 'BEGIN { printf "%.3f", b * 10 / 19200 }')
echo "tuvactl write: $bytes bytes on the wire, ${line} s at 19200 baud; best of $runs runs:"
for target in "local device|$pty" "ser2net RFC 2217|rfc2217://127.0.0.1:$rfc_port" \
  "raw socket|$socket_url" "RFC 2217 +50 ms|rfc2217://127.0.0.1:$slow_rfc"; do
  label=${target%%|*}
  port=${target#*|}
  walls=$(timed "$label" --port "$port" write "$work/config.tbl")
  wall=$(best "$walls")
  [ "$label" = "local device" ] && local_wall=$wall
  awk -v n="$label" -v w="$wall" -v l="$line" -v o="$local_wall" -v all="$walls" 'BEGIN {
    printf "  %-18s wall %.2f s (runs: %s), wall/line %.3f, wall/local %.3f\n", n, w, all, w / l, w / o }'
done

echo "probe round trip (frame out, acknowledgement back, paced board):"
echo "  loopback:        $(probe_rtt "$socket_port")"
echo "  loopback +50 ms: $(probe_rtt "$slow_socket")"
echo "tuvactl probe (connect, negotiate, purge, probe), best of $runs:"
for target in "device|$pty" "RFC 2217|rfc2217://127.0.0.1:$rfc_port" \
  "RFC 2217 +50 ms|rfc2217://127.0.0.1:$slow_rfc" "raw socket +50 ms|socket://127.0.0.1:$slow_socket"; do
  label=${target%%|*}
  port=${target#*|}
  printf "  %-18s %s s\n" "$label" "$(best "$(timed "$label" --port "$port" probe)")"
done
