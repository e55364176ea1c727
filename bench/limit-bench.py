#!/usr/bin/env python3
"""The server's rate limit under load: what a flooding source gets, what forged sources cost, and
the CPU per reply with the limit off and on.

Test hosts (network namespaces, see tests/scenario/harness.py; removed on exit) on one LAN: the
server (chronsvc, no trace per request, simulated clock), a load host and a host with CLIENTS
addresses, each a real client polling every POLL s. Three measurements:

  flood   one source sends RATE requests/s for SECONDS s against Server\\RateLimit 1 (the
          defaults: 2^3 s, burst 8, leak 2): its answers beside the bound
          burst + SECONDS/8 + requests over the limit/4, its kisses, and the share of the
          real clients' requests answered
  forged  FORGED datagrams from as many random sources (raw sockets; 172.16.0.0/12, routed back
          to the load host, which drops them) at FORGED_RATE/s with Server\\RateCeiling CEILING:
          the server's resident memory before and after, the table's fill, the answers per
          second beside the ceiling, the real clients answered
  cpu     the same forged load (every source asks once, so every request is answered) against
          chronsvc without and with the limit and chronyd without and with `ratelimit`: the
          server's CPU microseconds per reply (user + system time from /proc/<pid>/stat over the
          replies the load host took in)

    sudo bench/limit-bench.py [build directory] [--seconds 10] [--rate 20000] [--forged 100000]
                           [--steps flood,forged,cpu]

Needs root and iproute2. Python 3 standard library only.
"""

import argparse
import json
import os
import random
import socket
import struct
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "scenario"))
import harness  # noqa: E402
import engine_support as es  # noqa: E402
sys.path.insert(0, os.path.join(here, "..", "tests", "interop"))
import peers  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
BURST, INTERVAL_S, ONE_IN = 8, 8, 4


def proc(pid, name):
    with open("/proc/%d/%s" % (pid, name)) as f:
        return f.read()


def cpu_s(pid):
    fields = proc(pid, "stat").rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS       # utime + stime, in ticks


def rss_kb(pid):
    return next(int(l.split()[1]) for l in proc(pid, "status").splitlines() if l.startswith("VmRSS:"))


def counters(host):
    """The server's counters from its next record (it rewrites its status file every 10 s)."""
    path = host.env()["CHRON_STATUS"]
    written = os.stat(path).st_mtime_ns if os.path.exists(path) else 0
    while not os.path.exists(path) or os.stat(path).st_mtime_ns == written:
        time.sleep(0.2)
    with open(path) as f:
        return json.load(f)["counters"]


def replies(c):
    return c["requests_answered"] + c["kisses_sent"]


class Clients:
    """One socket per address of `host`, each asking `server` every `poll` s."""

    def __init__(self, host, server, poll):
        self.socks = [es.udp_socket(host, address=a) for a in host.addresses()]
        self.server, self.poll = server, poll
        self.sent = self.answered = 0
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            for sock in self.socks:
                sock.sendto(es.packet(), (self.server, es.NTP_PORT))
                self.sent += 1
            deadline = time.monotonic() + self.poll
            while time.monotonic() < deadline:
                for sock in self.socks:
                    self.answered += self.take(sock)
                time.sleep(0.05)

    @staticmethod
    def take(sock):
        n = 0
        while es.receive(sock, 0) is not None:
            n += 1
        return n

    def share(self):
        self.stop = True
        self.thread.join(self.poll + 2)
        return self.answered / max(1, self.sent), self.sent


def paced(seconds, rate, send):
    """Calls send() `rate` times a second for `seconds` s (in 10 ms slices); the count sent."""
    sent, begun = 0, time.monotonic()
    while True:
        elapsed = time.monotonic() - begun
        if elapsed >= seconds:
            return sent
        due = int(min(elapsed + 0.01, seconds) * rate)
        while sent < due:
            send()
            sent += 1
        time.sleep(max(0, begun + (sent / rate) - time.monotonic()))


