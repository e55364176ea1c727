#!/usr/bin/env bash
# Server throughput and cost of chronsvc, chronyd and a minimal batching reference server
# (bench/reference_server.cpp) and its twin, side by side in one run.
#
# Two test hosts (network namespaces joined by one veth pair; removed on exit): the server host
# runs in turn, for ROUNDS rounds (in the order chronsvc, twin, chronsvc-limit, twin-spread,
# chronyd, reference):
#   chronsvc        server active, broadcasts off, client inactive; as a service under a
#                   notification socket of this script, so that nothing is traced per request
#   chronsvc-limit  the same with Server\RateLimit 1 (RateInterval 0, RateBurst 255), the load
#                   spread over SOURCES source addresses (default 65536) so that no source is
#                   ever held back: every request costs a lookup in the table, most an eviction
#   chronyd         local stratum 1, no upstream source, no rate limiting, -x and no
#                   CAP_SYS_TIME: it never controls a clock
#   reference       recvmmsg, one clock read per batch, sendmmsg, nothing else
#   twin            the reference with each datagram's kernel arrival stamp as its Receive
#                   Timestamp and its destination (IP_PKTINFO) as the reply's source: the kernel
#                   features a full server needs, without its own work
#   twin-spread     the twin under the spread load of chronsvc-limit
# and the load host runs chron_loadgen against each. A closed-loop load generator saturates
# before the servers on a small machine, so replies per second alone do not tell a server's
# cost: each measurement also takes the server's CPU time per reply (user + system time from
# /proc/<pid>/stat over the measured seconds, divided by the replies counted in them). Prints
# each measurement, the medians, the ratio chronsvc/chronyd of replies per second and the CPU
# per reply of each (median and range over the rounds) with the ratios chronsvc/twin (limit
# off: against twin; on: against twin-spread), chronsvc/chronyd and chronsvc/reference.
#
# NTS=1 measures the cost of NTS instead: each round runs chronsvc and chronyd each plain and with
# NTS (certificates made by tests/testutil/make_test_pki.sh for the server's address), the load
# generator in its NTS mode (one NTS-KE, then every request with a fresh Unique Identifier and a
# cookie, only authenticated replies counted), and then NTS-KE alone: chron_ke_bench with
# KE_CONNECTIONS connections at once, each one full handshake after the other, against each
# server's NTS-KE (sessions per second and server CPU per session; chronyd's CPU includes its
# NTS-KE helper processes, children of the server process, as does every server's here). Prints
# the ratios NTS/plain of each server and chronsvc/chronyd with NTS.
#
#   sudo bench/run-bench.sh [build directory]
#   NTS=1 ROUNDS=5 KE_CONNECTIONS=8 sudo -E bench/run-bench.sh build
#   DURATION=5 WARMUP=1 SOCKETS=4 WINDOW=16 ROUNDS=3 PIN=1 sudo -E bench/run-bench.sh build
#   CHRONSVC=/path/to/other/chronsvc bench/run-bench.sh build    (compare another build)
#
# PIN=1 (default on machines with two or more CPUs) runs the server on CPU 0 and the load
# generator on CPU 1, the same for both servers. Needs root, iproute2, python3, chrony, setpriv.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-${CHRON_BIN_DIR:-$here/../build}}" && pwd)
DURATION=${DURATION:-5}
WARMUP=${WARMUP:-1}
SOCKETS=${SOCKETS:-4}
WINDOW=${WINDOW:-16}
ROUNDS=${ROUNDS:-3}
SOURCES=${SOURCES:-65536}
NTS=${NTS:-0}
KE_CONNECTIONS=${KE_CONNECTIONS:-8}
PIN=${PIN:-$([ "$(nproc)" -ge 2 ] && echo 1 || echo 0)}

