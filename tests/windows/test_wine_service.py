"""chronsvc.exe as an NT service under Wine's service control manager, on test hosts of network
namespaces with a Wine prefix each."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import (ERROR, GENERIC_ID, INFO, RUNNING, STOP_PENDING, STOPPED, SUCCESS_ID, WARNING,  # noqa: E402
                        WineTestCase, harness, program, windows_path)

# Takes DNS queries and answers none (no ICMP "port unreachable" either, which ends a look-up).
SILENT_NAME_SERVER = ("import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); "
                      "s.bind(('', 53)); time.sleep(600)")


class ServiceTest(WineTestCase):
    def test_installed_started_stopped_with_checkpoints_interrogated_and_not_twice(self):
        # The poll thread is held up in a name look-up that its name server never answers (8 s),
        # so a stop right after the start waits for it with stop-pending checkpoints.
        lan = self.lab.lan()
        silent = self.lab.host("dns", lans=[lan])
        silent.spawn([sys.executable, "-c", SILENT_NAME_SERVER], syslog=False)
        host = self.wine_host("svc", lans=[lan], settings={
            "Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Broadcast": 0, "Client\\TimeSource": "zeit.test"},
            nameserver=(silent.address, 8))
        host.install_service()
        # The script makes the status folder (and sets its rights: icacls, not enforced by Wine).
        self.assertTrue(os.path.isdir(os.path.join(host.prefix, "drive_c", "ProgramData", "chron")))
        host.sc("start", "SNTP")
        host.wait_state(RUNNING, 30)
        stop = host.spawn(["sc", "stop", "SNTP"])
        seen = [host.query()]
        while seen[-1].get("state") != STOPPED:
            self.assertLess(len(seen), 200, seen)
            seen.append(host.query())
        stop.wait(30)
        pending = [s for s in seen if s["state"] == STOP_PENDING]
        self.assertGreaterEqual(len(pending), 2, seen)
        self.assertEqual({s["hint"] for s in pending}, {500}, seen)
        checkpoints = [s["checkpoint"] for s in pending]
        self.assertEqual(checkpoints, sorted(checkpoints), seen)  # one every 250 ms
        self.assertLess(checkpoints[0], checkpoints[-1], seen)
        self.assertGreaterEqual(checkpoints[0], 1, seen)
        self.assertEqual((seen[-1]["exit"], seen[-1]["specific"]), (0, 0), seen)

        # Started again, as server alone: interrogated, asked with a control code it does not know
        # (reported, the status unchanged), and a second instance of the program, as a second
        # service, ends at once with 183.
        host.import_registry(harness.product({"Client\\Active": 0}))
        host.sc("start", "SNTP")
        host.wait_state(RUNNING, 30)
        probe = program("service_probe.exe")
        for code in (4, 200):
            self.assertEqual(host.run([probe, "control", "SNTP", str(code)]).output().strip(),
                             "state=4 exit=0 specific=0 checkpoint=0 hint=0")
        host.sc("create", "SNTP2", "binPath=", windows_path(program("chronsvc.exe")))
        host.sc("start", "SNTP2")
        status = host.wait_state(STOPPED, 30, name="SNTP2")
        self.assertEqual((status["exit"], status["specific"]), (183, 0))
        self.assertEqual(host.query()["state"], RUNNING)
        host.run(["sc", "stop", "SNTP"], timeout=30)
        host.wait_state(STOPPED, 30)

        # What ReportEvent was given: the poll thread's reports (its failed look-up and its end)
        # fall between the others as its look-up takes.
        events = host.reported_events()
        lookup = ("SNTP-Client: Beim Versuch die IP-Adresse des (S)NTP Server (zeit.test) zu erfragen trat "
                  "folgender Fehler auf: ")
        ended = (INFO, GENERIC_ID[INFO], "SNTP-Shutdown: Der SNTP Dienst wurde beendet.")
        start_up = [
            (INFO, GENERIC_ID[INFO], "SNTP-Init: Bereite den Start des SNTP Dienstes vor."),
            (INFO, SUCCESS_ID, "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist betriebsbereit." % host.host.address),
            (INFO, GENERIC_ID[INFO], "SNTP-Server: NTP Broadcast sind ausgeschaltet."),
            (INFO, GENERIC_ID[INFO], "SNTP-Client: Der SNTP Clientdienst wurde erfolgreich gestartet."),
            (INFO, GENERIC_ID[INFO], "SNTP-Init: Initalisierung des SNTP Dienstes erfolgreich."),
            (INFO, GENERIC_ID[INFO], "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."),
        ]
        stop_done = (INFO, GENERIC_ID[INFO], "SNTP-Control: Die Anforderung zum Beenden des SNTP Dienstes wurde bearbeitet.")
        expected = start_up + [stop_done] + start_up[:3] + start_up[4:] + [
            (ERROR, GENERIC_ID[ERROR], "Ein unbekannter Opcode wurde an der Service-Control-Handler übergeben !"),
            (INFO, GENERIC_ID[INFO], "SNTP-Init: Bereite den Start des SNTP Dienstes vor."),
            (WARNING, GENERIC_ID[WARNING], "SNTP-Init: Der SNTP Dienst ist bereits aktiv."),
            stop_done]
        self.assertEqual([e for e in events if e != ended and not e[2].startswith(lookup)], expected, events)
        self.assertEqual(events.count(ended), 3, events)
        failures = [e for e in events if e[2].startswith(lookup)]
        self.assertEqual([e[:2] for e in failures], [(ERROR, GENERIC_ID[ERROR])], events)
        self.assertEventsShownAsReported(host, events)


if __name__ == "__main__":
    unittest.main()
