"""NTP broadcasts between test hosts: a broadcast client taking a server's time and refusing a
broadcast sent straight to it, one broadcast per adapter and pass on a server with three LANs,
and a stop during the broadcast wait."""

import signal
import time
import unittest

import harness
import engine_support as es

TOLERANCE = 0.005      # seconds; a broadcast's offset is short by the one-way delay, well below


class BroadcastCase(harness.ScenarioTestCase):
    def stop(self, process, timeout=5):
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(timeout), 0, process.describe())
        return process.output()

    def assertNear(self, seen, expected, message=""):
        self.assertLessEqual(abs(seen - expected), TOLERANCE,
                             "%s: %.6f, expected %.6f +- %.3f" % (message, seen, expected, TOLERANCE))

    def broadcaster(self, interval, client=0):
        return {"Server\\Active": 1, "Server\\Broadcast": 1, "Server\\BroadcastInterval": interval,
                "Client\\Active": client, "Client\\Broadcast": 1}

    def check_broadcast_bytes(self, datagram, ahead):
        data = datagram.data
        self.assertEqual(len(data), 48, datagram)
        self.assertEqual(data[0:4], bytes([0x25, 0x01, 0x06, 0xF9]), data.hex())
        self.assertEqual(data[4:12], bytes([0, 0, 0, 0, 0, 0, 0, 1]), data.hex())
        self.assertEqual(data[12:16], b"LOCL")
        self.assertEqual(data[24:40], bytes(16), "zero Originate and Receive Timestamps")
        fields = es.Ntp(data)
        self.assertLessEqual(fields.reference, fields.transmit)
        # Sent at most a moment before it was read; the server's clock runs `ahead`.
        self.assertLess(abs(es.ntp_to_unix(fields.transmit) - (datagram.time + ahead)), 0.05, datagram)


class BroadcastClientTest(BroadcastCase):
    def test_broadcast_client_takes_the_servers_offset_and_ignores_its_own(self):
        pairs = []
        for ahead in (7.25, -3.5):
            lan = self.lab.lan()
            server = self.lab.host("server%+g" % ahead, lans=[lan], clock_offset=ahead)
            client = self.lab.host("client%+g" % ahead, lans=[lan], clock_offset=0)
            listening = es.start_debug(client, {"Client\\Active": 1, "Client\\Broadcast": 1})
            # The server's own client takes broadcasts too: it hears its own and must not use them.
            pairs.append((ahead, server, es.start_debug(server, self.broadcaster(1, client=1)),
                          client, listening))
        for ahead, server, served, client, listening in pairs:
            self.assertGreaterEqual(len(es.wait_lines(listening, es.OFFSET, 2, 5)), 2, listening.describe())
        for ahead, server, served, client, listening in pairs:
            out = self.stop(listening)
            lines = es.after_running(out)
            start = lines.index(es.received(5, 48, server.address))
            self.assertEqual(lines[start + 1], "SNTP-Client: NTP Broadcast von %s erhalten." % server.address)
            self.assertTrue(lines[start + 2].startswith("SNTP-Client: SYSTIME: "), lines)
            shown = es.samples(out)
            self.assertEqual(set(s[0] for s in shown), {server.address}, out)
            self.assertNear(shown[0][1], ahead, "first offset shown")
            self.assertRegex(es.OFFSET.search(out).group(0), r" %s\.\d{3} " % ("7" if ahead > 0 else "-3"))
            for sample in shown[1:]:
                self.assertNear(sample[1], 0.0, "offset after the first setting")
            self.assertEqual(set(s[2] for s in shown), {0.0}, "a broadcast shows no delay")
            self.assertNear(client.clock_offset(), ahead, "client clock")

            served_out = self.stop(served)
            own = "SNTP-Client: NTP Broadcast von %s ignoriert, eigene Adresse." % server.address
            self.assertGreaterEqual(served_out.count(own), 2, served_out)
            self.assertEqual(es.OFFSET.findall(served_out), [], "own broadcasts are no time source")
            self.assertEqual(server.clock_offset(), ahead, "the server's clock is untouched")


class ForgedBroadcastTest(BroadcastCase):
    def test_mode_5_sent_straight_to_the_client_is_no_broadcast(self):
        lan = self.lab.lan()
        client = self.lab.host("heclient", lans=[lan], clock_offset=0)
        forger = self.lab.host("heforger", lans=[lan])
        probe = es.udp_socket(forger, broadcast=True)
        self.addCleanup(probe.close)
        process = es.start_debug(client, {"Client\\Active": 1, "Client\\Broadcast": 1})
        probe.sendto(es.packet(mode=5, stratum=1, transmit=es.ntp_now(1000.0)), (client.address, es.NTP_PORT))
        ignored = ("SNTP-Network: NTP Nachricht: 5 (broadcast) von %s wird ignoriert, nicht als Broadcast "
                   "empfangen." % forger.address)
        process.wait_output(ignored + "\n", 5)
        # The same host broadcasting to the LAN is heard.
        probe.sendto(es.packet(mode=5, stratum=1, transmit=es.ntp_now(2.0)), (lan.broadcast, es.NTP_PORT))
        self.assertEqual(len(es.wait_lines(process, es.OFFSET, 1, 5)), 1, process.describe())
        out = self.stop(process)
        lines = es.after_running(out)
        self.assertEqual(lines[:2], [es.received(5, 48, forger.address), ignored], lines)
        self.assertEqual(lines[2:4], [es.received(5, 48, forger.address),
                                      "SNTP-Client: NTP Broadcast von %s erhalten." % forger.address], lines)
        # Only the broadcast moved the clock (by 2 s less its one-way delay), not the forgery.
        self.assertLess(abs(client.clock_offset() - 2.0), 0.5, "client clock")


    def test_address_without_broadcast_address_answers_and_takes_no_mode_5_sent_to_it(self):
        # getifaddrs names such an address itself as its broadcast address.
        lan = self.lab.lan()
        host = self.lab.host("hebare", clock_offset=0)
        host.add_address(host.connect(lan, addresses=0), lan.next_address(), broadcast=False)
        forger = self.lab.host("heforger", lans=[lan])
        probe = es.udp_socket(forger)
        self.addCleanup(probe.close)
        process = es.start_debug(host, {"Client\\Active": 1, "Client\\Broadcast": 1, "Server\\Active": 1,
                                        "Server\\Broadcast": 0})
        probe.sendto(es.packet(mode=3, transmit=es.ntp_now()), (host.address, es.NTP_PORT))
        self.assertIsNotNone(es.receive(probe, 3), process.describe())
        probe.sendto(es.packet(mode=5, stratum=1, transmit=es.ntp_now(1000.0)), (host.address, es.NTP_PORT))
        process.wait_output("SNTP-Network: NTP Nachricht: 5 (broadcast) von %s wird ignoriert, nicht als Broadcast "
                            "empfangen.\n" % forger.address, 5)
        self.stop(process)
        self.assertEqual(host.clock_offset(), 0, "client clock")


