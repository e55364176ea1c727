#!/usr/bin/env python3
"""Clock agreement between two test hosts: how far the client's clock is from the server's
after each synchronisation.

Each test host (network namespace on a veth LAN, see tests/scenario/harness.py) has a simulated
clock: the real clock plus an offset kept in a file, which the client's clock setting changes.
Both clocks tick with the same real clock, so after each setting

    residual = client's offset - server's offset

is exactly the error that setting left, free of any measurement noise. Three runs, each on
hosts of its own:

  poll       chronsvc server (clock AHEAD s ahead), chronsvc client polling it every second
  broadcast  chronsvc server broadcasting every second, chronsvc broadcast client (the one-way
             network delay is not corrected, so the residual is about that delay)
  chronyd    chronyd server (local stratum 1, -x, serving the real clock: offset 0), chronsvc
             client starting AHEAD s behind and polling it every second

The first setting of each run takes the client from AHEAD s away to the server and is not
counted; each later one gives one residual. Prints median, mean and maximum |residual| in
microseconds per run, and the load average, which the figures depend on.

    sudo bench/residual.py [build directory] [--polls 30] [--runs poll,broadcast,chronyd]
    sudo bench/residual.py build --chronsvc /path/to/other/chronsvc     (compare another build)

Needs root (network namespaces), iproute2, util-linux and, for the chronyd run, chrony.
Python 3 standard library only.
"""

import argparse
import os
import shutil
import statistics
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "scenario"))
sys.path.insert(0, os.path.join(here, "..", "tests", "interop"))
import harness  # noqa: E402  (the test hosts of the scenario tests)
import engine_support as es  # noqa: E402
import peers  # noqa: E402  (chronyd as the tests run it: never setting a clock)

AHEAD = 2.718281828        # seconds between the clocks at the start; not whole milliseconds


def settings_server(broadcast):
    return {"Server\\Active": 1, "Server\\Broadcast": 1 if broadcast else 0,
            "Server\\BroadcastInterval": 1, "Client\\Active": 0}


def settings_client(server_address=None):
    if server_address is None:
        return {"Client\\Active": 1, "Client\\Broadcast": 1}
    return {"Client\\Active": 1, "Client\\Broadcast": 0, "Client\\TimeSource": server_address,
            "Client\\PollInterval": 1}


def start(host, chronsvc, settings):
    host.write_hive(harness.product(settings))
    process = host.spawn([chronsvc, "-debug"])
    process.wait_output(es.RUNNING + "\n", 10)
    return process


def residuals(client, process, reference, polls):
    """Residuals in seconds after the 2nd to (polls+1)-th setting of `process` on `client`."""
    found = []
    for count in range(1, polls + 2):
        seen = es.wait_lines(process, es.OFFSET, count, 10)
        if len(seen) < count:
            raise SystemExit("no synchronisation %d within 10 s:\n%s" % (count, process.describe()))
        # The setting precedes its trace lines; the next setting is a second away.
        if count > 1:
            found.append(client.clock_offset() - reference())
    return found


def run(kind, chronsvc, polls):
    lab = harness.Lab()
    try:
        lan = lab.lan()
        client = lab.host("prclient", lans=[lan], clock_offset=-AHEAD if kind == "chronyd" else 0)
        if kind == "chronyd":
            server = lab.host("prchrony", lans=[lan])
            peers.start_chronyd_server(server)
            reference = lambda: 0.0    # chronyd serves the real clock  # noqa: E731
        else:
            server = lab.host("prserver", lans=[lan], clock_offset=AHEAD)
            start(server, chronsvc, settings_server(kind == "broadcast"))
            reference = server.clock_offset
        process = start(client, chronsvc, settings_client(None if kind == "broadcast" else server.address))
        return residuals(client, process, reference, polls)
    finally:
        lab.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--polls", type=int, default=30, help="residuals per run (default 30)")
    parser.add_argument("--runs", default="poll,broadcast,chronyd", help="which runs, comma-separated")
    parser.add_argument("--chronsvc", help="the chronsvc program to measure (default: the build's)")
    parser.add_argument("--verbose", action="store_true", help="print every residual")
    options = harness.parse_bench_options(parser, "residual")
    chronsvc = os.path.abspath(options.chronsvc) if options.chronsvc else harness.program("chronsvc")
    runs = [r for r in options.runs.split(",") if r]
    if "chronyd" in runs and shutil.which("chronyd") is None:
        sys.exit("residual: the chronyd run needs chrony (scripts/install-deps.sh installs it)")

    print("chronsvc: %s" % chronsvc)
    print("load average before: %.2f %.2f %.2f (%d CPUs)" % (os.getloadavg() + (os.cpu_count(),)))
    results = []
    for kind in runs:
        started = time.monotonic()
        signed = [r * 1e6 for r in run(kind, chronsvc, options.polls)]
        values = [abs(v) for v in signed]
        if options.verbose:
            print("%-9s residuals (µs): %s" % (kind, " ".join("%+.1f" % v for v in signed)))
        results.append((kind, values, time.monotonic() - started))
    print("load average after:  %.2f %.2f %.2f" % os.getloadavg())
    for kind, values, seconds in results:
        print("%-9s %3d settings  |residual| median %8.1f µs  mean %8.1f µs  max %8.1f µs  (%.0f s)"
              % (kind, len(values), statistics.median(values), statistics.mean(values), max(values), seconds))


if __name__ == "__main__":
    main()
