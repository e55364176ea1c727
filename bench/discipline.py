#!/usr/bin/env python3
"""Clock discipline: how far a client with a drifting oscillator stays from its server, all the
time, with Client\\Discipline 0 (the design: every reply steps the clock) and 1.

Test hosts (network namespaces, see tests/scenario/harness.py) with simulated clocks. Two LANs,
one per interval (16 s and 64 s), each with a chronsvc server (clock AHEAD s ahead, no drift)
that answers requests and broadcasts at that interval, and four clients on it: poll and
broadcast, each with Discipline 0 and 1. Every client's oscillator is +50 ppm
(CHRON_SIMULATED_FREQUENCY_PPM) and steps to +60 ppm after the measured time
(scripts/simclock.py set-frequency), which is then measured for as long again as needed to see it
followed. Every 250 ms the error of each client is taken twice:

  exact  client's clock - server's clock from their clock files (both tick with the same real
         clock, so this is the true error)
  ntp    through an NTP request from the server's host to the client host's own server part
         (the client hosts run client and server at once): what an outside observer sees,
         including the noise of that measurement (requests within 20 us of the observer's
         least round trip count)

After the convergence time it prints per client max and RMS |error| (mean included) over the
measured time before the step, after the step, and how long after the step the error last
exceeded 25 us.

    sudo bench/discipline.py [build directory] [--converge S] [--measure 300] [--after S]
                             [--intervals 16,64] [--keep DIR]

Needs root (network namespaces), iproute2 and util-linux. Python 3 standard library only.
"""

import argparse
import math
import os
import signal
import socket
import struct
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "scenario"))
import harness  # noqa: E402  (the test hosts of the scenario tests)
import engine_support as es  # noqa: E402
import simclock  # noqa: E402  (put on the path by harness)

AHEAD = 0.75           # seconds the servers are ahead at the start: the first reply steps
OSCILLATOR = 50.0      # ppm
STEPPED = 60.0         # ppm from half-way on
GOAL = 25e-6           # seconds
OBSERVED_DELAY = 20e-6  # seconds over the observer's least round trip that still count
NTP_EPOCH = 2208988800


def start(host, settings, env=None):
    host.write_hive(harness.product(settings))
    process = host.spawn([harness.program("chronsvc"), "-debug"], env=env)
    process.wait_output(es.RUNNING + "\n", 10)
    return process


def ntp_value(ns):
    seconds, rest = divmod(ns, 1000000000)
    return (seconds + NTP_EPOCH) << 32 | (rest << 32) // 1000000000


def ntp_offset(sock, address, clock_ns):
    """Offset (s) of the host at `address` against the clock `clock_ns()`, by one request."""
    t1 = clock_ns()
    sock.sendto(struct.pack("!BBBb3I4Q", 0x23, 0, 4, 0, 0, 0, 0, 0, 0, 0, ntp_value(t1)), (address, 123))
    while True:
        sock.settimeout(0.2)
        try:
            data = sock.recv(128)
        except socket.timeout:
            return None
        t4 = clock_ns()
        reply = es.Ntp(data)
        if reply.originate == ntp_value(t1):
            break
    t2 = ((reply.receive >> 32) - NTP_EPOCH) * 1e9 + (reply.receive & 0xFFFFFFFF) * 1e9 / 2 ** 32
    t3 = ((reply.transmit >> 32) - NTP_EPOCH) * 1e9 + (reply.transmit & 0xFFFFFFFF) * 1e9 / 2 ** 32
    return ((t2 - t1) + (t3 - t4)) / 2 / 1e9, ((t4 - t1) - (t3 - t2)) / 1e9