class BroadcasterTest(BroadcastCase):
    def test_three_adapters_one_broadcast_each_per_pass(self):
        lans = [self.lab.lan() for _ in range(3)]
        server = self.lab.host("server", clock_offset=30.0)
        for lan in lans:
            server.connect(lan)
        listeners = []
        for number, lan in enumerate(lans):
            neighbour = self.lab.host("neighbour%d" % (number + 1), lans=[lan])
            sock = es.udp_socket(neighbour, es.NTP_PORT, broadcast=True, pktinfo=True)
            self.addCleanup(sock.close)
            listeners.append((server.adapters[number].address, sock))
        process = es.start_debug(server, self.broadcaster(1))
        sent = [es.broadcast_sent("<unbekannt>", address) for address, _ in listeners]
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and process.output().count(sent[-1]) < 3:
            time.sleep(0.02)
        out = self.stop(process)
        lines = [l for l in es.after_running(out) if l.startswith("SNTP-Server: NTP Broadcast")]
        passes = len(lines) // 3
        self.assertGreaterEqual(passes, 3, out)
        self.assertEqual(lines, sent * passes, "one line per adapter per pass, in table order")
        for address, sock in listeners:
            got = es.drain(sock, 0.3)
            self.assertEqual(len(got), passes, "%s: %r" % (address, got))
            for datagram in got:
                self.assertEqual(datagram.source, (address, 123), datagram)
                self.assertEqual(datagram.destination, "255.255.255.255", datagram)
                self.check_broadcast_bytes(datagram, 30.0)
            gaps = [b.time - a.time for a, b in zip(got, got[1:])]
            self.assertTrue(all(0.9 < gap < 1.6 for gap in gaps), gaps)

    def test_stop_during_the_broadcast_wait_ends_at_once(self):
        lans = [self.lab.lan(), self.lab.lan()]
        debug_host = self.lab.host("debug", lans=[lans[0]])
        managed = self.lab.host("managed", lans=[lans[1]])
        socks = []
        for number, lan in enumerate(lans):
            neighbour = self.lab.host("neighbour%d" % (number + 1), lans=[lan])
            socks.append(es.udp_socket(neighbour, es.NTP_PORT, broadcast=True, pktinfo=True))
            self.addCleanup(socks[-1].close)
        managed.write_hive(harness.product(self.broadcaster(60)))
        service = managed.start_service("chronsvc")
        process = es.start_debug(debug_host, self.broadcaster(60))
        for sock in socks:
            first = es.receive(sock, 3)
            self.assertIsNotNone(first, self.lab.describe())
            self.check_broadcast_bytes(first, 0.0)
        service.manager.wait_for("READY=1", 5)
        time.sleep(0.3)

        # Debug mode: the process ends with the receive loop at once; the broadcast thread is
        # woken by the same event (its report may be cut off by the process end).
        began = time.monotonic()
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(1.0), 0, process.describe())
        self.assertLess(time.monotonic() - began, 1.0)
        lines = es.after_running(process.output())
        self.assertEqual(lines.count(es.broadcast_sent("<unbekannt>", debug_host.address)), 1, lines)
        if es.BROADCASTS_ENDED in lines:
            self.assertLess(lines.index(es.STOPPING), lines.index(es.BROADCASTS_ENDED))

        # Service mode: the stop handshake waits for the broadcast thread, which must end at
        # once, not after the 60 s interval.
        began = time.time()
        service.signal(signal.SIGTERM)
        final = service.manager.wait_for_key("ERRNO", 2)
        self.assertEqual(final.fields["ERRNO"], "0")
        self.assertLess(final.time - began, 1.0, service.manager.assignments())
        self.assertEqual(service.wait(2), 0)
        ended = managed.syslog.wait_for(es.BROADCASTS_ENDED, 1, service.pid)
        self.assertLess(ended.time, final.time)
        self.assertEqual(len(managed.syslog.find("NTP Broadcast auf", service.pid)), 0, "no trace in the log")
        for sock in socks:
            self.assertEqual(es.drain(sock, 0.3), [], "no further broadcast")

if __name__ == "__main__":
    unittest.main()
