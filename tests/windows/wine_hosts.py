"""Test hosts that run the Windows programs under 64-bit Wine.

Each test host of tests/scenario/harness.py (a network namespace with its LANs and simulated
clock file) gets a Wine prefix of its own, copied from one prefix prepared once per run. The
prefix's wineserver enumerates the interfaces and creates the sockets, so the prefix's first
process is started inside the host's namespace: a keeper process that stays alive for the whole
test (services.exe, and with it the service control manager, ends with the last user process of
a prefix). Python 3 standard library only.

What Wine shows of the Windows facilities (Wine 8):
- services.exe starts services with the system environment of the registry as it was when
  services.exe started, not with the environment of the process that asked for the start; the
  test environment (simulated clock, shortest interval) is therefore written into the copied
  prefix's registry before its wineserver starts.
- ReportEventW stores nothing; its arguments are printed on standard error by the debug channels
  advapi (type and event identifier, as a "fixme") and eventlog (each insertion string). The
  keeper's standard error collects them, as every process of the prefix inherits it.
"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenario"))
import harness  # noqa: E402

harness.PREFIX = "winscen"  # network namespaces of these tests: winscen<pid><kind><n>

WINE = "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
BASE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
EVENT_DEBUG = "-all,fixme+advapi,err+eventlog,warn+eventlog,trace+eventlog"
KEEPER_EVENT = "Chron.Test.Keeper"
# The keeper's life: the time-out of a test file, so that a prefix whose test was killed ends too.
KEEPER_SECONDS = 600
RUNNING, STOPPED, STOP_PENDING = "RUNNING", "STOPPED", "STOP_PENDING"
# Event types (EVENTLOG_INFORMATION_TYPE, _WARNING_TYPE, _ERROR_TYPE) and the generic "%1%0"
# event identifiers logged with them; success-severity entries are logged with SUCCESS_ID.
INFO, WARNING, ERROR = 4, 2, 1
GENERIC_ID = {INFO: 0x41000014, WARNING: 0x81000012, ERROR: 0xc1000011}
SUCCESS_ID = 0x01000013
ENVIRONMENT_KEY = "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment]"


def windows_path(path):
    """A Linux path as a Windows program under Wine names it (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def base_prefix():
    """The prepared prefix of this run (wineboot --init, then wineserver -w, so that no
    services.exe of the preparation is still shutting down when a copy starts)."""
    path = os.environ.get("CHRON_WINE_PREFIX") or os.path.join(os.environ["CHRON_BIN_DIR"], "wine-prefix")
    marker = os.path.join(path, ".chron-prepared")
    if not os.path.exists(marker):
        shutil.rmtree(path, ignore_errors=True)
        env = dict(os.environ, WINEPREFIX=path, **BASE_ENV)
        subprocess.run([WINE, "wineboot", "--init"], env=env, check=True, capture_output=True, timeout=300)
        subprocess.run([WINESERVER, "-w"], env=env, check=True, timeout=300)
        open(marker, "w").close()
    return path


def require_wine(testcase):
    harness.require_environment(testcase)
    if not os.access(WINE, os.X_OK):
        testcase.fail("cannot run: %s is missing (scripts/install-deps.sh windows installs wine64)" % WINE)


def set_system_environment(prefix, variables):
    """Adds `variables` to the system environment in the registry file of a prefix whose
    wineserver is not running."""
    path = os.path.join(prefix, "system.reg")
    with open(path, encoding="utf-8") as handle:
        lines = handle.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith(ENVIRONMENT_KEY))
    body = start + 1
    while lines[body].startswith("#"):
        body += 1
    lines[body:body] = ['"%s"="%s"' % (name, value.replace("\\", "\\\\")) for name, value in variables.items()]
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("\n".join(lines))


