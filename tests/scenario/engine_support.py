"""Helpers for the engine's scenario tests: raw UDP sockets inside a test host's namespace,
NTP datagrams built and read byte by byte, the trace lines of the engine, and a watcher that
stamps each trace line with the time it appeared.

Python 3 standard library only.
"""

import contextlib
import ctypes
import json
import os
import re
import select
import socket
import struct
import threading
import time

import harness

CLONE_NEWNET = 0x40000000
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
NTP_EPOCH_OFFSET = 2208988800          # seconds from 1900-01-01 to 1970-01-01
NTP_PORT = 123

_libc = ctypes.CDLL(None, use_errno=True)


def _setns(fd):
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        error = ctypes.get_errno()
        raise OSError(error, "setns: " + os.strerror(error))


@contextlib.contextmanager
def in_namespace(host):
    """Runs the block with this thread in the host's network namespace: sockets created in it
    stay in that namespace afterwards. Only the calling thread moves."""
    own = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
    target = os.open("/run/netns/" + host.ns, os.O_RDONLY)
    try:
        _setns(target)
        try:
            yield
        finally:
            _setns(own)
    finally:
        os.close(target)
        os.close(own)


def udp_socket(host, port=0, address="0.0.0.0", broadcast=False, pktinfo=False):
    """A UDP socket of the host's namespace bound to address:port (port 0: any free port)."""
    with in_namespace(host):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if broadcast:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    if pktinfo:
        sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    # Kernel arrival stamps: a datagram read late still tells when it came.
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sock.bind((address, port))
    return sock


def send_forged(host, source, destination, payload):
    """Sends a UDP datagram from the host's namespace with any source (address, port), however
    forged: a raw IPv4 packet whose header we write ourselves (the kernel fills in the length,
    identification and header checksum; a UDP checksum of 0 means none)."""
    with in_namespace(host):
        sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    try:
        udp = struct.pack("!HHHH", source[1], destination[1], 8 + len(payload), 0) + payload
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton(source[0]), socket.inet_aton(destination[0]))
        sock.sendto(ip + udp, (destination[0], 0))
    finally:
        sock.close()


class Datagram:
    def __init__(self, data, source, destination=None, when=None):
        self.data = data
        self.source = source            # (address, port)
        self.destination = destination  # address from IP_PKTINFO, when asked for
        self.time = when if when is not None else time.time()   # arrival, seconds since 1970

    def __repr__(self):
        return "Datagram(%d bytes from %s:%d to %s: %s)" % (
            len(self.data), self.source[0], self.source[1], self.destination, self.data[:16].hex())


def receive(sock, timeout):
    """One datagram (with its destination when IP_PKTINFO is on), or None after timeout."""
    ready, _, _ = select.select([sock], [], [], max(timeout, 0))
    if not ready:
        return None
    data, ancillary, _, source = sock.recvmsg(2048, socket.CMSG_SPACE(12) + socket.CMSG_SPACE(16))
    destination = when = None
    for level, kind, value in ancillary:
        if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(value) >= 12:
            destination = socket.inet_ntoa(value[8:12])      # ipi_addr: the header's destination
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(value) >= 16:
            seconds, nanoseconds = struct.unpack("qq", value[:16])
            when = seconds + nanoseconds / 1e9
    return Datagram(data, source, destination, when)


def drain(sock, quiet=0.2):
    """Every datagram that arrives until none has come for `quiet` seconds."""
    found = []
    while True:
        item = receive(sock, quiet)
        if item is None:
            return found
        found.append(item)


# ---------------------------------------------------------------------------------------------
# NTP datagrams

def ntp_now(offset=0.0):
    """The NTP time (64-bit: seconds since 1900 << 32 | fraction) of the real clock + offset."""
    now = time.time() + offset
    return (int(now) + NTP_EPOCH_OFFSET) << 32 | int((now % 1) * (1 << 32))


def ntp_to_unix(value):
    return (value >> 32) - NTP_EPOCH_OFFSET + (value & 0xFFFFFFFF) / 2 ** 32


def packet(mode=3, version=4, li=0, poll=10, transmit=None, originate=0, length=48, stratum=0,
           fill=b"\0"):
    """An NTP datagram of `length` bytes (padded with `fill`, cut when shorter than 48)."""
    transmit = ntp_now() if transmit is None else transmit
    head = struct.pack("!BBBb3I4Q", (li << 6) | (version << 3) | mode, stratum, poll, 0, 0, 0, 0,
                       0, originate, 0, transmit)
    return (head + fill * max(0, length - 48))[:length]


class Ntp:
    """The fields of a received NTP message (network byte order decoded)."""

    def __init__(self, data):
        self.data = data
        (first, self.stratum, self.poll, self.precision, self.root_delay, self.root_dispersion,
         self.reference_id, self.reference, self.originate, self.receive,
         self.transmit) = struct.unpack("!BBBb3I4Q", data[:48])
        self.li, self.version, self.mode = first >> 6, (first >> 3) & 7, first & 7

    def __repr__(self):
        return "Ntp(%s)" % self.data.hex()


# ---------------------------------------------------------------------------------------------
# Trace lines (debug mode) and catalogue texts

