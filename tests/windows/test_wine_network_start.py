"""chronsvc.exe under Wine where the network is not what it expects: adapter discovery without the
SNMP agent inetmib1.dll, and a start with "WaitForNetwork" on a host whose address comes later
(Wine tells of no address changes: the service finds it by looking again every 5 s)."""

import os
import re
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import BASE_ENV, ERROR, GENERIC_ID, RUNNING, STOPPED, WineHost, WineTestCase, program  # noqa: E402

READY = "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."
STOPPING = "SNTP-Control: Stoppe Simple Network Time Protocol."
NO_ADAPTER = ("SNTP-Init: Es konnte keine Netzwerkkarte gefunden werden, die für die Benutzung mit dem SNTP "
              "Dienst verwendbar ist.")
NO_AGENT = re.compile(r"SNTP-Init: Der SNMP-Agent inetmib1\.dll kann nicht geladen werden \(Fehler (\d+)\)\. Die "
                      r"Adressen der Netzwerkkarten werden stattdessen mit GetAdaptersAddresses\(\) ermittelt\.")


def adapter_ready(address):
    return "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist betriebsbereit." % address


class WineNetworkStartTest(WineTestCase):
    def test_without_the_snmp_agent_the_addresses_come_from_the_adapter_list(self):
        host = self.wine_host("nosnmp", lans=[self.lab.lan()], settings={})
        run = host.spawn([program("chronsvc.exe"), "-debug"],
                         env={"WINEDLLOVERRIDES": BASE_ENV["WINEDLLOVERRIDES"] + ";inetmib1=d"})
        run.wait_output(READY, 60)
        run.signal(signal.SIGINT)
        run.wait_output(STOPPING, 30)
        self.assertEqual(run.wait(30), 0, run.describe())
        out = run.output()
        self.assertEqual(len(NO_AGENT.findall(out)), 1, out)
        self.assertLess(NO_AGENT.search(out).start(), out.index(adapter_ready(host.host.address)), out)

    def test_wait_for_network_runs_then_binds_the_address_that_comes(self):
        host = self.wine_host("late", settings={"WaitForNetwork": 1})
        host.install_service()
        host.sc("start", "SNTP")
        host.wait_state(RUNNING, 30)
        self.assertEqual([e for e in host.reported_events() if e[0] == ERROR],
                         [(ERROR, GENERIC_ID[ERROR], NO_ADAPTER)])
        address = host.host.connect(self.lab.lan()).addresses[0]
        WineHost.wait_until(lambda: READY in [text for _, _, text in host.reported_events()], 30,
                            lambda: "not ready: %r" % host.reported_events())
        self.assertIn(adapter_ready(address), [text for _, _, text in host.reported_events()])
        host.sc("stop", "SNTP")
        status = host.wait_state(STOPPED, 30)
        self.assertEqual(status["exit"], 0)


if __name__ == "__main__":
    unittest.main()
