"""SNTP between test hosts under Wine, and between the Windows and the Linux build: the client's
simulated clock follows the server's."""

import json
import os
import re
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import RUNNING, STOPPED, WineHost, WineTestCase, harness, program  # noqa: E402

READY = "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."
STOPPING = "SNTP-Control: Stoppe Simple Network Time Protocol."
SERVER = {"Client\\Active": 0, "Server\\Active": 1, "Server\\Broadcast": 0}


def poller_of(server_address):
    return {"Client\\Active": 1, "Client\\Broadcast": 0, "Client\\TimeSource": server_address,
            "Client\\PollInterval": 1, "Server\\Active": 0}


def linux_chronsvc(testcase):
    directory = os.environ.get("CHRON_LINUX_BIN_DIR")
    path = os.path.join(directory or "", "service", "chronsvc")
    if not directory or not os.access(path, os.X_OK):
        testcase.fail("cannot run: no Linux chronsvc at %r (configure with -DCHRON_LINUX_BIN_DIR=<Linux build>)" % path)
    return path


class SynchronisationTest(WineTestCase):
    def follow(self, client, command, offset):
        """Runs the client in the foreground until its clock is `offset` s off the real one, then
        stops it with Ctrl+C (SIGINT; Wine hands it to the console control handler)."""
        run = client.spawn(command)
        WineHost.wait_until(lambda: abs(client.host.clock_offset() - offset) < 0.2, 60,
                            lambda: "%s: clock offset %.3f s, not %.1f s\n%s"
                            % (client.host.name, client.host.clock_offset(), offset, run.describe()))
        run.signal(signal.SIGINT)
        self.assertIn(STOPPING, run.wait_output(STOPPING, 30))
        run.wait(30)

    def test_client_follows_the_server_by_polling_and_by_broadcast(self):
        lan = self.lab.lan()
        server = self.wine_host("server", lans=[lan], clock_offset=30.0,
                                settings=dict(SERVER, **{"Server\\Broadcast": 1, "Server\\BroadcastInterval": 1}))
        server.install_service()
        server.sc("start", "SNTP")
        server.wait_state(RUNNING)
        client = self.wine_host("client", lans=[lan], clock_offset=0.0, settings=poller_of(server.host.address))
        self.follow(client, [program("chronsvc.exe"), "-debug"], 30.0)
        # Both wrote their status files in the common application data folder; chronstat.exe reads
        # them: the server runs (a server alone: exit 0), the client was synchronised and has ended.
        # The server writes its counters at least every 10 s.
        def answered():
            served = server.run([program("chronstat.exe"), "--json"])
            return served.returncode == 0 and json.loads(served.output())["counters"]["requests_answered"] >= 1
        WineHost.wait_until(answered, 30, lambda: "chronstat.exe on the server: no answered request")
        polled = client.run([program("chronstat.exe")])
        self.assertEqual(polled.returncode, 2, polled.describe())
        self.assertIn("is not running", polled.errors())
        self.assertRegex(polled.output(), r"State +: synchronised since ")
        client.host.set_clock_offset(0.0)
        client.import_registry(harness.product({"Client\\Broadcast": 1}))
        self.follow(client, [program("chronsvc.exe"), "-debug"], 30.0)

    def test_linux_and_windows_builds_serve_each_other(self):
        chronsvc = linux_chronsvc(self)
        lan = self.lab.lan()
        windows = self.wine_host("windows", lans=[lan], clock_offset=30.0, settings=SERVER)
        windows.install_service()
        windows.sc("start", "SNTP")
        windows.wait_state(RUNNING)
        linux_client = self.lab.host("lclient", lans=[lan], clock_offset=0.0)
        linux_client.write_hive(harness.product(poller_of(windows.host.address)))
        run = linux_client.spawn([chronsvc, "-debug"])
        WineHost.wait_until(lambda: abs(linux_client.clock_offset() - 30.0) < 0.2, 60,
                            lambda: "the Linux client's clock offset is %.3f s\n%s"
                            % (linux_client.clock_offset(), run.describe()))
        run.signal(signal.SIGINT)
        run.wait(10)

        linux_server = self.lab.host("lserver", lans=[lan], clock_offset=-20.0)
        linux_server.write_hive(harness.product(SERVER))
        linux_server.spawn([chronsvc, "-debug"]).wait_output(READY, 10)
        windows.run(["sc", "stop", "SNTP"], timeout=30)
        windows.wait_state(STOPPED)
        windows.import_registry(harness.product(poller_of(linux_server.address)))
        self.follow(windows, [program("chronsvc.exe"), "-debug"], -20.0)

    def test_disciplined_windows_client_learns_its_oscillators_error(self):
        """Client\\Discipline 1 under Wine: the loop is the same, the simulated clock drifts by
        200 ppm, and the client's frequency correction converges to -200 ppm."""
        chronsvc = linux_chronsvc(self)
        lan = self.lab.lan()
        server = self.lab.host("lserver", lans=[lan], clock_offset=0.5)
        server.write_hive(harness.product(SERVER))
        server.spawn([chronsvc, "-debug"]).wait_output(READY, 10)
        settings = dict(poller_of(server.address), **{"Client\\PollInterval": 4, "Client\\Discipline": 1})
        client = self.wine_host("wclient", lans=[lan], clock_offset=0.0, settings=settings)
        run = client.spawn([program("chronsvc.exe"), "-debug"], env={"CHRON_SIMULATED_FREQUENCY_PPM": "200"})
        pattern = re.compile(r"SNTP-Client: Uhr angeglichen um [-+]\d\.\d{6} Sekunden, Frequenzkorrektur "
                             r"([-+]\d+\.\d{3}) ppm")
        # Under Wine a reply's delay varies by milliseconds, each sample's frequency by tens of
        # ppm at a poll interval of 4 s: the mean of the last four corrections is judged. The first
        # correction rests on one 4 s interval and may start 150 ppm off; the loop then weighs
        # each sample by its noise, so on a loaded machine it takes more than ten to arrive.
        def settled():
            found = [float(f) for f in pattern.findall(run.output())]
            return len(found) >= 12 and abs(sum(found[-4:]) / 4 + 200.0) <= 50.0

        WineHost.wait_until(settled, 300, run.describe)
        run.signal(signal.SIGINT)
        run.wait(30)
        self.assertLess(abs(client.host.clock_offset() - 0.5), 0.005)


    def test_a_linux_client_polls_the_windows_server_over_ipv6(self):
        chronsvc = linux_chronsvc(self)
        lan = self.lab.lan()
        windows = self.wine_host("windows6", lans=[lan], clock_offset=30.0, settings=dict(SERVER, IPv6=1))
        windows.host.add_address6(windows.host.adapters[0], "fd00:213::1")
        served = windows.spawn([program("chronsvc.exe"), "-debug"])
        served.wait_output(READY, 60)
        linux_client = self.lab.host("lclient6", lans=[lan], clock_offset=0.0)
        linux_client.add_address6(linux_client.adapters[0], "fd00:213::2")
        linux_client.write_hive(harness.product(dict(poller_of("fd00:213::1"), IPv6=1)))
        run = linux_client.spawn([chronsvc, "-debug"])
        WineHost.wait_until(lambda: abs(linux_client.clock_offset() - 30.0) < 0.2, 30,
                            lambda: "the Linux client's clock offset is %.3f s\n%s\n%s"
                            % (linux_client.clock_offset(), run.describe(), served.describe()))
        run.signal(signal.SIGINT)
        run.wait(10)
        self.assertIn("SNTP-Server: NTP Antwort an fd00:213::2 verschickt.", served.output())
        served.signal(signal.SIGINT)
        served.wait_output(STOPPING, 30)

if __name__ == "__main__":
    unittest.main()