RUNNING = "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."   # 0x41000017
ENDED = "SNTP-Shutdown: Der SNTP Dienst wurde beendet."                                # 0x41000018
STOP_DONE = "SNTP-Control: Die Anforderung zum Beenden des SNTP Dienstes wurde bearbeitet."  # 0x41000019
STOPPING = "SNTP-Control: Stoppe Simple Network Time Protocol."
BROADCASTS_ENDED = "SNTP-Server: Der Broadcastdienst wurde beendet."                  # 0x41000027
OFFSET = re.compile(r"^SNTP-Client: Zeitabweichung zu (\S+) beträgt (-?\d+)\.(\d{3}) Sekunden$", re.M)
DELAY = re.compile(r"^SNTP-Client: Zeitverzögerung durch Netzwerk: (-?\d+)\.(\d{3}) Sekunden$", re.M)
REFUSED = re.compile(  # 0x4100002d
    r"^SNTP-Client: Die Abbweichung der Systemzeit zum NTP Zeitserver beträgt (-?\d+)\.(\d{3}) "
    r"Sekunde\(n\), erlaubt ist/sind aber nur (\d+) Sekunde\(n\), Systemzeit wird nicht korregiert\.$",
    re.M)
MODE_TEXTS = ["0 (reserved)", "1 (symmetric active)", "2 (symmetric passive)", "3 (client)",
              "4 (server)", "5 (broadcast)", "6 (control msg)", "7 (private use)"]


def received(mode, length, sender):
    return "SNTP-Network: NTP Nachricht %d mit %d Bytes von %s erhalten." % (mode, length, sender)


def unknown_format(mode, length, sender):
    return "SNTP-Network: NTP Nachricht (%d/%d) von %s ignoriert, Format unbekannt." % (mode, length, sender)


def dropped(mode, sender):
    return "SNTP-Network: NTP Nachricht: %s von %s wird ignoriert." % (MODE_TEXTS[mode], sender)


def winsock_error(prefix, function, code):                                            # 0xc100000f
    return "%s: Winsock Funktion %s meldet Fehler: %d" % (prefix, function, code)


def request_received(sender):
    return "SNTP-Server: NTP Anforderung von %s empfangen." % sender


def reply_sent(sender):
    return "SNTP-Server: NTP Antwort an %s verschickt." % sender


def broadcast_sent(name, address):
    return "SNTP-Server: NTP Broadcast auf Netzwerkadapter %s (%s) verschickt." % (name, address)


def unresolved(name):                                                                 # 0xc100002a
    return re.compile(r"^SNTP-Client: Beim Versuch die IP-Adresse des \(S\)NTP Server \(%s\) zu "
                      r"erfragen trat folgender Fehler auf: \S.*\.$" % re.escape(name))


def shown_seconds(seconds, milliseconds):
    """The value of a "%d.%03d" display (as texts) whose sign is carried by the seconds."""
    negative = seconds.startswith("-")                    # also "-0": between -1 s and 0
    return int(seconds) + (-1 if negative else 1) * int(milliseconds) / 1000.0


def offsets(output):
    """[(sender, seconds)] of every offset line of a client trace."""
    return [(m.group(1), shown_seconds(m.group(2), m.group(3))) for m in OFFSET.finditer(output)]


def samples(output):
    """[(sender, offset, delay)] of every synchronisation in a client trace: each offset line is
    followed by its delay line."""
    pairs = re.finditer(OFFSET.pattern + r"\n" + DELAY.pattern[1:], output, re.M)
    return [(m.group(1), shown_seconds(m.group(2), m.group(3)), shown_seconds(m.group(4), m.group(5)))
            for m in pairs]


def after_running(output):
    """The trace lines after the service reported that it runs."""
    index = output.find(RUNNING + "\n")
    return output[index + len(RUNNING) + 1:].splitlines() if index >= 0 else []


def status_record(host, predicate=lambda record: True, timeout=15):
    """The host's status record once `predicate` holds for it, or the last one read (None when
    none could be read). The service rewrites it at least every 10 s."""
    deadline = time.monotonic() + timeout
    found = None
    while True:
        try:
            with open(host.env()["CHRON_STATUS"]) as handle:
                found = json.load(handle)
            if predicate(found):
                return found
        except (OSError, ValueError):
            pass
        if time.monotonic() > deadline:
            return found
        time.sleep(0.2)


def start_debug(host, settings, extra=None):
    """Writes the host's hive and starts chronsvc -debug; returns once the receive loop runs."""
    host.write_hive(harness.product(settings, extra))
    process = host.spawn([harness.program("chronsvc"), "-debug"])
    process.wait_output(RUNNING + "\n", 10)
    return process


def wait_lines(process, pattern, count, timeout):
    """Waits until `pattern` (a compiled expression) matches `count` times in the output."""
    deadline = time.monotonic() + timeout
    while True:
        found = pattern.findall(process.output())
        if len(found) >= count or time.monotonic() > deadline or not process.alive():
            return found
        time.sleep(0.02)


class LineClock:
    """Stamps each line a process writes with the (monotonic) time it was first seen."""

    def __init__(self, process, period=0.01):
        self.process = process
        self.lines = []            # [(monotonic time, text)]
        self._seen = 0
        self._stop = False
        self._period = period
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop:
            self._collect()
            time.sleep(self._period)

    def _collect(self):
        out = self.process.output()
        complete = out[:out.rfind("\n") + 1]
        if len(complete) > self._seen:
            now = time.monotonic()
            for line in complete[self._seen:].splitlines():
                self.lines.append((now, line))
            self._seen = len(complete)

    def close(self):
        self._stop = True
        self._thread.join(1)
        self._collect()

    def times(self, predicate):
        return [when for when, line in self.lines if predicate(line)]