die() { echo "run-bench: $*" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || die "needs root (network namespaces)"
for tool in ip python3 chronyd setpriv $([ "$NTS" = 1 ] && echo openssl); do
  command -v "$tool" >/dev/null || die "needs $tool (scripts/install-deps.sh installs it)"
done
chronsvc=${CHRONSVC:-$build/service/chronsvc}
loadgen=$build/bench/chron_loadgen
reference=$build/bench/chron_reference_server
[ -x "$chronsvc" ] || die "$chronsvc not built (cmake --build $build --target chronsvc)"
[ -x "$loadgen" ] || die "$loadgen not built (cmake --build $build --target chron_loadgen)"
[ -x "$reference" ] || die "$reference not built (cmake --build $build --target chron_reference_server)"
ke_bench=$build/bench/chron_ke_bench
[ "$NTS" != 1 ] || [ -x "$ke_bench" ] || die "$ke_bench not built (cmake --build $build --target chron_ke_bench)"
ticks=$(getconf CLK_TCK)

id=chrb$$
ns_server=${id}s
ns_load=${id}c
server_address=10.214.0.1
load_address=10.214.0.2
spread_base=10.215.0.1  # SOURCES addresses from here on, local to the load host
dir=$(mktemp -d /tmp/chron-bench.XXXXXX)
pids=()

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  ip netns del "$ns_server" 2>/dev/null || true
  ip netns del "$ns_load" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

server_cpu=()
load_cpu=()
if [ "$PIN" = 1 ] && command -v taskset >/dev/null; then
  server_cpu=(taskset -c 0)
  load_cpu=(taskset -c 1)
fi

# --- the two test hosts
ip netns add "$ns_server"
ip netns add "$ns_load"
ip link add "${id}a" netns "$ns_server" type veth peer name "${id}b" netns "$ns_load"
ip -n "$ns_server" link set lo up
ip -n "$ns_load" link set lo up
ip -n "$ns_server" addr add "$server_address/24" dev "${id}a"
ip -n "$ns_load" addr add "$load_address/24" dev "${id}b"
ip -n "$ns_server" link set "${id}a" up
ip -n "$ns_load" link set "${id}b" up
ip -n "$ns_load" route add local 10.215.0.0/16 dev lo
ip -n "$ns_server" route add 10.215.0.0/16 via "$load_address"

# Waits until the server answers an NTP request (up to 5 s).
probe() {
  ip netns exec "$ns_load" python3 - "$server_address" <<'EOF'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.2)
deadline = time.monotonic() + 5
while time.monotonic() < deadline:
    s.sendto(b"\x23" + b"\0" * 39 + b"\x01" * 8, (sys.argv[1], 123))
    try:
        data = s.recv(100)
        if len(data) >= 48 and data[0] & 7 == 4:
            sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit("server does not answer")
EOF
}

# Waits until the server takes TCP connections on the NTS-KE port (up to 5 s).
probe_ke() {
  ip netns exec "$ns_load" python3 -c '
import socket, sys, time
deadline = time.monotonic() + 5
while time.monotonic() < deadline:
    try:
        socket.create_connection((sys.argv[1], 4460), 0.2).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit("no NTS-KE server")' "$server_address"
}

# CPU time (user + system, all threads) of process $1 and its child processes (chronyd's NTS-KE
# helpers) in clock ticks: fields 14 and 15 of /proc/<pid>/stat, counted after the command name,
# which may hold blanks, in parentheses.
cpu_ticks() {
  local stat total child
  stat=$(cat "/proc/$1/stat")
  stat=${stat##*) }
  set -- "$1" $stat
  total=$((${13} + ${14}))
  for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
    total=$((total + $(cpu_ticks "$child" 2>/dev/null || echo 0)))
  done
  echo "$total"
}

# Runs the load generator against server process $2 (further arguments go to it); its RESULT
# line, with the server's CPU seconds over the measured time (from the end of the warm-up to the
# end), goes to $dir/results.
measure() {
  local label=$1 pid=$2
  shift 2
  sample "$label" "$pid" "$loadgen" --server "$server_address" --sockets "$SOCKETS" --window "$WINDOW" "$@"
}

# The same with NTS (NTS-KE first, then NTS requests).
measure_nts() {
  measure "$@" --nts "$server_address" --nts-ca "$dir/pki/ca.pem"
}

# NTS-KE sessions against server process $2.
measure_ke() {
  sample "$1" "$2" "$ke_bench" --server "$server_address" --ca "$dir/pki/ca.pem" --connections "$KE_CONNECTIONS"
}

# sample LABEL PID TOOL [arguments]: runs TOOL on the load host for WARMUP + DURATION seconds.
sample() {
  local label=$1 pid=$2 before after line sampler output
  shift 2
  (sleep "$WARMUP"; cpu_ticks "$pid" >"$dir/cpu.before") &
  sampler=$!
  output=$(ip netns exec "$ns_load" "${load_cpu[@]}" "$@" --duration "$DURATION" --warmup "$WARMUP" --label "$label")
  after=$(cpu_ticks "$pid")
  printf '%s\n' "$output" | grep -v '^RESULT ' || true
  line=$(printf '%s\n' "$output" | grep '^RESULT ')
  wait "$sampler"
  before=$(cat "$dir/cpu.before")
  echo "$line cpu_s=$(python3 -c "print(($after - $before) / $ticks)")" | tee -a "$dir/results"
}

# --- chronsvc: its hive, a simulated clock of its own (nothing here may touch the real
# clock), and a notification socket standing in for the service manager.
cat >"$dir/registry.reg" <<'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01\Client]
"Active"=dword:00000000

[HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01\Server]
"Active"=dword:00000001
"Broadcast"=dword:00000000
EOF
cp "$dir/registry.reg" "$dir/limit.reg"
cp "$dir/registry.reg" "$dir/nts.reg"
cat >>"$dir/nts.reg" <<EOF

[HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01]
"NtsServerCertificate"="$dir/pki/server.pem"
"NtsServerKey"="$dir/pki/server.key"
EOF
cat >>"$dir/limit.reg" <<'EOF'
"RateLimit"=dword:00000001
"RateInterval"=dword:00000000
"RateBurst"=dword:000000ff
EOF
echo 0 >"$dir/clock.offset"
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "a", buffering=1) as out:
    while True:
        out.write(s.recv(4096).decode("utf-8", "replace") + "\n")
