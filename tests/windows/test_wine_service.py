"""chronsvc.exe as an NT service and chron95.exe under Wine, on test hosts of network
namespaces with a Wine prefix each."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenario"))
import harness  # noqa: E402
import wine_hosts  # noqa: E402
from wine_hosts import WineHost, program, windows_path  # noqa: E402

DISPATCHER_FAILED = "Der Service-Dispatcher konnte nicht gestartet werden ! Grund: "


class WineTestCase(harness.ScenarioTestCase):
    def setUp(self):
        wine_hosts.require_wine(self)
        super().setUp()

    def wine_host(self, name, lans=(), settings=None, clock_offset=None):
        host = WineHost(self.lab.host(name, lans=lans, clock_offset=clock_offset))
        self.addCleanup(host.close)
        if settings is not None:
            host.import_registry(harness.product(settings))
        return host


class ServiceTest(WineTestCase):
    def test_service_runs_answers_interrogate_and_stops(self):
        lan = self.lab.lan()
        host = self.wine_host("svc", lans=[lan], settings={"Client\\Active": 0, "Server\\Active": 1,
                                                           "Server\\Broadcast": 0})
        host.install_service()
        self.assertIn("STATE", host.sc("start", "SNTP"))
        host.wait_state("RUNNING")
        self.assertIn("RUNNING", host.sc("interrogate", "SNTP"))
        # A second instance (debug mode, same machine) finds the mutex and ends with 183.
        second = host.run([program("chronsvc.exe"), "-debug"])
        self.assertIn("SNTP-Init: Der SNTP Dienst ist bereits aktiv.", second.output())
        self.assertEqual(host.query()[0], "RUNNING")

        host.sc("stop", "SNTP")
        state, exit_code, _ = host.wait_state("STOPPED", 30)
        self.assertEqual(exit_code, 0)
        events = host.reported_events()
        # What ReportEvent was given: the texts of the message table as FormatMessage formats them.
        for expected in ("SNTP-Init: Bereite den Start des SNTP Dienstes vor.",
                         "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist betriebsbereit." % host.host.address,
                         "SNTP-Server: NTP Broadcast sind ausgeschaltet.",
                         "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit.",
                         "SNTP-Control: Die Anforderung zum Beenden des SNTP Dienstes wurde bearbeitet.",
                         "SNTP-Shutdown: Der SNTP Dienst wurde beendet."):
            self.assertIn(expected, events)

    def test_host_without_adapters_stops_with_55(self):
        host = self.wine_host("noadapter", settings={})
        host.install_service()
        host.sc("start", "SNTP")
        state, exit_code, _ = host.wait_state("STOPPED", 60)
        self.assertEqual(exit_code, 55)
        self.assertTrue(any(e.startswith("SNTP-Init: Es konnte keine Netzwerkkarte gefunden werden")
                            for e in host.reported_events()), host.reported_events())

    def test_console_start_without_debug_reports_the_dispatcher(self):
        host = self.wine_host("console", settings={})
        run = host.run([program("chronsvc.exe")], env={"WINEDEBUG": "-all,+eventlog"})
        self.assertEqual(run.returncode, 0)
        self.assertIn("SNTP v4 Client/Server für Windows NT v1.01", run.output())
        self.assertIn('L"' + DISPATCHER_FAILED, run.errors())


class SynchronisationTest(WineTestCase):
    def test_client_follows_the_server_by_polling_and_by_broadcast(self):
        lan = self.lab.lan()
        server = self.wine_host("server", lans=[lan], clock_offset=30.0,
                                settings={"Client\\Active": 0, "Server\\Active": 1, "Server\\Broadcast": 1,
                                          "Server\\BroadcastInterval": 16})
        server.install_service()
        server.sc("start", "SNTP")
        server.wait_state("RUNNING")

        poller = self.wine_host("poller", lans=[lan],
                                settings={"Client\\Broadcast": 0, "Client\\TimeSource": server.host.address,
                                          "Client\\PollInterval": 16})
        run = poller.spawn([program("chronsvc.exe"), "-debug"])
        WineHost.wait_until(lambda: abs(poller.host.clock_offset() - 30.0) < 0.5, 60,
                            "the polling client's clock did not follow the server's (offset %.3f)"
                            % poller.host.clock_offset())
        run.kill()

        listener = self.wine_host("listener", lans=[lan], settings={"Client\\Broadcast": 1})
        run = listener.spawn([program("chronsvc.exe"), "-debug"])
        WineHost.wait_until(lambda: abs(listener.host.clock_offset() - 30.0) < 0.5, 60,
                            "the broadcast client's clock did not follow the server's (offset %.3f)"
                            % listener.host.clock_offset())
        run.kill()


class Chron95Test(WineTestCase):
    def test_named_event_from_another_process_stops_chron95(self):
        lan = self.lab.lan()
        host = self.wine_host("w95", lans=[lan], settings={"Client\\Broadcast": 1})
        run = host.spawn([program("chron95.exe"), "-debug"])
        run.wait_output("SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit.", 60)
        self.assertEqual(host.run([program("chronstop.exe")]).returncode, 0)
        out = run.wait_output("<Console wird mit jeder Taste geschlossen>", 30)
        self.assertIn("SNTP-Control: Die Anforderung zum Beenden des SNTP Dienstes wurde bearbeitet.", out)
        self.assertEqual(run.wait(30), 0)


if __name__ == "__main__":
    unittest.main()
