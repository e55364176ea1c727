"""chronsvc against real NTP software: chronyd as the time server our poll client follows,
ntpdig (ntpsec) and chronyd -Q as clients of our server. Every peer runs on a test host of its
own; chronyd never controls a clock (-x, and no CAP_SYS_TIME at all)."""

import json
import re
import signal
import unittest

import peers
from peers import harness

TOLERANCE = 0.005  # seconds: our timestamps have 1 ms resolution, the LAN adds well under 1 ms
POLL = 2           # seconds between the client's requests (the harness lets it go below 16 s)


class InteropCase(harness.ScenarioTestCase):
    def setUp(self):
        super().setUp()
        self.chronsvc = harness.program("chronsvc")

    def assertNear(self, value, expected, what):
        self.assertLess(abs(value - expected), TOLERANCE,
                        "%s: %+.6f s, expected %+.6f s" % (what, value, expected))

    def wait_offsets(self, process, server, count, timeout):
        return peers.wait_offsets(self, process, server, count, timeout)

    def server_host(self, name, lan, offset):
        host = self.lab.host(name, lans=[lan], clock_offset=offset)
        host.write_hive(harness.product({"Server\\Active": 1, "Server\\Broadcast": 0,
                                         "Client\\Active": 0}))
        process = host.spawn([self.chronsvc, "-debug"])
        process.wait_output("vollständig initialisiert und betriebsbereit.", 5)
        return host, process


class ChronydServesOurClient(InteropCase):
    def test_poll_client_steps_its_clock_to_chronyd_from_either_side(self):
        peers.require_tools(self, "chronyd", "setpriv")
        lan = self.lab.lan()
        chrony = self.lab.host("chrony", lans=[lan])
        chronyd = peers.start_chronyd_server(chrony)
        # Not even a mistake in its configuration could let chronyd set a clock.
        self.assertEqual(peers.capabilities(chronyd.pid, "CapBnd") & (1 << peers.CAP_SYS_TIME), 0)
        self.assertEqual(peers.capabilities(chronyd.pid, "CapEff") & (1 << peers.CAP_SYS_TIME), 0)

        # One client 7.25 s behind the real clock (chronyd is ahead of it: offset +7.25 s), one
        # 3.5 s ahead (offset -3.5 s).
        clients = []
        for name, offset in (("behind", -7.25), ("ahead", 3.5)):
            host = self.lab.host(name, lans=[lan], clock_offset=offset)
            host.write_hive(harness.product({"Client\\Active": 1, "Client\\Broadcast": 0,
                                             "Client\\TimeSource": chrony.address,
                                             "Client\\PollInterval": POLL,
                                             "Server\\Active": 0}))
            clients.append((host, offset, host.spawn([self.chronsvc, "-debug"])))

        for host, offset, process in clients:
            # The first exchange measures the offset and steps the clock; the second shows that
            # the step was right (the client now agrees with chronyd).
            offsets = self.wait_offsets(process, chrony.address, 2, 4 * POLL + 5)
            self.assertGreaterEqual(len(offsets), 2, process.output())
            self.assertNear(offsets[0], -offset, "first offset traced by the %s client" % host.name)
            self.assertNear(offsets[1], 0.0, "second offset traced by the %s client" % host.name)
            # chronyd serves the real clock: the simulated clock now runs with it.
            self.assertNear(host.clock_offset(), 0.0, "simulated clock of the %s client" % host.name)
            self.assertIn("NTP Antwort von %s erhalten." % chrony.address, process.output())

        for host, offset, process in clients:
            process.signal(signal.SIGINT)
            self.assertEqual(process.wait(5), 0, process.describe())
        self.assertTrue(chronyd.alive(), chronyd.describe())
        self.assertIn(peers.CHRONYD_NO_CLOCK, chronyd.output() + chronyd.errors())


class OurServerServesOtherClients(InteropCase):
    def test_ntpdig_accepts_the_answers_of_servers_ahead_and_behind(self):
        peers.require_tools(self, "ntpdig")
        lan = self.lab.lan()
        client = self.lab.host("client", lans=[lan])
        for name, offset in (("ahead", 12.5), ("behind", -4.75)):
            server, process = self.server_host(name, lan, offset)
            run = client.run(["ntpdig", "-j", "-t", "2", server.address], syslog=False)
            self.assertEqual(run.returncode, 0, run.describe())
            answer = json.loads(run.output().strip().splitlines()[-1])
            self.assertEqual(answer["ip"], server.address)
            self.assertEqual(answer["stratum"], 1)
            self.assertEqual(answer["leap"], "no-leap")
            self.assertFalse(answer["adjusted"])
            self.assertNear(answer["offset"], offset, "offset ntpdig measured to %s" % name)
            self.assertIn("SNTP-Server: NTP Antwort an %s verschickt." % client.address,
                          process.output())

    def test_ntpdig_finds_no_server_where_ours_does_not_serve(self):
        # The check above would notice a broken server: ntpdig fails where none answers, here a
        # host whose service runs only as client (requests are dropped, not answered).
        peers.require_tools(self, "ntpdig")
        lan = self.lab.lan()
        client = self.lab.host("client", lans=[lan])
        quiet = self.lab.host("quiet", lans=[lan])
        quiet.write_hive(harness.product({"Server\\Active": 0, "Client\\Active": 1,
                                          "Client\\Broadcast": 1}))
        process = quiet.spawn([self.chronsvc, "-debug"])
        process.wait_output("vollständig initialisiert und betriebsbereit.", 5)
        run = client.run(["ntpdig", "-t", "1", quiet.address], syslog=False)
        self.assertNotEqual(run.returncode, 0, run.describe())
        process.wait_output("3 (client) von %s wird ignoriert." % client.address, 3)

    def test_chronyd_measures_our_server_offset(self):
        peers.require_tools(self, "chronyd", "setpriv")
        lan = self.lab.lan()
        server, process = self.server_host("server", lan, -9.5)
        client = self.lab.host("chronyq", lans=[lan])
        run = peers.run_chronyd_query(client, server.address)
        text = run.output() + run.errors()
        self.assertEqual(run.returncode, 0, run.describe())
        match = re.search(r"System clock wrong by (-?\d+\.\d+) seconds \(ignored\)", text)
        self.assertIsNotNone(match, text)
        # "wrong by" is the server's time minus the local clock: the server runs 9.5 s behind.
        self.assertNear(float(match.group(1)), -9.5, "offset chronyd -Q measured")
        self.assertIn("SNTP-Server: NTP Antwort an %s verschickt." % client.address,
                      process.output())


if __name__ == "__main__":
    unittest.main()