class WineHost:
    """A harness host with its own Wine prefix; programs run in its namespace."""

    def __init__(self, host):
        self.host = host
        self.prefix = os.path.join(host.dir, "prefix")
        subprocess.run(["cp", "-a", base_prefix(), self.prefix], check=True)
        test_environment = {"CHRON_SIMULATED_CLOCK": windows_path(host.clock_file), "CHRON_MIN_INTERVAL": "1"}
        set_system_environment(self.prefix, test_environment)
        # CHRON_STATUS empty: the Windows programs keep their status file in the prefix's common
        # application data folder, not at the Linux path the harness gives the host's programs.
        self.env = dict(BASE_ENV, WINEPREFIX=self.prefix, CHRON_STATUS="", **test_environment)
        # The keeper, the prefix's first process, starts its wineserver and system processes
        # (services.exe) in the namespace; they inherit its standard error, where the event log
        # calls show. Nothing else starts before it has said it runs.
        self.keeper = host.spawn([WINE, "cmd", "/c", "echo", "bereit&", windows_path(program("chronstop.exe")),
                                  "--name", KEEPER_EVENT, "--hold-set", str(KEEPER_SECONDS)],
                                 env=dict(self.env, WINEDEBUG=EVENT_DEBUG), syslog=False, line_buffered=False)
        try:
            self.keeper.wait_output("bereit", 120)
        except BaseException:
            self.close()
            raise

    # Processes ---------------------------------------------------------------------------

    def spawn(self, args, env=None):
        return self.host.spawn([WINE] + list(args), env=dict(self.env, **(env or {})), syslog=False,
                               line_buffered=False)

    def run(self, args, env=None, timeout=60.0):
        process = self.spawn(args, env)
        process.wait(timeout)
        return process

    def close(self):
        """Ends every process of the prefix and waits for its wineserver to end: a wineserver is
        found by the device and inode of its prefix, which the next test's prefix may reuse."""
        env = dict(os.environ, **self.env)
        subprocess.run([WINESERVER, "-k"], env=env, capture_output=True, timeout=60)
        subprocess.run([WINESERVER, "-w"], env=env, capture_output=True, timeout=60)
        self.keeper.kill()

    @staticmethod
    def wait_until(predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("%s within %.0f s" % (what() if callable(what) else what, timeout))
            time.sleep(0.1)

    # Registry ----------------------------------------------------------------------------

    def import_registry(self, keys):
        """Writes {key: {name: value}} below HKEY_LOCAL_MACHINE with regedit (REGEDIT4 text)."""
        path = os.path.join(self.host.dir, "import.%d.reg" % time.monotonic_ns())
        with open(path, "w", encoding="ascii") as handle:
            handle.write(harness.hive_text(keys))
        result = self.run(["regedit", "/S", windows_path(path)])
        if result.returncode != 0:
            raise AssertionError("regedit failed\n" + result.describe())

    # Service control ---------------------------------------------------------------------

    def sc(self, *args):
        return self.run(["sc"] + list(args)).output().replace("\r\n", "\n")

    def query(self, name="SNTP"):
        """{"state", "exit", "specific", "checkpoint", "hint"} from `sc query` (empty when the
        service is unknown)."""
        text = self.sc("query", name)
        fields = {"state": r"STATE\s*:\s*\d+\s+(\w+)", "exit": r"WIN32_EXIT_CODE\s*:\s*(\d+)",
                  "specific": r"SERVICE_EXIT_CODE\s*:\s*(\d+)", "checkpoint": r"CHECKPOINT\s*:\s*(0x[0-9a-fA-F]+)",
                  "hint": r"WAIT_HINT\s*:\s*(0x[0-9a-fA-F]+)"}
        status = {}
        for key, pattern in fields.items():
            match = re.search(pattern, text)
            if match:
                status[key] = match.group(1) if key == "state" else int(match.group(1), 0)
        return status

    def install_service(self, name="SNTP"):
        """windows/install-service.cmd: sc create and the event source registration."""
        result = self.run(["cmd", "/c", windows_path(program("install-service.cmd")),
                           windows_path(program("chronsvc.exe")), name])
        if result.returncode != 0 or "FEHLER" in result.output():
            raise AssertionError("install-service.cmd failed\n" + result.describe())
        return result

    def wait_state(self, wanted, timeout=60.0, name="SNTP"):
        seen = []

        def reached():
            seen.append(self.query(name))
            return seen[-1] if seen[-1].get("state") == wanted else None
        return self.wait_until(reached, timeout, lambda: "service %s not %s (last: %r)" % (name, wanted, seen[-1:]))

    def reported_events(self):
        """What the prefix's services gave ReportEventW, in order: (type, event id, text) for
        each insertion string."""
        calls = {}  # thread -> (type, event id) of its last ReportEventW
        events = []
        for line in self.keeper.errors().splitlines():
            call = re.match(r"([0-9a-f]+):fixme:advapi:ReportEventW \(\w+,0x([0-9a-f]+),0x[0-9a-f]+,0x([0-9a-f]+),", line)
            if call:
                calls[call.group(1)] = (int(call.group(2), 16), int(call.group(3), 16))
                continue
            text = re.match(r'([0-9a-f]+):(?:trace|err|warn):eventlog:ReportEventW\s+L"((?:[^"\\]|\\.)*)"', line)
            if text:
                kind, event_id = calls.get(text.group(1), (None, None))
                events.append((kind, event_id, unescape(text.group(2))))
        return events


class WineTestCase(harness.ScenarioTestCase):
    def setUp(self):
        require_wine(self)
        super().setUp()

    def wine_host(self, name, lans=(), settings=None, clock_offset=None, nameserver=None):
        """A Wine host; `nameserver` (address, time-out in seconds) is the only name server its
        programs ask (set before the prefix starts, whose processes keep the files they saw)."""
        host = self.lab.host(name, lans=lans, clock_offset=clock_offset)
        if nameserver is not None:
            host.set_names({}, nameserver=nameserver[0], timeout=nameserver[1])
        host = WineHost(host)
        self.addCleanup(host.close)
        if settings is not None:
            host.import_registry(harness.product(settings))
        return host

    def assertEventsShownAsReported(self, host, events):
        """The Event Viewer's text of each event (its generic "%1%0" entry formatted from the
        registered message file with the one insertion string) is the reported text."""
        path = os.path.join(host.host.dir, "events.txt")
        with open(path, "w", encoding="ascii") as handle:
            for _, event_id, text in events:
                handle.write("%08x %s\n" % (event_id, text.encode("utf-8").hex()))
        shown = host.run([program("service_probe.exe"), "event-texts", windows_path(path)])
        self.assertEqual(shown.returncode, 0, shown.describe())
        texts = [bytes.fromhex(line).decode("utf-8") for line in shown.output().split()]
        self.assertEqual(texts, [text for _, _, text in events])


def unescape(text):
    """A string as Wine's debug output writes it (\\00fc for ü, \\n, \\r, \\t, \\\\)."""
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
    return re.sub(r"\\([0-9a-fA-F]{4}|.)",
                  lambda m: chr(int(m.group(1), 16)) if len(m.group(1)) == 4 else simple.get(m.group(1), m.group(1)),
                  text)


def program(name):
    """A built Windows program (or script) below CHRON_BIN_DIR."""
    root = os.environ["CHRON_BIN_DIR"]
    for directory, subdirs, files in os.walk(root):
        subdirs[:] = [d for d in subdirs if d not in ("CMakeFiles", "prefix", "wine-prefix", "googletest")]
        if name in files:
            return os.path.join(directory, name)
    raise AssertionError("%s not found below CHRON_BIN_DIR=%s (not built?)" % (name, root))
