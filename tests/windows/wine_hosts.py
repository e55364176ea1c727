"""Test hosts that run the Windows programs under 64-bit Wine.

Each test host of tests/scenario/harness.py (a network namespace with its LANs, hive path and
simulated clock file) gets a Wine prefix of its own, copied from one prefix prepared once per
run. The prefix's wineserver enumerates the interfaces and creates the sockets, so the prefix's
first process is started inside the host's namespace: a keeper process that stays alive for
the whole test (services.exe, and with it the service control manager, ends with the last user
process of a prefix). Python 3 standard library only.
"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenario"))
import harness  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
BASE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
KEEPER_EVENT = "Chron.Test.Keeper"


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
        testcase.fail("cannot run: %s is missing (scripts/install-deps.sh installs wine64)" % WINE)


class WineHost:
    """A harness host with its own Wine prefix; programs run in its namespace."""

    def __init__(self, host, keeper_debug="-all,err+eventlog,trace+eventlog"):
        self.host = host
        self.prefix = os.path.join(host.dir, "prefix")
        subprocess.run(["cp", "-a", base_prefix(), self.prefix], check=True)
        self.env = dict(BASE_ENV, WINEPREFIX=self.prefix,
                        CHRON_SIMULATED_CLOCK=windows_path(host.clock_file))
        # The keeper starts the wineserver and services.exe in the namespace; services started
        # later inherit its environment, and their event log calls show on its stderr.
        self.keeper = host.spawn([WINE, program("chronstop.exe"), "--name", KEEPER_EVENT, "--hold-set", "3600"],
                                 env=dict(self.env, WINEDEBUG=keeper_debug), syslog=False, line_buffered=False)
        self.wait_until(lambda: self.run(["cmd", "/c", "echo", "bereit"]).output().strip() == "bereit", 120,
                        "the prefix did not come up")

    # Processes ---------------------------------------------------------------------------

    def spawn(self, args, env=None):
        return self.host.spawn([WINE] + list(args), env=dict(self.env, **(env or {})), syslog=False,
                               line_buffered=False)

    def run(self, args, env=None, timeout=60.0):
        process = self.spawn(args, env)
        process.wait(timeout)
        return process

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=dict(os.environ, **self.env), capture_output=True, timeout=60)
        self.keeper.kill()

    @staticmethod
    def wait_until(predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("%s within %.0f s" % (what, timeout))
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
        """(state name, Win32 exit code, checkpoint) from `sc query`."""
        text = self.sc("query", name)
        state = re.search(r"STATE\s*:\s*\d+\s+(\w+)", text)
        exit_code = re.search(r"WIN32_EXIT_CODE\s*:\s*(\d+)", text)
        checkpoint = re.search(r"CHECKPOINT\s*:\s*(0x[0-9a-fA-F]+|\d+)", text)
        if state is None:
            return (None, None, None)
        return (state.group(1), int(exit_code.group(1)) if exit_code else None,
                int(checkpoint.group(1), 0) if checkpoint else None)

    def install_service(self, name="SNTP"):
        """windows/install-service.cmd: sc create and the event source registration."""
        result = self.run(["cmd", "/c", windows_path(program("install-service.cmd")),
                           windows_path(program("chronsvc.exe")), name])
        if "FEHLER" in result.output():
            raise AssertionError("install-service.cmd failed\n" + result.describe())
        return result

    def wait_state(self, wanted, timeout=60.0, name="SNTP"):
        return self.wait_until(lambda: (lambda q: q if q[0] == wanted else None)(self.query(name)), timeout,
                               "service %s not %s" % (name, wanted))

    def reported_events(self):
        """The insertion strings that the prefix's services gave ReportEventW (Wine's eventlog
        trace on the keeper's standard error), in order."""
        found = re.findall(r'(?:trace|err|warn):eventlog:ReportEventW\s+L"((?:[^"\\]|\\.)*)"', self.keeper.errors())
        return [unescape(text) for text in found]


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