' "$dir/notify.sock" "$dir/notify.log" &
pids+=($!)
for _ in $(seq 50); do [ -S "$dir/notify.sock" ] && break; sleep 0.1; done

# run_chronsvc LABEL HIVE MEASURE [load generator arguments]; MEASURE: measure, measure_nts or
# measure_ke
run_chronsvc() {
  local label=$1 hive=$2 how=$3
  shift 3
  : >"$dir/notify.log"
  env CHRON_HIVE="$hive" CHRON_SIMULATED_CLOCK="$dir/clock.offset" CHRON_STATUS="$dir/status.json" \
    NOTIFY_SOCKET="$dir/notify.sock" CHRON_NTS_SERVER_KEYS="$dir/nts-server-keys" \
    ip netns exec "$ns_server" "${server_cpu[@]}" "$chronsvc" >"$dir/chronsvc.out" 2>&1 &
  local pid=$!
  pids+=("$pid")
  for _ in $(seq 50); do grep -q '^READY=1$' "$dir/notify.log" && break; sleep 0.1; done
  grep -q '^READY=1$' "$dir/notify.log" || { cat "$dir/chronsvc.out"; die "chronsvc did not become ready"; }
  probe || die "chronsvc does not answer"
  [ "$how" = measure ] || probe_ke || { cat "$dir/chronsvc.out"; die "chronsvc has no NTS-KE server"; }
  "$how" "$label" "$pid" "$@"
  kill -TERM "$pid"
  wait "$pid" || die "chronsvc ended with status $?"
}

cat >"$dir/chrony.conf" <<EOF
local stratum 1
allow all
port 123
cmdport 0
driftfile $dir/chrony.drift
pidfile $dir/chronyd.pid
EOF
cp "$dir/chrony.conf" "$dir/chrony-nts.conf"
cat >>"$dir/chrony-nts.conf" <<EOF
ntsserverkey $dir/pki/server.key
ntsservercert $dir/pki/server.pem
EOF

# run_chronyd LABEL CONFIGURATION MEASURE
run_chronyd() {
  local label=$1 how=$3
  ip netns exec "$ns_server" "${server_cpu[@]}" setpriv --bounding-set=-sys_time --inh-caps=-sys_time \
    chronyd -x -d -u root -f "$2" >"$dir/chronyd.out" 2>&1 &
  local pid=$!
  pids+=("$pid")
  probe || { cat "$dir/chronyd.out"; die "chronyd does not answer"; }
  [ "$how" = measure ] || probe_ke || { cat "$dir/chronyd.out"; die "chronyd has no NTS-KE server"; }
  "$how" "$label" "$pid"
  kill -TERM "$pid"
  wait "$pid" || true  # chronyd ends with status 0 on SIGTERM; nothing depends on it
}

# run_reference LABEL [server arguments] [-- load generator arguments]
run_reference() {
  local label=$1 args=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ip netns exec "$ns_server" "${server_cpu[@]}" "$reference" "${args[@]}" >"$dir/reference.out" 2>&1 &
  local pid=$!
  pids+=("$pid")
  probe || { cat "$dir/reference.out"; die "the reference server does not answer"; }
  measure "$label" "$pid" "$@"
  kill -TERM "$pid"
  wait "$pid" || true  # ended by the signal
}

echo "chronsvc: $chronsvc"
echo "chronyd:  $(chronyd -v 2>&1 | head -1)"
echo "load: $SOCKETS sockets x $WINDOW requests in flight, ${DURATION}s per measurement, $ROUNDS rounds," \
     "pinned: $([ ${#server_cpu[@]} -gt 0 ] && echo "server CPU 0, load CPU 1" || echo no)"
if [ "$NTS" = 1 ]; then
  bash "$here/../tests/testutil/make_test_pki.sh" "$dir/pki" "$server_address"
  echo "NTS-KE: $KE_CONNECTIONS connections at once"
