"""Real NTP software from Debian as the peer of our programs on the test hosts of the harness.

chronyd never gets to set a clock: it always runs with -x (no control of the system clock) and
under setpriv without CAP_SYS_TIME in its bounding and inheritable sets, so not even a fault in
its configuration could step the machine's clock. Its files (configuration, drift, pid) live in
the test host's directory; it listens on port 123 of the host's own network namespace and has no
command port.

Python 3 standard library only.
"""

import os
import re
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenario"))
import harness  # noqa: E402  (the scenario harness is shared, not copied)

CAP_SYS_TIME = 25

# Runs a program without CAP_SYS_TIME: dropped from the bounding set (no execve can regain it)
# and from the inheritable set.
NO_SYS_TIME = ["setpriv", "--bounding-set=-sys_time", "--inh-caps=-sys_time"]

CHRONYD_NO_CLOCK = "Disabled control of system clock"


def require_tools(testcase, *tools):
    """Fails (or, with CHRON_ALLOW_SKIP=1, skips visibly) when a peer program is missing."""
    missing = [t for t in tools if shutil.which(t) is None]
    if not missing:
        return
    problem = ("interop tests need %s (Debian packages chrony, ntpsec-ntpdig and util-linux; "
               "scripts/install-deps.sh installs them)" % ", ".join(missing))
    if os.environ.get("CHRON_ALLOW_SKIP") == "1":
        raise unittest.SkipTest("SKIPPED (CHRON_ALLOW_SKIP=1): " + problem)
    testcase.fail("cannot run: " + problem + " (set CHRON_ALLOW_SKIP=1 to skip instead)")


def chronyd_server_conf(directory):
    """chronyd as a local stratum-1 server for everyone: no upstream source, no rate limit
    (no `ratelimit` directive: chronyd limits no one unless told), no command port."""
    return ("local stratum 1\n"
            "allow all\n"
            "port 123\n"
            "cmdport 0\n"
            "driftfile %s/chrony.drift\n"
            "pidfile %s/chronyd.pid\n" % (directory, directory))


def chronyd_client_conf(directory, server):
    """chronyd asking our server `server` at the shortest poll interval (for -Q)."""
    return ("server %s iburst minpoll 0 maxpoll 0\n"
            "cmdport 0\n"
            "port 0\n"
            "driftfile %s/chrony-client.drift\n"
            "pidfile %s/chronyd-client.pid\n" % (server, directory, directory))


def write_file(path, text):
    with open(path, "w") as handle:
        handle.write(text)
    return path


def chronyd_command(conf, *options):
    """chronyd in the foreground, never setting the clock, as root inside the test host (its
    capabilities reduced to what -x needs: it keeps CAP_NET_BIND_SERVICE for port 123)."""
    return NO_SYS_TIME + ["chronyd", "-x", "-d", "-u", "root", "-f", conf] + list(options)


def start_chronyd_server(host):
    """chronyd serving the real clock on `host` (its simulated clock file is not involved)."""
    conf = write_file(os.path.join(host.dir, "chrony.conf"), chronyd_server_conf(host.dir))
    process = host.spawn(chronyd_command(conf), syslog=False)
    wait_text(process, CHRONYD_NO_CLOCK, 5)
    return process


def wait_text(process, text, timeout):
    """Waits until stdout or stderr (where chronyd -d logs) of `process` contains `text`."""
    deadline = time.monotonic() + timeout
    while text not in process.output() + process.errors():
        if time.monotonic() > deadline or not process.alive():
            raise AssertionError("no %r from the process within %.1f s\n%s"
                                 % (text, timeout, process.describe()))
        time.sleep(0.02)


def run_chronyd_query(host, server, timeout=20.0):
    """chronyd -Q (measure once, set nothing, exit) against `server`; returns the Process."""
    conf = write_file(os.path.join(host.dir, "chrony-client.conf"),
                      chronyd_client_conf(host.dir, server))
    return host.run(NO_SYS_TIME + ["chronyd", "-Q", "-u", "root", "-f", conf], timeout=timeout,
                    syslog=False)


def capabilities(pid, field="CapBnd"):
    """A capability set of a running process (from /proc/<pid>/status) as an int."""
    with open("/proc/%d/status" % pid) as handle:
        for line in handle:
            if line.startswith(field + ":"):
                return int(line.split()[1], 16)
    raise AssertionError("no %s in /proc/%d/status" % (field, pid))


_OFFSET = re.compile(r"SNTP-Client: Zeitabweichung zu (\S+) beträgt (-?)(\d+)\.(\d{3}) Sekunden")


def traced_offsets(text, server=None):
    """Offsets in seconds from the client's trace lines, in order (signed, also between -1 and 0 s)."""
    found = []
    for match in _OFFSET.finditer(text):
        if server is not None and match.group(1) != server:
            continue
        value = int(match.group(3)) + int(match.group(4)) / 1000.0
        found.append(-value if match.group(2) else value)
    return found


def wait_offsets(testcase, process, server, count, timeout):
    """The offsets a client traced for `server`, once there are `count` of them."""
    deadline = time.monotonic() + timeout
    while True:
        offsets = traced_offsets(process.output(), server)
        if len(offsets) >= count:
            return offsets
        if time.monotonic() > deadline or not process.alive():
            testcase.fail("%d offsets to %s expected, traced %r\n%s"
                          % (count, server, offsets, process.describe()))
        time.sleep(0.05)
