"""chronsvc with the value IPv6 set against real NTP software over IPv6 (unique-local addresses):
chronyd as the server our poll client follows, chronyd -Q and ntpdig -6 as clients of our
server. chronyd never controls a clock (-x, -Q, and no CAP_SYS_TIME at all)."""

import json
import re
import signal
import unittest

import peers
from peers import harness

TOLERANCE = 0.005  # seconds
SERVER = "fd00:213::1"
CLIENT = "fd00:213::2"


class Ipv6Interop(harness.ScenarioTestCase):
    def hosts(self, server_offset=None, client_offset=None):
        lan = self.lab.lan()
        server = self.lab.host("v6-server", lans=[lan], clock_offset=server_offset)
        client = self.lab.host("v6-client", lans=[lan], clock_offset=client_offset)
        server.add_address6(server.adapters[0], SERVER)
        client.add_address6(client.adapters[0], CLIENT)
        return server, client

    def assertNear(self, value, expected, what):
        self.assertLess(abs(value - expected), TOLERANCE, "%s: %+.6f s, expected %+.6f s" % (what, value, expected))

    def test_our_client_follows_chronyd_over_ipv6(self):
        peers.require_tools(self, "chronyd", "setpriv")
        chrony, host = self.hosts(client_offset=-7.25)
        chronyd = peers.start_chronyd_server(chrony)
        host.write_hive(harness.product({"IPv6": 1, "Client\\Active": 1, "Client\\Broadcast": 0,
                                         "Client\\TimeSource": SERVER, "Client\\PollInterval": 1,
                                         "Server\\Active": 0}))
        process = host.spawn([harness.program("chronsvc"), "-debug"])
        offsets = peers.wait_offsets(self, process, SERVER, 2, 10)
        self.assertNear(offsets[0], 7.25, "first offset to chronyd")
        self.assertNear(offsets[1], 0.0, "second offset to chronyd")
        self.assertNear(host.clock_offset(), 0.0, "simulated clock after the step")
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(5), 0, process.describe())
        self.assertTrue(chronyd.alive(), chronyd.describe())

    def test_chronyd_and_ntpdig_measure_our_server_over_ipv6(self):
        peers.require_tools(self, "chronyd", "setpriv", "ntpdig")
        server, client = self.hosts(server_offset=-9.5)
        server.write_hive(harness.product({"IPv6": 1, "Server\\Active": 1, "Server\\Broadcast": 0,
                                           "Client\\Active": 0}))
        process = server.spawn([harness.program("chronsvc"), "-debug"])
        process.wait_output("vollständig initialisiert und betriebsbereit.", 5)

        run = peers.run_chronyd_query(client, SERVER)
        text = run.output() + run.errors()
        self.assertEqual(run.returncode, 0, run.describe())
        match = re.search(r"System clock wrong by (-?\d+\.\d+) seconds \(ignored\)", text)
        self.assertIsNotNone(match, text)
        self.assertNear(float(match.group(1)), -9.5, "offset chronyd -Q measured")

        run = client.run(["ntpdig", "-6", "-j", "-t", "2", SERVER], syslog=False)
        self.assertEqual(run.returncode, 0, run.describe())
        answer = json.loads(run.output().strip().splitlines()[-1])
        self.assertEqual(answer["ip"], SERVER)
        self.assertNear(answer["offset"], -9.5, "offset ntpdig measured")
        self.assertIn("SNTP-Server: NTP Antwort an %s verschickt." % CLIENT, process.output())


if __name__ == "__main__":
    unittest.main()