fi
for round in $(seq "$ROUNDS"); do
  echo "--- round $round"
  if [ "$NTS" = 1 ]; then
    run_chronsvc chronsvc "$dir/registry.reg" measure
    run_chronsvc chronsvc-nts "$dir/nts.reg" measure_nts
    run_chronyd chronyd "$dir/chrony.conf" measure
    run_chronyd chronyd-nts "$dir/chrony-nts.conf" measure_nts
    run_chronsvc ke-chronsvc "$dir/nts.reg" measure_ke
    run_chronyd ke-chronyd "$dir/chrony-nts.conf" measure_ke
    continue
  fi
  # Each chronsvc run next to its twin run: the pairs compared see about the same machine.
  run_chronsvc chronsvc "$dir/registry.reg" measure
  run_reference twin --twin
  run_chronsvc chronsvc-limit "$dir/limit.reg" measure --sources "$SOURCES" --source-base "$spread_base"
  run_reference twin-spread --twin -- --sources "$SOURCES" --source-base "$spread_base"
  run_chronyd chronyd "$dir/chrony.conf" measure
  run_reference reference
done

echo "--- summary (medians over $ROUNDS rounds)"
python3 - "$dir/results" "$DURATION" <<'EOF'
import re, statistics, sys
runs = {}
for line in open(sys.argv[1]):
    if line.startswith("RESULT "):
        fields = line.split()
        runs.setdefault(fields[1], []).append({k: float(v) for k, v in (f.split("=") for f in fields[2:])})
def median(name, key):
    return statistics.median(r[key] for r in runs[name])
def cpu_list(name):
    """The server's CPU microseconds per reply, one per round."""
    return [r["cpu_s"] * 1e6 / r["replies"] for r in runs[name] if r["replies"] > 0]
def c(name):
    return statistics.median(cpu_list(name))
names = [n for n in ("chronsvc", "chronsvc-limit", "chronsvc-nts", "chronyd", "chronyd-nts", "reference", "twin",
                     "twin-spread") if n in runs]
for name in names:
    cpu = cpu_list(name)
    print("%-14s %8.0f replies/s  p50 %5.0f us  p99 %5.0f us  bad %d  lost %d  NTS NAK %d"
          "  CPU %.2f us/reply (%.2f..%.2f)"
          % (name, median(name, "rps"), median(name, "p50_us"), median(name, "p99_us"),
             sum(r["bad"] for r in runs[name]), sum(r["lost"] for r in runs[name]),
             sum(r.get("nak", 0) for r in runs[name]), statistics.median(cpu), min(cpu), max(cpu)))
# NTS-KE: the load tool's "replies" are sessions. When the server's CPU is not busy all the
# time, the clients set the pace: one CPU of the server would take 1/(CPU per session).
for name in (n for n in ("ke-chronsvc", "ke-chronyd") if n in runs):
    cpu = cpu_list(name)
    rates = [r["rps"] for r in runs[name]]
    print("%-14s %8.1f sessions/s (%.1f..%.1f)  p50 %5.1f ms  failed %d  server CPU busy %.0f%%"
          "  CPU %.2f ms/session (%.2f..%.2f), one CPU: %.0f sessions/s"
          % (name, statistics.median(rates), min(rates), max(rates), median(name, "p50_us") / 1000,
             sum(r["failed"] for r in runs[name]), 100 * median(name, "cpu_s") / float(sys.argv[2]),
             statistics.median(cpu) / 1000, min(cpu) / 1000, max(cpu) / 1000, 1e6 / statistics.median(cpu)))
print("ratio chronsvc/chronyd (replies/s): %.2f" % (median("chronsvc", "rps") / median("chronyd", "rps")))
# The ratios of the medians, and in parentheses the median and range of the ratios within each
# round: the servers of one round ran a minute apart, under about the same load of the machine.
def ratio(a, b):
    rounds = [x / y for x, y in zip(cpu_list(a), cpu_list(b))]
    return "%.2f (%.2f, %.2f..%.2f)" % (c(a) / c(b), statistics.median(rounds), min(rounds), max(rounds))
print("CPU per reply:")
for a, b, what in (("chronsvc", "twin", "limit off"), ("chronsvc-limit", "twin-spread", "limit on"),
                   ("chronsvc", "chronyd", ""), ("chronsvc-limit", "chronyd", ""),
                   ("chronsvc", "reference", ""), ("twin", "reference", ""),
                   ("chronsvc-nts", "chronsvc", "NTS/plain"), ("chronyd-nts", "chronyd", "NTS/plain"),
                   ("chronsvc-nts", "chronyd-nts", "both NTS"), ("ke-chronsvc", "ke-chronyd", "per NTS-KE session")):
    if a in runs and b in runs:
        print("  %-27s %s  %s" % (a + "/" + b, ratio(a, b), what))
if any(r.get("bad", 0) or r.get("nak", 0) or r.get("failed", 0) for name in runs for r in runs[name]):
    print("WARNING: bad replies (failed checks), NTS NAKs or failed NTS-KE sessions were received")
EOF
