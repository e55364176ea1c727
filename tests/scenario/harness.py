"""Test hosts for the scenario and interop tests: the real programs as processes.

A test host is a Linux network namespace of its own (loopback up), with its own hive file,
its own simulated clock file and its own syslog capture. Hosts meet on test LANs: a bridge
in a "switch" namespace of the lab, one veth pair per adapter. A lab belongs to one test
and is removed in its cleanup (and at interpreter exit) even when the test fails; namespaces
left behind by dead test processes are removed when the next lab starts.

Typical use:

    class MyTest(harness.ScenarioTestCase):
        def test_x(self):
            lan = self.lab.lan()
            server = self.lab.host("server", lans=[lan])
            server.write_hive(harness.product({"Server\\Active": 1}))
            svc = server.start_service("chronsvc")        # under the test's service manager
            svc.manager.wait_for("READY=1")
            server.syslog.wait_for("ist betriebsbereit")

Python 3 standard library only.
"""

import atexit
import errno
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import simclock  # noqa: E402  the clock file's format, shared with the script

PREFIX = "chrt"
ETC_NETNS = "/etc/netns"
_counter = [0]
_counter_lock = threading.Lock()


def _next_number():
    with _counter_lock:
        _counter[0] += 1
        return _counter[0]


def _unique(kind):
    """A namespace name unique on this machine: chrt<pid><kind><n>."""
    return "%s%d%s%d" % (PREFIX, os.getpid(), kind, _next_number())


# ---------------------------------------------------------------------------------------------
# Environment checks

def environment_problem():
    """Why scenario tests cannot run here, or None."""
    if os.geteuid() != 0:
        return "scenario tests need root (network namespaces, mounts); running as uid %d" % os.geteuid()
    for tool in ("ip", "unshare", "stdbuf"):
        if shutil.which(tool) is None:
            return "scenario tests need the program '%s' (iproute2 / util-linux / coreutils)" % tool
    probe = _unique("p")
    result = subprocess.run(["ip", "netns", "add", probe], capture_output=True, text=True)
    if result.returncode != 0:
        return "cannot create a network namespace (ip netns add): " + result.stderr.strip()
    subprocess.run(["ip", "netns", "del", probe], capture_output=True)
    return None


def parse_bench_options(parser, name):
    """Adds the build directory argument, parses the command line of a benchmark, points
    CHRON_BIN_DIR at the build and ends the program when test hosts cannot be made here."""
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    parser.add_argument("build", nargs="?", default=os.environ.get("CHRON_BIN_DIR", os.path.join(top, "build")))
    options = parser.parse_args()
    os.environ["CHRON_BIN_DIR"] = os.path.abspath(options.build)
    problem = environment_problem()
    if problem:
        sys.exit(name + ": " + problem)
    return options


_problem_cache = []


def require_environment(testcase=None):
    """Fails (or, with CHRON_ALLOW_SKIP=1, skips visibly) when root or namespaces are missing."""
    if not _problem_cache:
        _problem_cache.append(environment_problem())
    problem = _problem_cache[0]
    if problem is None:
        return
    if os.environ.get("CHRON_ALLOW_SKIP") == "1":
        raise unittest.SkipTest("SKIPPED (CHRON_ALLOW_SKIP=1): " + problem)
    message = "cannot run: " + problem + " (set CHRON_ALLOW_SKIP=1 to skip instead)"
    if testcase is not None:
        testcase.fail(message)
    raise AssertionError(message)


def program(name):
    """Path of a built program below CHRON_BIN_DIR (the build directory)."""
    root = os.environ.get("CHRON_BIN_DIR")
    if not root:
        raise AssertionError("CHRON_BIN_DIR is not set: it must name the build directory")
    for candidate in (os.path.join(root, name), os.path.join(root, "service", name),
                      os.path.join(root, "win95", name), os.path.join(root, "tools", name),
                      os.path.join(root, "bin", name)):
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    for directory, subdirs, files in os.walk(root):
        subdirs[:] = [d for d in subdirs if d != "CMakeFiles" and not d.startswith(".")]
        if name in files and os.access(os.path.join(directory, name), os.X_OK):
            return os.path.join(directory, name)
    raise AssertionError("program %s not found below CHRON_BIN_DIR=%s (not built?)" % (name, root))


