"""chronsvc's settings at start-up: stored values it does not take as stored, and a hive it
cannot read, are reported to the system log once, and the service runs with what it uses."""

import errno
import os
import subprocess
import tempfile
import unittest

import harness
from harness import LOG_ERR, LOG_INFO, LOG_WARNING
from texts import PREPARE
from test_service_frame import LOGGED_ERROR, LOGGED_INFO, LOGGED_WARNING, ServiceFrameCase

POLL_INVALID = ("SNTP-Client: Der Wert für NTP Pollinterval (%d) aus der Registry ist ungültig, wird auf "
                "%d gesetzt. Es sind nur Werte zwischen 16 und 16384 Sekunden erlaubt.")       # 0x81000024
BROADCAST_INVALID = ("SNTP-Server: Der Wert für NTP Broadcastinterval (%d) aus der Registry ist ungültig, "
                     "wird auf %d gesetzt. Es sind nur Werte zwischen 1 und 86400 Sekunden erlaubt.")  # 0x81000023
BROADCASTING = "SNTP-Server: NTP Broadcasts werden alle %d Sekunden verschickt."             # 0x41000021
SERVER_STARTED = "SNTP-Server: Der SNTP Serverdienst wurde erfolgreich gestartet."           # 0x4100002b

# The service as the unit runs it: an unprivileged user with the right to bind port 123.
AS_NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
             "--inh-caps=+net_bind_service", "--ambient-caps=+net_bind_service"]

PRODUCT_KEY = "SOFTWARE\\Orbek\\SNTP\\1.01"


class PackageDefaultsTest(unittest.TestCase):
    """The Debian package's postinst, run as dpkg runs it, with its program taken from the build
    and the hive of the test (CHRON_HIVE)."""

    def test_postinst_writes_the_absent_defaults_and_keeps_every_present_value(self):
        installed = "/usr/libexec/chron/chron-defaults"
        with open(os.path.join(os.environ["CHRON_BIN_DIR"], "deb-control", "postinst"), encoding="utf-8") as handle:
            script = handle.read()
        self.assertIn(installed, script)
        with tempfile.TemporaryDirectory() as folder:
            hive, postinst = os.path.join(folder, "registry.reg"), os.path.join(folder, "postinst")
            with open(postinst, "w", encoding="utf-8") as handle:
                handle.write(script.replace(installed, harness.program("chron-defaults")))
            present = {PRODUCT_KEY + "\\Client": {"PollInterval": 300}, PRODUCT_KEY + "\\Server": {"TimeSource": "NTP"}}
            harness.write_hive(hive, present)
            environment = dict(os.environ, CHRON_HIVE=hive)
            for arguments in (["configure"], ["configure", "1.0.0"]):  # installation, then an upgrade
                subprocess.run(["sh", postinst] + arguments, env=environment, check=True, timeout=30)
            with open(hive, encoding="utf-8") as handle:
                text = handle.read()
            expected = harness.hive_text({
                PRODUCT_KEY: {"IPQueryType": "SNMP"},
                PRODUCT_KEY + "\\Client": {"Active": 1, "Broadcast": 1, "RunOnce": 0, "MaxDiffSecond": 180,
                                           "MaxDiffSecondActive": 0, "PollInterval": 300, "TimeSource": ""},
                PRODUCT_KEY + "\\Server": {"Active": 0, "Broadcast": 1, "BroadcastInterval": 64, "TimeSource": "NTP"}})
            self.assertEqual(sorted(filter(None, text.splitlines())), sorted(filter(None, expected.splitlines())))


class SettingsAtStartTest(ServiceFrameCase):
    def test_intervals_out_of_range_and_numbers_as_text_are_reported_then_replaced(self):
        host = self.lan_host("hcranges", settings={
            "Server\\Active": 1, "Server\\BroadcastInterval": 0, "Client\\PollInterval": 0,
            "Client\\MaxDiffSecondActive": "1"})
        # Without the harness's CHRON_MIN_INTERVAL: the ranges a real service keeps.
        service = host.start_service("chronsvc", env={"CHRON_MIN_INTERVAL": ""})
        service.manager.wait_for("READY=1", 5)
        pid = service.pid
        warnings = [self.assertLogged(host, text, pid, LOGGED_WARNING, LOG_WARNING) for text in (
            "SNTP-Init: Der Registry-Wert Client\\MaxDiffSecondActive ist als Text (\"1\") statt als "
            "Zahl gespeichert und wird nicht verwendet, es gilt der Standardwert 0.",
            POLL_INVALID % (0, 16), BROADCAST_INVALID % (0, 1))]
        prepare = self.assertLogged(host, PREPARE, pid, LOGGED_INFO, LOG_INFO)
        self.assertLess(max(w.time for w in warnings), prepare.time)
        self.assertLogged(host, BROADCASTING % 1, pid, LOGGED_INFO, LOG_INFO)
        self.stop(service)

    def test_unreadable_hive_is_reported_with_path_and_error_and_defaults_apply(self):
        host = self.lan_host("hcunreadable", settings={"Server\\Active": 1})
        os.chmod(host.hive, 0o600)
        for directory in (self.lab.dir, host.dir):
            os.chmod(directory, 0o755)
        service = host.spawn(AS_NOBODY + [harness.program("chronsvc")], manager=self.lab.service_manager())
        service.manager.wait_for("READY=1", 5)
        self.assertLogged(host, "SNTP-Init: %s: Registrierungsdatei nicht lesbar: %s"
                          % (host.hive, os.strerror(errno.EACCES)), service.pid, LOGGED_ERROR, LOG_ERR)
        self.assertEqual(host.syslog.find(SERVER_STARTED, service.pid), [])  # the default: no server
        self.stop(service)


if __name__ == "__main__":
    unittest.main()
