"""Helpers for the chron95 scenarios: the named shutdown event as seen from outside, processes
found by their network namespace, NetTrans hive keys and an NTP peer that sends crafted
messages and collects whatever comes back.

Python 3 standard library only.
"""

import json
import os
import signal
import sys
import time

import harness

SHUTDOWN_EVENT = "Orbek.SNTP.Shutdown.Event"
NETTRANS_KEY = "SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans"


# ---------------------------------------------------------------------------------------------
# Named shutdown event

def holds_shutdown_event(pid):
    """Whether process `pid` has the named shutdown event open (its /dev/shm file)."""
    directory = "/proc/%d/fd" % pid
    try:
        names = os.listdir(directory)
    except OSError:
        return False
    for name in names:
        try:
            target = os.readlink(os.path.join(directory, name))
        except OSError:
            continue
        if target.startswith("/dev/shm/" + SHUTDOWN_EVENT + "."):
            return True
    return False


def wait_holds_shutdown_event(pid, timeout=3.0):
    """Waits until `pid` holds the event: a set before that would meet no holder and be lost."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if holds_shutdown_event(pid):
            return
        time.sleep(0.01)
    raise AssertionError("process %d does not hold %s after %.1f s" % (pid, SHUTDOWN_EVENT, timeout))


def event_file(host):
    """Where `host`'s named shutdown event lives."""
    return "/dev/shm/%s.%d" % (SHUTDOWN_EVENT, _namespace_inode(host))


def remove_event_file(host):
    """Removes `host`'s event file (or whatever a test put at its name). chron95 keeps its handle
    to the process end and so never removes the file as a last holder would: without this every
    test host leaves one behind."""
    path = event_file(host)
    for remove in (os.unlink, os.rmdir):
        try:
            remove(path)
        except OSError:
            pass


def chronstop(host, *args, timeout=5.0):
    """Runs chronstop with `args` on `host` to its end; returns the Process."""
    return host.run([harness.program("chronstop")] + list(args), timeout=timeout, syslog=False)


def event_signalled(host):
    """chronstop --test on `host`: True (exit 0) or False (exit 1); anything else fails."""
    process = chronstop(host, "--test")
    if process.returncode not in (0, 1):
        raise AssertionError("chronstop --test: %s" % process.describe())
    return process.returncode == 0


# ---------------------------------------------------------------------------------------------
# Processes of a host found without their parent (daemons)

def _namespace_inode(host):
    return os.stat("/run/netns/" + host.ns).st_ino


def pids_in_host(host, executable):
    """Processes running `executable` (a path) in `host`'s network namespace."""
    wanted = os.path.realpath(executable)
    inode = _namespace_inode(host)
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.path.realpath("/proc/%s/exe" % entry) != wanted:
                continue
            if os.stat("/proc/%s/ns/net" % entry).st_ino != inode:
                continue
            with open("/proc/%s/stat" % entry) as handle:
                if handle.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue
        except OSError:
            continue
        found.append(int(entry))
    return sorted(found)


def wait_no_pids(host, executable, timeout):
    """Waits until no process runs `executable` in `host`; True if so within `timeout`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not pids_in_host(host, executable):
            return True
        time.sleep(0.01)
    return not pids_in_host(host, executable)


def kill_all_in_host(host, executable):
    """Kills what is left of `executable` in `host` (daemons the lab does not know of)."""
    try:
        pids = pids_in_host(host, executable)
    except OSError:
        return
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


# ---------------------------------------------------------------------------------------------
# Windows 95 network classes in the hive

def nettrans(subkeys, described=True):
    """Hive keys for [(subkey name, IPAddress text or None for no value), ...], in file order;
    each subkey also has a "DriverDesc" text unless `described` is False."""
    keys = {NETTRANS_KEY: {}}
    for name, address in subkeys:
        values = {"DriverDesc": "TCP/IP"} if described else {}
        if address is not None:
            values["IPAddress"] = address
        keys[NETTRANS_KEY + "\\" + name] = values
    return keys


# ---------------------------------------------------------------------------------------------
# NTP peer

# Runs on the peer host: binds 0.0.0.0:123, sends each message, then collects for `listen`
# seconds every datagram that arrives (replies and broadcasts alike).
_PEER = r'''
import json, socket, struct, sys, time
order = json.loads(sys.argv[1])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
sock.bind(("0.0.0.0", 123))
for target, mode, ahead in order["send"]:
    now = time.time() + ahead + 2208988800          # NTP era 0: seconds since 1900
    seconds = int(now)
    fraction = int((now - seconds) * 2**32) & 0xFFFFFFFF
    # LI 0, VN 4, mode; stratum 1 and reference "LOCL" so that a client would accept it.
    head = struct.pack("!BBbb", (4 << 3) | mode, 1, 6, -20)
    body = struct.pack("!II4s", 0, 0, b"LOCL") + struct.pack("!IIIIIIII", seconds, fraction,
           seconds, fraction, seconds, fraction, seconds, fraction)
    sock.sendto(head + body, (target, 123))
got = []
deadline = time.monotonic() + order["listen"]
while True:
    left = deadline - time.monotonic()
    if left <= 0:
        break
    sock.settimeout(left)
    try:
        data, sender = sock.recvfrom(1024)
    except socket.timeout:
        break
    got.append([sender[0], data[0] & 7 if data else -1, len(data)])
print(json.dumps(got))
'''


def ntp_peer(host, send, listen):
    """From `host`: sends [(target address, mode, seconds ahead of the real clock), ...] to port
    123 and returns what arrived within `listen` seconds: [(sender, mode, length), ...]."""
    order = json.dumps({"send": [list(item) for item in send], "listen": listen})
    process = host.run([sys.executable, "-c", _PEER, order], timeout=listen + 5, syslog=False)
    if process.returncode != 0:
        raise AssertionError("NTP peer failed:\n" + process.describe())
    return [tuple(item) for item in json.loads(process.output().strip().splitlines()[-1])]