def _ip(*args, check=True):
    result = subprocess.run(["ip"] + list(args), capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError("ip %s: %s" % (" ".join(args), result.stderr.strip()))
    return result


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
    except OSError as error:
        return error.errno == errno.EPERM
    return True


def remove_stale_namespaces():
    """Deletes chrt<pid>... namespaces whose creating process no longer exists."""
    result = _ip("netns", "list", check=False)
    for line in result.stdout.splitlines():
        name = line.split()[0] if line.split() else ""
        match = re.match(r"^%s(\d+)[a-z]\d+$" % PREFIX, name)
        if match and int(match.group(1)) != os.getpid() and not _pid_alive(int(match.group(1))):
            _ip("netns", "del", name, check=False)
    if os.path.isdir(ETC_NETNS):
        for name in os.listdir(ETC_NETNS):
            match = re.match(r"^%s(\d+)[a-z]\d+$" % PREFIX, name)
            if match and int(match.group(1)) != os.getpid() and not _pid_alive(int(match.group(1))):
                shutil.rmtree(os.path.join(ETC_NETNS, name), ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# Hive files

PRODUCT_KEY = "SOFTWARE\\Orbek\\SNTP\\1.01"
TCPIP_LINKAGE_KEY = "SYSTEM\\CurrentControlSet\\Services\\TCPIP\\Linkage"


class Raw:
    """A value stored with an explicit registry type and exact bytes (e.g. a damaged multi-string)."""

    def __init__(self, reg_type, data):
        self.reg_type = reg_type
        self.data = bytes(data)


def multi_sz(texts):
    """REG_MULTI_SZ bytes: each text in UTF-8 with its zero, then one more zero."""
    return b"".join(t.encode("utf-8") + b"\0" for t in texts) + b"\0"


def _quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _hex(reg_type, data):
    prefix = "hex:" if reg_type == 3 else "hex(%x):" % reg_type
    return prefix + ",".join("%02x" % b for b in data)


def hive_text(keys):
    """REGEDIT4 text for {key path below HKEY_LOCAL_MACHINE: {value name: value}}.

    int -> dword, str -> REG_SZ, list of str -> REG_MULTI_SZ (hex(7)), bytes -> REG_BINARY,
    Raw -> hex(type) with the exact bytes."""
    lines = ["REGEDIT4", ""]
    for key, values in keys.items():
        lines.append("[HKEY_LOCAL_MACHINE\\%s]" % key.strip("\\"))
        for name, value in values.items():
            if isinstance(value, bool) or isinstance(value, int):
                data = "dword:%08x" % (int(value) & 0xFFFFFFFF)
            elif isinstance(value, str):
                data = _quote(value)
            elif isinstance(value, (list, tuple)):
                data = _hex(7, multi_sz(value))
            elif isinstance(value, (bytes, bytearray)):
                data = _hex(3, value)
            elif isinstance(value, Raw):
                data = _hex(value.reg_type, value.data)
            else:
                raise TypeError("unsupported hive value %r" % (value,))
            lines.append("%s=%s" % (_quote(name), data))
        lines.append("")
    return "\n".join(lines) + "\n"


def write_hive(path, keys):
    """Writes the hive file (see hive_text) atomically."""
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as handle:
        handle.write(hive_text(keys))
    os.replace(temporary, path)


def product(settings, extra=None):
    """Hive keys from product settings named by value path, e.g. {"Client\\Active": 0,
    "IPQueryType": "SNMP"}; `extra` adds further keys ({key: {name: value}})."""
    keys = {}
    for path, value in settings.items():
        subkey, _, name = path.rpartition("\\")
        key = PRODUCT_KEY + ("\\" + subkey if subkey else "")
        keys.setdefault(key, {})[name] = value
    for key, values in (extra or {}).items():
        keys.setdefault(key, {}).update(values)
    return keys


def nt_bindings(adapters, bind=None):
    """Windows NT TCP/IP binding keys: {service name: [addresses]} pinned in the hive.

    `bind` is the Bind multi-string (default: "\\Device\\<name>" per adapter) or a Raw value."""
    keys = {TCPIP_LINKAGE_KEY: {"Bind": bind if bind is not None else
                                ["\\Device\\" + name for name in adapters]}}
    for name, addresses in adapters.items():
        keys["SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters\\TCPIP" % name] = {
            "IpAddress": list(addresses)}
    return keys


# ---------------------------------------------------------------------------------------------
# Service manager (the test's side of the systemd notification protocol)

class Notification:
    def __init__(self, when, text):
        self.time = when           # arrival, seconds since 1970 (kernel stamp, as time.time())
        self.text = text
        self.fields = {}
        for line in text.split("\n"):
            if "=" in line:
                key, _, value = line.partition("=")
                self.fields[key] = value

    def __repr__(self):
        return "Notification(%.3f, %r)" % (self.time, self.text)


_SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)


class _DatagramReader:
    """Binds a datagram socket at `path` and collects what arrives on a thread."""

    def __init__(self, path, parse):
        self.path = path
        self._parse = parse
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self._socket.bind(path)
        os.chmod(path, 0o666)
        # Kernel arrival stamps (CLOCK_REALTIME): entries of several sockets can be ordered
        # exactly, whatever the reader threads' scheduling.
        self._socket.setsockopt(socket.SOL_SOCKET, _SO_TIMESTAMPNS, 1)
        self._socket.settimeout(0.05)
        self._items = []
        self._condition = threading.Condition()
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop:
            try:
                data, ancillary, _, _ = self._socket.recvmsg(65536, socket.CMSG_SPACE(16))
            except socket.timeout:
                continue
            except OSError:
                return
            when = time.time()
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == _SO_TIMESTAMPNS and len(value) >= 16:
                    seconds, nanoseconds = struct.unpack("qq", value[:16])
                    when = seconds + nanoseconds / 1e9
            item = self._parse(when, data)
            with self._condition:
                self._items.append(item)
                self._condition.notify_all()

    def items(self):
        with self._condition:
            return list(self._items)

    def wait_until(self, predicate, timeout, start=0):
        """First item from index `start` on that satisfies predicate, or None after timeout."""
        deadline = time.monotonic() + timeout
        with self._condition:
            while True:
                for item in self._items[start:]:
                    if predicate(item):
                        return item
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self._condition.wait(remaining)

    def close(self):
        self._stop = True
        self._thread.join(1)
        self._socket.close()
        try:
            os.unlink(self.path)
        except OSError:
            pass


class ServiceManager(_DatagramReader):
    """The notification socket a service reports its state to (NOTIFY_SOCKET=path)."""

    def __init__(self, path):
        super().__init__(path, lambda when, data: Notification(when, data.decode("utf-8", "replace")))

    def notifications(self):
        return self.items()

    def assignments(self):
        """Every KEY=VALUE line received, in order."""
        return [line for n in self.items() for line in n.text.split("\n") if line]

    def wait_for(self, assignment, timeout=5.0):
        """The first notification holding the line `assignment` (e.g. "READY=1"), or fail."""
        found = self.wait_until(lambda n: assignment in n.text.split("\n"), timeout)
        if found is None:
            raise AssertionError("service manager: no %r within %.1f s; received %r"
                                 % (assignment, timeout, self.assignments()))
        return found

    def wait_for_key(self, key, timeout=5.0):
        found = self.wait_until(lambda n: key in n.fields, timeout)
        if found is None:
            raise AssertionError("service manager: no %s= within %.1f s; received %r"
                                 % (key, timeout, self.assignments()))
        return found


# ---------------------------------------------------------------------------------------------
# Syslog capture

SEVERITY = {0: "emerg", 1: "alert", 2: "crit", 3: "err", 4: "warning", 5: "notice", 6: "info",
            7: "debug"}
LOG_DAEMON = 3
LOG_ERR, LOG_WARNING, LOG_INFO = 3, 4, 6

_SYSLOG_LINE = re.compile(
    r"^<(\d{1,3})>(?:[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d )?([^\s\[:]+)(?:\[(\d+)\])?: ?(.*)$", re.S)


class LogEntry:
    def __init__(self, when, data):
        self.time = when           # arrival, seconds since 1970 (kernel stamp)
        self.raw = data.decode("utf-8", "replace")
        match = _SYSLOG_LINE.match(self.raw)
        if match:
            priority = int(match.group(1))
            self.facility, self.severity = priority >> 3, priority & 7
            self.identifier = match.group(2)
            self.pid = int(match.group(3)) if match.group(3) else None
            self.text = match.group(4).rstrip("\n")
        else:
            self.facility = self.severity = self.pid = None
            self.identifier = None
            self.text = self.raw
        ids = re.findall(r"0x([0-9a-fA-F]{8})", self.text)
        self.event_ids = [int(i, 16) for i in ids]
        # Our event sink writes "[0x<id logged under>] <text>".
        tagged = re.match(r"^\[0x([0-9a-fA-F]{8})\] (.*)$", self.text, re.S)
        self.event_id = int(tagged.group(1), 16) if tagged else None
        self.message = tagged.group(2) if tagged else self.text

    def __repr__(self):
        return "<%s.%s %s[%s]: %s>" % (self.facility, SEVERITY.get(self.severity),
                                        self.identifier, self.pid, self.text)


class SyslogCapture(_DatagramReader):
    """What programs started with this capture send to /dev/log (RFC 3164 lines)."""

    def __init__(self, path):
        super().__init__(path, LogEntry)

    def entries(self, pid=None):
        return [e for e in self.items() if pid is None or e.pid == pid]

    def texts(self, pid=None):
        return [e.text for e in self.entries(pid)]

    def messages(self, pid=None):
        """Texts without the "[0x...] " event identifier."""
        return [e.message for e in self.entries(pid)]

    def find(self, text, pid=None):
        """Entries whose text contains `text`."""
        return [e for e in self.entries(pid) if text in e.text]

    def wait_for(self, text, timeout=5.0, pid=None):
        found = self.wait_until(lambda e: text in e.text and (pid is None or e.pid == pid), timeout)
        if found is None:
            raise AssertionError("syslog: no entry containing %r within %.1f s; received %r"
                                 % (text, timeout, self.entries()))
        return found

    def index_of(self, text, pid=None):
        for i, entry in enumerate(self.entries(pid)):
            if text in entry.text:
                return i
        return -1


# ---------------------------------------------------------------------------------------------
# Processes

class Process:
    """A program started on a test host; stdout and stderr go to files."""

    def __init__(self, host, args, popen, stdout_path, stderr_path, manager=None):
        self.host = host
        self.args = args
        self.popen = popen
        self.pid = popen.pid
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path
        self.manager = manager   # ServiceManager when started under one

    def output(self):
        with open(self.stdout_path, "rb") as handle:
            return handle.read().decode("utf-8", "replace")

    def errors(self):
        with open(self.stderr_path, "rb") as handle:
            return handle.read().decode("utf-8", "replace")

    def alive(self):
        return self.popen.poll() is None

    @property
    def returncode(self):
        return self.popen.poll()

    def signal(self, number):
        if self.alive():
            os.kill(self.pid, number)

    def wait(self, timeout=5.0):
        """Exit status (negative: killed by that signal); fails when still running after timeout."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s still running after %.1f s\n%s"
                                 % (os.path.basename(self.args[0]), timeout, self.describe()))

    def wait_output(self, text, timeout=5.0):
        """Waits until stdout contains `text` (a str or a compiled regular expression)."""
        deadline = time.monotonic() + timeout
        while True:
            out = self.output()
            if (text.search(out) if hasattr(text, "search") else text in out):
                return out
            if time.monotonic() > deadline:
                raise AssertionError("no %r in the output within %.1f s\n%s"
                                     % (getattr(text, "pattern", text), timeout, self.describe()))
            if not self.alive():
                out = self.output()
                if (text.search(out) if hasattr(text, "search") else text in out):
                    return out
                raise AssertionError("process ended (%s) without %r in its output\n%s"
                                     % (self.returncode, getattr(text, "pattern", text),
                                        self.describe()))
            time.sleep(0.02)

    def kill(self):
        if self.alive():
            try:
                os.kill(self.pid, signal.SIGKILL)
            except OSError:
                pass
        try:
            self.popen.wait(2)
        except subprocess.TimeoutExpired:
            pass

    def describe(self):
        text = "--- %s on %s (pid %d, status %s)\n--- stdout:\n%s\n--- stderr:\n%s" % (
            " ".join(self.args), self.host.name, self.pid, self.returncode, self.output(),
            self.errors())
        if self.manager is not None:
            text += "\n--- notifications: %r" % self.manager.assignments()
        return text


# Run inside a private mount namespace: /dev becomes an overlay whose "log" is a symlink to the
# host's capture socket (the machine's /dev stays untouched); /dev/shm and /dev/pts are moved
# back on top so that named objects stay shared between the processes of all hosts.
_DEV_OVERLAY = r'''set -e
d="$CHRT_DIR"
mkdir -p "$d/up" "$d/work" "$d/keep/shm" "$d/keep/pts"
mount --rbind /dev/shm "$d/keep/shm"
mount --rbind /dev/pts "$d/keep/pts"
mount -t overlay overlay -o "lowerdir=/dev,upperdir=$d/up,workdir=$d/work" /dev
mount --move "$d/keep/shm" /dev/shm
mount --move "$d/keep/pts" /dev/pts
rm -f /dev/log
ln -s "$CHRT_LOG" /dev/log
unset CHRT_DIR CHRT_LOG
exec "$@"
'''


# ---------------------------------------------------------------------------------------------
# LANs and hosts

class Lan:
    """A test LAN: a bridge in the lab's switch namespace, subnet 10.213.<net>.0/24."""

    def __init__(self, lab, net):
        self.lab = lab
        self.net = net
        self.bridge = "br%d" % net
        self.prefix = "10.213.%d." % net
        self.broadcast = self.prefix + "255"
        self._next_host = 1
        _ip("-n", lab.switch, "link", "add", self.bridge, "type", "bridge")
        _ip("-n", lab.switch, "link", "set", self.bridge, "up")

    def next_address(self):
        address = "%s%d" % (self.prefix, self._next_host)
        self._next_host += 1
        return address


class Adapter:
    def __init__(self, host, ifname, lan):
        self.host = host
        self.ifname = ifname
        self.lan = lan
        self.addresses = []
        self.addresses6 = []

    @property
    def address(self):
        return self.addresses[0]


class Host:
    """A test host: its own network namespace, hive, simulated clock and syslog capture."""

    def __init__(self, lab, name, lans=(), clock_offset=None):
        self.lab = lab
        self.name = name
        self.number = len(lab.hosts) + 1
        self.ns = _unique("h")
        self.dir = os.path.join(lab.dir, name)
        os.makedirs(self.dir)
        self.hive = os.path.join(self.dir, "registry.reg")
        self.clock_file = os.path.join(self.dir, "clock.offset")
        self.adapters = []
        self.processes = []
        _ip("netns", "add", self.ns)
        lab.namespaces.append(self.ns)
        _ip("-n", self.ns, "link", "set", "lo", "up")
        self.syslog = SyslogCapture(os.path.join(self.dir, "log.sock"))
        lab.readers.append(self.syslog)
        write_hive(self.hive, {})
        if clock_offset is not None:
            self.set_clock_offset(clock_offset)
        for lan in lans:
            self.connect(lan)

    # Network -----------------------------------------------------------------------------

    def connect(self, lan, addresses=1):
        """New adapter eth<i> on `lan` with `addresses` addresses (a count or a list)."""
        index = len(self.adapters)
        adapter = Adapter(self, "eth%d" % index, lan)
        peer = "h%de%d" % (self.number, index)
        _ip("link", "add", adapter.ifname, "netns", self.ns, "type", "veth",
            "peer", "name", peer, "netns", self.lab.switch)
        _ip("-n", self.lab.switch, "link", "set", peer, "master", lan.bridge, "up")
        _ip("-n", self.ns, "link", "set", adapter.ifname, "up")
        self.adapters.append(adapter)
        if isinstance(addresses, int):
            addresses = [lan.next_address() for _ in range(addresses)]
        for address in addresses:
            self.add_address(adapter, address)
        return adapter

    def add_address(self, adapter, address, broadcast=True):
        """`broadcast` False: the address has no broadcast address (plain `ip addr add`)."""
        with_broadcast = ["broadcast", adapter.lan.broadcast] if broadcast else []
        _ip("-n", self.ns, "addr", "add", address + "/24", *with_broadcast, "dev", adapter.ifname)
        adapter.addresses.append(address)

    def add_address6(self, adapter, address):
        """An IPv6 address (/64; unique-local fd00::/8 or link-local fe80::) usable at once:
        `nodad` skips duplicate address detection, which would hold it back for a second or two."""
        _ip("-n", self.ns, "-6", "addr", "add", address + "/64", "dev", adapter.ifname, "nodad")
        adapter.addresses6.append(address)

    def addresses(self):
        return [a for adapter in self.adapters for a in adapter.addresses]

    @property
    def address(self):
        return self.adapters[0].addresses[0]

    def etc_file(self, name, text):
        """A file that programs on this host see as /etc/<name> (e.g. "hosts", "resolv.conf"):
        `ip netns exec` mounts /etc/netns/<namespace>/<name> over it. Removed with the host."""
        directory = os.path.join(ETC_NETNS, self.ns)
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, name), "w") as handle:
            handle.write(text)

    def set_names(self, names, nameserver=None, timeout=1):
        """Host names this host resolves ({name: address}) and, optionally, the name server it
        asks for every other name (an address that never answers makes look-ups slow)."""
        lines = ["127.0.0.1 localhost"] + ["%s %s" % (a, n) for n, a in names.items()]
        self.etc_file("hosts", "\n".join(lines) + "\n")
        self.etc_file("resolv.conf", "nameserver %s\noptions timeout:%d attempts:1\n"
                      % (nameserver or "127.0.0.1", timeout))

    # Hive and clock ----------------------------------------------------------------------

    def write_hive(self, keys):
        write_hive(self.hive, keys)

    def set_clock_offset(self, seconds):
        """Simulated clock = real clock + `seconds` (may be fractional or negative)."""
        with open(self.clock_file + ".tmp", "w") as handle:
            handle.write("%d\n" % round(seconds * 1e9))
        os.replace(self.clock_file + ".tmp", self.clock_file)

    def clock_offset(self, at_ns=None):
        """Offset of the simulated clock in seconds (0 while the file does not exist) at the real
        instant `at_ns` (ns since 1970; default now); a drifting clock's offset changes with it."""
        try:
            with open(self.clock_file) as handle:
                text = handle.read()
        except FileNotFoundError:
            return 0.0
        state = simclock.parse(text)
        now = time.time_ns() if at_ns is None else at_ns
        return (simclock.time_at(state, now) - now) / 1e9

    def set_clock_frequency(self, ppm):
        """The simulated clock's oscillator error from now on (scripts/simclock.py set-frequency)."""
        simclock.set_frequency(self.clock_file, ppm)

    def env(self, extra=None):
        env = dict(os.environ)
        env.pop("NOTIFY_SOCKET", None)
        env["CHRON_HIVE"] = self.hive
        env["CHRON_SIMULATED_CLOCK"] = self.clock_file
        env["CHRON_STATUS"] = os.path.join(self.dir, "status.json")  # never the machine's /run/chron
        # The NTS server's cookie keys: never the machine's /var/lib/chron.
        env["CHRON_NTS_SERVER_KEYS"] = os.path.join(self.dir, "nts-server-keys")
        env["LC_ALL"] = "C.UTF-8"
        env["CHRON_MIN_INTERVAL"] = "1"  # the tests poll and broadcast every second or two
        env.update(extra or {})
        return env

    # Processes ---------------------------------------------------------------------------

    def command(self, args, syslog=True, line_buffered=True):
        """The command line that runs `args` on this host."""
        inner = ["ip", "netns", "exec", self.ns]
        if line_buffered:
            inner += ["stdbuf", "-oL", "-eL"]
        inner += list(args)
        if not syslog:
            return inner
        return ["unshare", "-m", "--propagation", "private", "sh", "-c", _DEV_OVERLAY, "sh"] + inner

    def spawn(self, args, env=None, syslog=True, manager=None, stdin=None, line_buffered=True):
        """Starts `args` on this host. `manager` (a ServiceManager) sets NOTIFY_SOCKET."""
        number = _next_number()
        base = os.path.join(self.dir, "%s.%d" % (os.path.basename(args[0]), number))
        environment = self.env(env)
        if manager is not None:
            environment["NOTIFY_SOCKET"] = manager.path
        if syslog:
            environment["CHRT_DIR"] = base + ".dev"
            environment["CHRT_LOG"] = self.syslog.path
        stdout = open(base + ".out", "wb")
        stderr = open(base + ".err", "wb")
        try:
            popen = subprocess.Popen(self.command(args, syslog, line_buffered), env=environment,
                                     stdout=stdout, stderr=stderr,
                                     stdin=stdin if stdin is not None else subprocess.DEVNULL)
        finally:
            stdout.close()
            stderr.close()
        process = Process(self, list(args), popen, base + ".out", base + ".err", manager)
        self.processes.append(process)
        self.lab.processes.append(process)
        return process

    def run(self, args, env=None, timeout=10.0, syslog=True):
        """Runs `args` to its end; returns the Process (returncode, output())."""
        process = self.spawn(args, env=env, syslog=syslog)
        process.wait(timeout)
        return process

    def start_service(self, name="chronsvc", args=(), env=None):
        """Starts a program as a service under a fresh ServiceManager (process.manager)."""
        manager = self.lab.service_manager()
        return self.spawn([program(name)] + list(args), env=env, manager=manager)

    def describe(self):
        lines = ["=== host %s (netns %s, addresses %s)" % (self.name, self.ns, self.addresses())]
        for process in self.processes:
            lines.append(process.describe())
        lines.append("--- syslog: %r" % self.syslog.entries())
        return "\n".join(lines)