def start(server, settings):
    server.write_hive(harness.product(dict({"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0},
                                           **settings)))
    # As a service under a service manager of the lab: nothing traced per request.
    process = server.spawn([harness.program("chronsvc")], syslog=False, line_buffered=False,
                           manager=server.lab.service_manager())
    process.manager.wait_for("READY=1", 10)
    probe = es.udp_socket(server)
    for _ in range(50):
        probe.sendto(es.packet(), (server.address, es.NTP_PORT))
        if es.receive(probe, 0.1) is not None:
            break
    probe.close()
    return process


def flood(options, lab, server, load, clients_host):
    served = start(server, {"Server\\RateLimit": 1})
    sock = es.udp_socket(load)
    kinds = {"time": 0, "kiss": 0}
    done = []

    def read():             # until none has come for 0.5 s after the flood
        while True:
            item = es.receive(sock, 0.5)
            if item is None and done:
                return
            if item is not None and len(item.data) >= 48:
                kinds["kiss" if es.Ntp(item.data).stratum == 0 else "time"] += 1

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    clients = Clients(clients_host, server.address, options.poll)
    request = es.packet()
    sent = paced(options.seconds, options.rate, lambda: sock.sendto(request, (server.address, es.NTP_PORT)))
    share, asked = clients.share()
    done.append(True)
    reader.join(5)
    c = counters(server)
    over = max(0, sent - BURST)
    bound = BURST + options.seconds / INTERVAL_S + over / ONE_IN
    print("flood: %d requests in %d s from one source: %d answers (bound %.0f), %d kisses; server counted "
          "rate_limited %d; real clients %d: %.2f %% of %d requests answered"
          % (sent, options.seconds, kinds["time"], bound, kinds["kiss"], c["dropped"].get("rate_limited", 0),
             len(clients.socks), 100 * share, asked))
    served.signal(2)
    served.wait(10)


def forged_load(options, server, load, count):
    """Sends `count` requests from random forged sources; the seconds it took."""
    with es.in_namespace(load):
        raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    payload = es.packet()
    destination = socket.inet_aton(server.address)
    rng = random.Random(1)

    def send():
        source = struct.pack("!I", 0xAC100000 | rng.getrandbits(20))      # 172.16.0.0/12
        udp = struct.pack("!HHHH", 1024 + rng.getrandbits(14), es.NTP_PORT, 8 + len(payload), 0) + payload
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_UDP, 0, source, destination)
        raw.sendto(ip + udp, (server.address, 0))

    begun = time.monotonic()
    paced(count / options.forged_rate, options.forged_rate, send)
    raw.close()
    return time.monotonic() - begun


def forged(options, lab, server, load, clients_host):
    served = start(server, {"Server\\RateLimit": 1, "Server\\RateCeiling": options.ceiling})
    before = rss_kb(served.pid)
    clients = Clients(clients_host, server.address, options.poll)
    seconds = forged_load(options, server, load, options.forged)
    share, asked = clients.share()
    c = counters(server)
    print("forged: %d sources in %.1f s: resident %d -> %d kB, table %d of %d, %.0f replies/s (ceiling %d), "
          "rate_ceiling %d; real clients %.2f %% of %d requests answered"
          % (options.forged, seconds, before, rss_kb(served.pid), c["rate_table_used"], c["rate_table_size"],
             replies(c) / seconds, options.ceiling, c["dropped"].get("rate_ceiling", 0), 100 * share, asked))
    served.signal(2)
    served.wait(10)


def received(host):
    """Datagrams the host's first adapter has taken in: the replies to forged sources, routed to
    the load host, which forwards nothing and drops them."""
    shown = harness._ip("-n", host.ns, "-j", "-s", "link", "show", host.adapters[0].ifname).stdout
    return json.loads(shown)[0]["stats64"]["rx"]["packets"]


def start_chronyd(server, limited):
    """chronyd as a local stratum-1 server (-x, no CAP_SYS_TIME: it never sets a clock), with
    its rate limit (`ratelimit`: the same defaults as ours) or without."""
    conf = os.path.join(server.dir, "chrony.conf")
    with open(conf, "w") as f:
        f.write("local stratum 1\nallow all\nport 123\ncmdport 0\ndriftfile %s/chrony.drift\n"
                "pidfile %s/chronyd.pid\n%s" % (server.dir, server.dir, "ratelimit\n" if limited else ""))
    process = server.spawn(peers.chronyd_command(conf), syslog=False, line_buffered=False)
    peers.wait_text(process, peers.CHRONYD_NO_CLOCK, 10)
    return process


def cpu(options, lab, server, load, clients_host):
    runs = (("chronsvc, limit off", lambda: start(server, {})),
            ("chronsvc, limit on", lambda: start(server, {"Server\\RateLimit": 1})),
            ("chronyd", lambda: start_chronyd(server, False)),
            ("chronyd, ratelimit", lambda: start_chronyd(server, True)))
    for name, launch in runs:
        served = launch()
        time.sleep(1)
        r0, t0 = received(load), cpu_s(served.pid)
        forged_load(options, server, load, options.forged)
        time.sleep(1)
        n, t1 = received(load) - r0, cpu_s(served.pid)
        print("cpu, %s: %d replies to %d forged sources, %.2f us CPU per reply"
              % (name, n, options.forged, (t1 - t0) * 1e6 / max(1, n)))
        served.signal(2)
        served.wait(10)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--rate", type=int, default=20000)
    parser.add_argument("--forged", type=int, default=100000)
    parser.add_argument("--forged-rate", type=int, default=20000)
    parser.add_argument("--ceiling", type=int, default=5000)
    parser.add_argument("--clients", type=int, default=100)
    parser.add_argument("--poll", type=float, default=2)
    parser.add_argument("--steps", default="flood,forged,cpu")
    options = harness.parse_bench_options(parser, "limit-bench")
    lab = harness.Lab()
    try:
        lan = lab.lan()
        server = lab.host("server", lans=[lan])
        load = lab.host("load", lans=[lan])
        clients_host = lab.host("clients")
        clients_host.connect(lan, addresses=options.clients)
        harness._ip("-n", server.ns, "route", "add", "172.16.0.0/12", "via", load.address)
        steps = {"flood": flood, "forged": forged, "cpu": cpu}
        for step in (steps[s] for s in options.steps.split(",")):
            step(options, lab, server, load, clients_host)
    finally:
        lab.cleanup()


if __name__ == "__main__":
    main()