def stats(values):
    if not values:
        return float("nan"), float("nan")
    return max(abs(v) for v in values), math.sqrt(sum(v * v for v in values) / len(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--converge", type=float, help="seconds before measuring (default: 120, at least four of "
                        "the longest interval)")
    parser.add_argument("--measure", type=float, default=300, help="seconds measured before the step (default 300)")
    parser.add_argument("--after", type=float, help="seconds measured after the step (default: 150, at least "
                        "four of the longest interval)")
    parser.add_argument("--keep", metavar="DIR", help="leave the test hosts' files (traces, clock files) and "
                        "errors.csv (every exact error) in DIR")
    parser.add_argument("--intervals", default="16,64", help="poll and broadcast intervals (default 16,64)")
    options = harness.parse_bench_options(parser, "discipline")

    intervals = [int(i) for i in options.intervals.split(",")]
    if options.converge is None:
        options.converge = max(120.0, 4.0 * max(intervals))
    if options.after is None:
        options.after = max(150.0, 4.0 * max(intervals))
    if options.keep:
        os.makedirs(options.keep, exist_ok=True)
    lab = harness.Lab(options.keep)
    processes = []
    clients = []  # (label, host, interval)
    try:
        servers = []
        for interval in intervals:
            lan = lab.lan()
            server = lab.host("server%d" % interval, lans=[lan], clock_offset=AHEAD)
            servers.append(server)
            processes.append(start(server, {"Server\\Active": 1, "Server\\Broadcast": 1,
                                            "Server\\BroadcastInterval": interval, "Client\\Active": 0}))
            for kind in ("poll", "broadcast"):
                for discipline in (0, 1):
                    label = "%s %2d s %s" % (kind, interval, "discipline" if discipline else "design    ")
                    host = lab.host("%s%d%s" % (kind[0], interval, "d" if discipline else "s"), lans=[lan],
                                    clock_offset=0)
                    settings = {"Client\\Active": 1, "Client\\Broadcast": 1 if kind == "broadcast" else 0,
                                "Client\\PollInterval": interval, "Client\\Discipline": discipline,
                                "Server\\Active": 1, "Server\\Broadcast": 0}
                    if kind == "poll":
                        settings["Client\\TimeSource"] = server.address
                    processes.append(start(host, settings, {"CHRON_SIMULATED_FREQUENCY_PPM": str(OSCILLATOR)}))
                    clients.append((label, host, server))
        observers = {}
        for server in servers:
            sock = es.udp_socket(server)
            observers[server.name] = sock
        print("load average before: %.2f %.2f %.2f (%d CPUs)" % (os.getloadavg() + (os.cpu_count(),)))
        started = time.monotonic()
        step_at = options.converge + options.measure
        end = step_at + options.after
        stepped = False
        exact = {label: [] for label, _, _ in clients}   # (seconds since start, error)
        ntp = {label: [] for label, _, _ in clients}
        while True:
            elapsed = time.monotonic() - started
            if elapsed >= end:
                break
            if not stepped and elapsed >= step_at:
                for _, host, _ in clients:
                    host.set_clock_frequency(STEPPED)
                stepped = True
            if elapsed >= options.converge:
                now = time.time_ns()
                for label, host, server in clients:
                    exact[label].append((elapsed, host.clock_offset(now) - server.clock_offset(now)))
                for label, host, server in clients:
                    offset_ns = round(server.clock_offset() * 1e9)
                    seen = ntp_offset(observers[server.name], host.address, lambda: time.time_ns() + offset_ns)
                    if seen is not None:
                        ntp[label].append((elapsed,) + seen)
            time.sleep(max(0.0, 0.25 - (time.monotonic() - started - elapsed)))
        print("load average after:  %.2f %.2f %.2f" % os.getloadavg())
        if options.keep:
            with open(os.path.join(options.keep, "errors.csv"), "w") as table:
                table.write("client,seconds,exact_us\n")
                for label, series in exact.items():
                    table.writelines("%s,%.2f,%.2f\n" % (label.strip(), t, e * 1e6) for t, e in series)
        print("oscillator +%g ppm, +%g ppm from %.0f s on; measured from %.0f s to %.0f s; |error| in µs"
              % (OSCILLATOR, STEPPED, step_at, options.converge, end))
        print("%-28s %19s %19s %19s %10s" % ("client", "before step max/rms", "after step max/rms",
                                              "ntp-seen before step", "back <25µs"))
        for label, _, _ in clients:
            before = [e for t, e in exact[label] if t < step_at]
            after = [e for t, e in exact[label] if t >= step_at]
            late = [t for t, e in exact[label] if t >= step_at and abs(e) > GOAL]
            back = "%6.0f s" % (max(late) - step_at) if late else "at once"
            if late and max(late) > end - 1:
                back = "never"
            b_max, b_rms = stats(before)
            a_max, a_rms = stats(after)
            # The observer's own delays (Python on a shared machine) vary by milliseconds: only its
            # requests within OBSERVED_DELAY of its least round trip count, whose offsets the
            # excess delay can carry off by at most half of that.
            least = min((d for _, _, d in ntp[label]), default=0.0)
            n_max, n_rms = stats([e for t, e, d in ntp[label] if t < step_at and d <= least + OBSERVED_DELAY])
            print("%-28s %9.1f /%8.1f %9.1f /%8.1f %9.1f /%8.1f %10s"
                  % (label, b_max * 1e6, b_rms * 1e6, a_max * 1e6, a_rms * 1e6, n_max * 1e6, n_rms * 1e6, back))
    finally:
        for process in processes:
            if process.alive():
                process.signal(signal.SIGINT)
        lab.cleanup()


if __name__ == "__main__":
    main()