class Lab:
    """All hosts and LANs of one test; cleanup() removes them."""

    def __init__(self, directory=None):
        remove_stale_namespaces()
        self.own_dir = directory is None
        self.dir = directory or tempfile.mkdtemp(prefix="chrt-")
        self.hosts = []
        self.lans = []
        self.processes = []
        self.readers = []
        self.namespaces = []
        self._switch = None
        self._closed = False
        atexit.register(self.cleanup)

    @property
    def switch(self):
        if self._switch is None:
            self._switch = _unique("s")
            _ip("netns", "add", self._switch)
            self.namespaces.append(self._switch)
        return self._switch

    def lan(self):
        lan = Lan(self, len(self.lans) + 1)
        self.lans.append(lan)
        return lan

    def host(self, name=None, lans=(), clock_offset=None):
        host = Host(self, name or "host%d" % (len(self.hosts) + 1), lans, clock_offset)
        self.hosts.append(host)
        return host

    def service_manager(self):
        path = os.path.join(self.dir, "notify.%d.sock" % _next_number())
        manager = ServiceManager(path)
        self.readers.append(manager)
        return manager

    def describe(self):
        return "\n".join(host.describe() for host in self.hosts)

    def cleanup(self, keep_files=False):
        if self._closed:
            return
        self._closed = True
        for process in self.processes:
            process.kill()
        for reader in self.readers:
            reader.close()
        for namespace in reversed(self.namespaces):
            _ip("netns", "del", namespace, check=False)
            shutil.rmtree(os.path.join(ETC_NETNS, namespace), ignore_errors=True)
        if self.own_dir and not keep_files:
            shutil.rmtree(self.dir, ignore_errors=True)


class ScenarioTestCase(unittest.TestCase):
    """A test with its own lab (self.lab); prints every host's outputs when it fails."""

    def setUp(self):
        require_environment(self)
        self.lab = Lab()
        self.addCleanup(self._close_lab)

    def _close_lab(self):
        outcome = getattr(self, "_outcome", None)
        failed = outcome is not None and not getattr(outcome, "success", True)
        if failed or os.environ.get("CHRON_SCENARIO_VERBOSE") == "1":
            sys.stderr.write("\n" + self.lab.describe() + "\n")
        self.lab.cleanup(keep_files=os.environ.get("CHRON_KEEP_FILES") == "1")


# ---------------------------------------------------------------------------------------------
# Demonstration entry point (scripts/demo-two-hosts.sh)

def _demo(argv):
    """Two hosts on one LAN: a server whose clock is ahead, a client polling it."""
    import argparse
    parser = argparse.ArgumentParser(prog="harness.py demo")
    parser.add_argument("--ahead", type=float, default=30.0, help="server clock ahead, seconds")
    parser.add_argument("--seconds", type=float, default=10.0, help="how long to watch")
    parser.add_argument("--poll", type=int, default=5, help="client poll interval, seconds")
    options = parser.parse_args(argv)
    problem = environment_problem()
    if problem:
        sys.exit("demo: " + problem)
    chronsvc = program("chronsvc")
    lab = Lab()
    try:
        lan = lab.lan()
        server = lab.host("server", lans=[lan], clock_offset=options.ahead)
        client = lab.host("client", lans=[lan], clock_offset=0)
        server.write_hive(product({"Server\\Active": 1, "Server\\Broadcast": 0,
                                   "Client\\Active": 0}))
        client.write_hive(product({"Client\\Active": 1, "Client\\Broadcast": 0,
                                   "Client\\TimeSource": server.address,
                                   "Client\\PollInterval": options.poll}))
        print("server %s: simulated clock %+.3f s ahead; client %s polls it every %d s"
              % (server.address, options.ahead, client.address, options.poll))
        first = server.spawn([chronsvc, "-debug"])
        first.wait_output("vollständig initialisiert und betriebsbereit.", 5)  # listening
        processes = [(server, first), (client, client.spawn([chronsvc, "-debug"]))]
        shown = {id(p): 0 for _, p in processes}
        deadline = time.monotonic() + options.seconds
        while time.monotonic() < deadline and all(p.alive() for _, p in processes):
            for host, process in processes:
                text = process.output()
                for line in text[shown[id(process)]:].splitlines(keepends=True):
                    if line.endswith("\n"):
                        sys.stdout.write("[%-6s] %s" % (host.name, line))
                        shown[id(process)] += len(line)
            sys.stdout.flush()
            time.sleep(0.1)
        for _, process in processes:
            process.signal(signal.SIGINT)
        for host, process in processes:
            try:
                process.wait(3)
            except AssertionError:
                process.kill()
            rest = process.output()[shown[id(process)]:]
            for line in rest.splitlines():
                print("[%-6s] %s" % (host.name, line))
        print("server clock offset %+.6f s, client clock offset now %+.6f s"
              % (server.clock_offset(), client.clock_offset()))
    finally:
        lab.cleanup()


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "demo":
        _demo(sys.argv[2:])
    else:
        sys.exit("usage: harness.py demo [--ahead S] [--seconds S] [--poll S]")
