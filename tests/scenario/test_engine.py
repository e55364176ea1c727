"""The SNTP engine between test hosts: a poll client taking a server's time, run-once, the
deviation limit, the receive loop's handling of lengths and Modes, the server's reply bytes,
an unresolvable time server and a flood of garbage."""

import random
import re
import signal
import time
import unittest

import harness
from harness import LOG_INFO, product
import engine_support as es

# Seconds: a poll client's offset is right within this plus half the round trip it measured
# itself (the error bound of SNTP: the path back may have taken the whole delay).
TOLERANCE = 0.005
LOGGED_INFO, LOGGED_ERROR = 0x41000014, 0xc1000011


class EngineCase(harness.ScenarioTestCase):
    def stop(self, process, timeout=5):
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(timeout), 0, process.describe())
        return process.output()

    def assertNear(self, seen, expected, message="", tolerance=TOLERANCE):
        self.assertLessEqual(abs(seen - expected), tolerance,
                             "%s: %.6f, expected %.6f +- %.3f" % (message, seen, expected, tolerance))

    def assertSample(self, sample, expected, message=""):
        """An (sender, offset, delay) sample of a poll client is within its error bound."""
        sender, offset, delay = sample
        self.assertGreaterEqual(delay, 0.0, sample)
        self.assertLess(delay, 0.1, sample)
        self.assertNear(offset, expected, message, TOLERANCE + delay / 2)

    def poll_settings(self, server, **more):
        settings = {"Client\\Active": 1, "Client\\Broadcast": 0, "Client\\TimeSource": server.address,
                    "Client\\PollInterval": 1}
        settings.update({"Client\\" + k: v for k, v in more.items()})
        return settings

    def server_settings(self):
        return {"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0}


class PollClientTest(EngineCase):
    def test_poll_client_takes_the_servers_offset_ahead_and_behind(self):
        pairs = []
        for ahead in (7.25, -3.5):
            lan = self.lab.lan()
            server = self.lab.host("server%+g" % ahead, lans=[lan], clock_offset=ahead)
            client = self.lab.host("client%+g" % ahead, lans=[lan], clock_offset=0)
            pairs.append((ahead, server, es.start_debug(server, self.server_settings()), client))
        running = [(ahead, server, served, client, es.start_debug(client, self.poll_settings(server)))
                   for ahead, server, served, client in pairs]
        for ahead, server, served, client, process in running:
            found = es.wait_lines(process, es.OFFSET, 2, 6)
            self.assertGreaterEqual(len(found), 2, process.describe())
        for ahead, server, served, client, process in running:
            out = self.stop(process)
            shown = es.samples(out)
            self.assertEqual(len(shown), len(es.offsets(out)), out)
            self.assertEqual(set(s[0] for s in shown), {server.address}, out)
            self.assertSample(shown[0], ahead, "first offset shown")
            for later in shown[1:]:
                self.assertSample(later, 0.0, "offset after the first setting")
            # -3.5 s is shown with the sign on the seconds: "-3.500" (or a few ms off).
            self.assertRegex(es.OFFSET.search(out).group(0), r" %s\.\d{3} " % ("7" if ahead > 0 else "-3"))
            # The clock was stepped by the offset (the file keeps the simulated clock's offset)
            # and, after the later near-zero settings, still agrees with the server's.
            self.assertNear(client.clock_offset(), server.clock_offset(), "client clock vs server clock",
                            TOLERANCE + shown[-1][2] / 2)
            self.assertEqual(server.clock_offset(), ahead, "the server's clock is never set")
            # One reply's block of trace lines, in the order the client writes them.
            # (The poll thread's request line, written after its sendto, may fall anywhere.)
            request = "SNTP-Client: NTP Anfrage an %s geschickt." % server.address
            self.assertIn(request, out)
            lines = [l for l in es.after_running(out) if l != request]
            start = lines.index(es.received(4, 48, server.address))
            labels = [re.sub(r":\s.*", "", line) for line in lines[start:start + 10]]
            self.assertEqual(labels, ["SNTP-Network", "SNTP-Client", "SNTP-Client", "SNTP-Client",
                                      "SNTP-Client", "SNTP-Client", "SNTP-Client", "SNTP-Client",
                                      "SNTP-Client", "SNTP-Client"], lines[start:start + 10])
            block = lines[start + 1:start + 10]
            self.assertEqual(block[0], "SNTP-Client: NTP Antwort von %s erhalten." % server.address)
            self.assertEqual([re.match(r"SNTP-Client: ([^:]+):", l).group(1) for l in block[1:7]],
                             ["SYSTIME", "T1(org)", "T2(rec)", "T3(xmt)", "T4(dst)", "  (ref)"], block)
            served_out = self.stop(served)
            self.assertIn(es.request_received(client.address), served_out)
            self.assertIn(es.reply_sent(client.address), served_out)


class PrecisionTest(EngineCase):
    # Seconds: generous for a loaded machine; the benchmark in bench/ measures the real figure.
    BOUND = 0.002

    def test_every_poll_after_the_first_step_leaves_the_client_near_the_server(self):
        lan = self.lab.lan()
        ahead = 2.718281828                  # not a whole number of milliseconds
        server = self.lab.host("prserver", lans=[lan], clock_offset=ahead)
        client = self.lab.host("prclient", lans=[lan], clock_offset=0)
        served = es.start_debug(server, self.server_settings())
        process = es.start_debug(client, self.poll_settings(server))
        residuals = []
        for count in range(1, 7):
            found = es.wait_lines(process, es.OFFSET, count, 5)
            self.assertEqual(len(found), count, process.describe())
            # The step precedes its trace lines; the next one is a poll interval away.
            if count > 1:
                residuals.append(client.clock_offset() - server.clock_offset())
        self.stop(process)
        self.stop(served)
        self.assertEqual(server.clock_offset(), ahead, "the server's clock is never set")
        self.assertTrue(all(abs(r) <= self.BOUND for r in residuals),
                        "residuals in µs: %s" % ["%.1f" % (r * 1e6) for r in residuals])


class RunOnceTest(EngineCase):
    def test_run_once_ends_the_service_unless_its_server_is_active(self):
        lan = self.lab.lan()
        server = self.lab.host("server", lans=[lan], clock_offset=2.5)
        alone = self.lab.host("alone", lans=[lan], clock_offset=0)
        serving = self.lab.host("serving", lans=[lan], clock_offset=0)
        managed = self.lab.host("managed", lans=[lan], clock_offset=0)
        served = es.start_debug(server, self.server_settings())
        once = es.start_debug(alone, self.poll_settings(server, RunOnce=1))
        kept = es.start_debug(serving, dict(self.poll_settings(server, RunOnce=1),
                                            **{"Server\\Active": 1, "Server\\Broadcast": 0}))
        managed.write_hive(product(self.poll_settings(server, RunOnce=1)))
        service = managed.start_service("chronsvc")

        # Debug mode: the first setting stops the host; the process ends when the receive
        # loop has reported its end (the poll thread may or may not get to report its own).
        self.assertEqual(once.wait(5), 0, once.describe())
        out = once.output()
        shown = es.samples(out)
        self.assertEqual(len(shown), 1, out)
        self.assertSample(shown[0], 2.5, "offset shown")
        self.assertNear(alone.clock_offset(), 2.5, "clock after run-once", TOLERANCE + shown[0][2] / 2)
        # The poll thread traces its request after sendto, so that line may come late.
        tail = [l for l in out[out.index(es.DELAY.search(out).group(0)):].splitlines()[1:]
                if l != "SNTP-Client: NTP Anfrage an %s geschickt." % server.address]
        self.assertIn(es.STOP_DONE, tail)
        self.assertIn(tail.count(es.ENDED), (1, 2), tail)
        self.assertEqual(tail[-1], es.ENDED, tail)
        self.assertEqual(sorted(set(tail)), [es.STOP_DONE, es.ENDED], tail)
        self.assertNotIn(es.STOPPING, out, "no console control was used")

        # Service mode: the service reports the stop and ends with exit code 0.
        self.assertEqual(service.wait(5), 0, service.describe())
        self.assertEqual(service.manager.wait_for_key("ERRNO").fields["ERRNO"], "0")
        # Service mode waits for every activity: the receive loop and the poll thread each
        # report their end.
        managed.syslog.wait_for(es.STOP_DONE, 2, service.pid)
        messages = managed.syslog.messages(service.pid)
        self.assertEqual(messages.count(es.ENDED), 2, messages)
        self.assertEqual(messages[-1], es.ENDED, messages)
        self.assertLess(messages.index(es.STOP_DONE), len(messages) - 1)
        self.assertNear(managed.clock_offset(), 2.5, "clock of the service", 2 * TOLERANCE)

        # With its own server active the host keeps running and keeps setting its clock.
        self.assertGreaterEqual(len(es.wait_lines(kept, es.OFFSET, 3, 5)), 3, kept.describe())
        self.assertTrue(kept.alive())
        out = self.stop(kept)
        self.assertEqual(out.count(es.STOP_DONE), 1, out)   # only the console's stop
        self.assertNear(serving.clock_offset(), 2.5, "clock of the serving host",
                        TOLERANCE + es.samples(out)[-1][2] / 2)
        self.stop(served)


class DeviationLimitTest(EngineCase):
    def test_limit_refuses_above_whole_seconds_and_reports(self):
        lan = self.lab.lan()
        servers = {ahead: self.lab.host("server%+g" % ahead, lans=[lan], clock_offset=ahead)
                   for ahead in (10.0, 5.5, -7.5)}
        served = [es.start_debug(s, self.server_settings()) for s in servers.values()]
        limit = {"MaxDiffSecondActive": 1, "MaxDiffSecond": 5}
        clients = {}
        for ahead, server in servers.items():
            host = self.lab.host("client%+g" % ahead, lans=[lan], clock_offset=0)
            clients[ahead] = (host, es.start_debug(host, self.poll_settings(server, **limit)))
        managed = self.lab.host("managed", lans=[lan], clock_offset=0)
        managed.write_hive(product(self.poll_settings(servers[10.0], RunOnce=1, **limit)))
        service = managed.start_service("chronsvc")
        service.manager.wait_for("READY=1", 5)

        for ahead in (10.0, -7.5):
            host, process = clients[ahead]
            refused = es.wait_lines(process, es.REFUSED, 2, 5)
            self.assertGreaterEqual(len(refused), 2, process.describe())   # tried again next poll
            out = self.stop(process)
            shown = es.samples(out)
            self.assertEqual(len(shown), len(es.REFUSED.findall(out)), "the trace is still printed")
            for (seconds, milliseconds, allowed), sample in zip(es.REFUSED.findall(out), shown):
                self.assertEqual(allowed, "5")
                self.assertEqual(es.shown_seconds(seconds, milliseconds), sample[1], out)
                self.assertSample(sample, ahead, "refused deviation")
            self.assertNotIn("SYSTIME", out, "the clock must not be set")
            self.assertEqual(host.clock_offset(), 0.0, "clock unchanged")
        host, process = clients[5.5]              # 5.5 s: five whole seconds are allowed
        self.assertGreaterEqual(len(es.wait_lines(process, es.OFFSET, 1, 5)), 1, process.describe())
        out = self.stop(process)
        self.assertIsNone(es.REFUSED.search(out), out)
        shown = es.samples(out)
        self.assertSample(shown[0], 5.5, "offset shown")
        self.assertNear(host.clock_offset(), 5.5, "clock set within the limit", TOLERANCE + shown[-1][2] / 2)

        entry = managed.syslog.wait_for("Die Abbweichung", 5, service.pid)
        match = es.REFUSED.match(entry.message)
        self.assertIsNotNone(match, entry)
        self.assertEqual(match.group(3), "5", entry)
        self.assertNear(es.shown_seconds(match.group(1), match.group(2)), 10.0, "reported deviation", 0.05)
        self.assertEqual((entry.identifier, entry.severity, entry.event_id),
                         ("SNTP", LOG_INFO, LOGGED_INFO), entry)
        self.assertEqual(managed.clock_offset(), 0.0, "clock unchanged")
        self.assertTrue(service.alive(), "a refused setting does not end a run-once service")
        self.assertEqual(managed.syslog.find("Zeitabweichung", service.pid), [], "trace only in debug")
        for process in served:
            self.stop(process)


class ReceiveLoopTest(EngineCase):
    """Datagrams from a raw socket on another host, one after the other; the service handles
    them strictly in arrival order, so the trace can be compared line by line."""

    def setUp(self):
        super().setUp()
        lan = self.lab.lan()
        self.server = self.lab.host("server", lans=[lan], clock_offset=100.0)
        self.prober = self.lab.host("prober", lans=[lan])
        self.probe = es.udp_socket(self.prober)
        self.addCleanup(self.probe.close)
        self.me = self.prober.address

    def send(self, data):
        self.probe.sendto(data, (self.server.address, es.NTP_PORT))

    def exchange(self, data, timeout=3):
        self.send(data)
        reply = es.receive(self.probe, timeout)
        self.assertIsNotNone(reply, "no reply to %s" % data.hex())
        return reply

    def trace_until_marker(self, process, expected):
        """Sends a valid request as the end mark, collects the replies up to its own and
        returns them with the trace lines once the trace holds `expected` lines."""
        marker = 0x0102030405060708
        replies = []
        self.send(es.packet(transmit=marker))
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            item = es.receive(self.probe, 0.5)
            if item is not None:
                replies.append(item)
                if es.Ntp(item.data).originate == marker:
                    break
        while time.monotonic() < deadline and len(es.after_running(process.output())) < expected:
            time.sleep(0.02)
        time.sleep(0.1)                          # anything more would show now
        return es.after_running(process.output()), replies

    def test_lengths_and_modes_with_the_server_active(self):
        process = es.start_debug(self.server, self.server_settings())
        expected = []
        stamps = {}
        # Extension fields and longer datagrams (NTS) are an unknown format, not an error.
        for length in (47, 48, 49, 68, 100, 1200):
            stamp = stamps[length] = es.ntp_now() + length
            self.send(es.packet(mode=3, length=length, transmit=stamp, fill=b"\xAA"))
            expected.append(es.received(3, length, self.me))
            if length in (48, 68):
                expected += [es.request_received(self.me), es.reply_sent(self.me)]
            else:
                expected.append(es.unknown_format(3, length, self.me))
        for mode in range(8):
            stamps[mode] = es.ntp_now() + 1000 + mode
            self.send(es.packet(mode=mode, transmit=stamps[mode]))
            expected.append(es.received(mode, 48, self.me))
            expected += ([es.request_received(self.me), es.reply_sent(self.me)] if mode == 3
                         else [es.dropped(mode, self.me)])
        expected += [es.received(3, 48, self.me), es.request_received(self.me), es.reply_sent(self.me)]
        lines, replies = self.trace_until_marker(process, len(expected))
        self.assertEqual(lines, expected)
        # Replies: to the 48- and 68-byte requests, to the mode-3 one of the Mode series and to
        # the marker, each of 48 bytes, from port 123, echoing the request's Transmit Timestamp.
        self.assertEqual([len(r.data) for r in replies], [48] * 4, replies)
        self.assertEqual([r.source for r in replies], [(self.server.address, 123)] * 4)
        self.assertEqual([es.Ntp(r.data).originate for r in replies],
                         [stamps[48], stamps[68], stamps[3], 0x0102030405060708])
        self.assertTrue(process.alive())
        self.stop(process)

    def test_modes_with_the_server_inactive_and_a_client_without_requests(self):
        # The client is active in poll mode but without a time server: no poll thread, so
        # no request was ever sent and every reply fails the client's checks.
        process = es.start_debug(self.server, {"Server\\Active": 0, "Client\\Active": 1,
                                               "Client\\Broadcast": 0, "Client\\TimeSource": ""})
        self.send(es.packet(mode=3))
        self.send(es.packet(mode=5))
        self.send(es.packet(mode=4, originate=es.ntp_now()))       # answers nothing we asked
        self.send(es.packet(mode=4, originate=0))                  # no request is outstanding
        self.send(es.packet(mode=4, originate=0, transmit=0))      # carries no time at all
        self.send(es.packet(mode=4, li=3, originate=0))
        self.send(es.packet(mode=3, length=68))
        reply_from = "SNTP-Client: NTP Antwort von %s erhalten." % self.me
        expected = [
            es.received(3, 48, self.me), es.dropped(3, self.me),
            es.received(5, 48, self.me), es.dropped(5, self.me),
            es.received(4, 48, self.me), reply_from,
            "SNTP-Client: NTP Antwort von %s ungültig, \"Originate Timestamp\" ist ungültig !" % self.me,
            es.received(4, 48, self.me), reply_from,
            "SNTP-Client: NTP Antwort von %s ungültig, \"Originate Timestamp\" ist ungültig !" % self.me,
            es.received(4, 48, self.me), reply_from,
            "SNTP-Client: NTP Antwort von %s ungültig, \"Transmit Timestamp\" ist 0 !" % self.me,
            es.received(4, 48, self.me), reply_from,
            "SNTP-Client: NTP Broadcast/Antwort von %s wird ignoriert, Serverzeit läuft nicht "
            "synchron !" % self.me,
            es.received(3, 68, self.me), es.dropped(3, self.me),
        ]
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and len(es.after_running(process.output())) < len(expected):
            time.sleep(0.05)
        time.sleep(0.1)                          # anything more would show now
        lines = es.after_running(process.output())
        self.assertEqual(len(lines), len(expected), lines)
        self.assertEqual(lines, expected)
        self.assertIsNone(es.receive(self.probe, 0.2), "nothing is answered")
        self.assertEqual(self.server.clock_offset(), 100.0, "clock untouched")
        self.stop(process)

    def test_reply_bytes_on_the_wire(self):
        process = es.start_debug(self.server, self.server_settings())
        transmit = 0x0123456789ABCDEF
        request = es.packet(mode=3, version=4, poll=10, transmit=transmit)
        before = es.ntp_now(100.0)
        reply = self.exchange(request)
        after = es.ntp_now(100.0)
        data = reply.data
        self.assertEqual(len(data), 48)
        self.assertEqual(reply.source, (self.server.address, 123))
        self.assertEqual(data[0:4], bytes([0x24, 0x01, 0x0A, 0xFE]), data.hex())
        self.assertEqual(data[4:12], bytes(8), "root delay and dispersion")
        self.assertEqual(data[12:16], b"LOCL")
        self.assertEqual(data[24:32], request[40:48], "originate is the request's transmit")
        fields = es.Ntp(data)
        milli = (1 << 32) // 1000 + 1
        self.assertLessEqual(fields.receive, fields.reference)
        self.assertLessEqual(fields.reference, fields.transmit)
        # The server's clock runs 100 s ahead (one millisecond of slack for the float clock here).
        self.assertLessEqual(before - milli, fields.receive)
        self.assertLessEqual(fields.transmit, after)

        # Version 3 and Poll 6 are echoed; a zero Transmit Timestamp gives a zero Originate;
        # a 68-byte request gets a 48-byte reply.
        v3 = self.exchange(es.packet(mode=3, version=3, poll=6, transmit=0)).data
        self.assertEqual(v3[0:4], bytes([0x1C, 0x01, 0x06, 0xFE]), v3.hex())
        self.assertEqual(v3[24:32], bytes(8))
        long = self.exchange(es.packet(mode=3, length=68, transmit=transmit, fill=b"\x55")).data
        self.assertEqual(len(long), 48)
        self.assertEqual(long[24:32], request[40:48])
        self.stop(process)

    def test_flood_of_garbage_leaves_service_answering_and_stoppable(self):
        process = es.start_debug(self.server, self.server_settings())
        rng = random.Random(4)
        for number in range(4000):
            length = rng.choice((rng.randrange(0, 120), 47, 48, 49, 68, 100))
            self.send(bytes(rng.getrandbits(8) for _ in range(length)))
        self.assertTrue(process.alive(), process.describe())
        # Valid requests until one is answered: the flood may still be queued before them.
        transmit = 0x0BADC0DE0BADC0DE
        answered = None
        deadline = time.monotonic() + 15
        while answered is None and time.monotonic() < deadline:
            self.send(es.packet(transmit=transmit))
            end = time.monotonic() + 1
            while answered is None and time.monotonic() < end:
                item = es.receive(self.probe, 0.2)
                if item is not None and len(item.data) == 48 and es.Ntp(item.data).originate == transmit:
                    answered = item
        self.assertIsNotNone(answered, "no answer after the flood")
        self.assertEqual(answered.data[0:4], bytes([0x24, 0x01, 0x0A, 0xFE]))
        out = self.stop(process)
        self.assertIn(es.ENDED, out)
        self.assertNotIn("recvfrom()", out)


class ForgedSourceTest(EngineCase):
    def test_requests_from_a_broadcast_source_or_port_0_are_not_answered(self):
        lan = self.lab.lan()
        server = self.lab.host("heserver", lans=[lan])
        forger = self.lab.host("heforger", lans=[lan])
        neighbour = self.lab.host("heneighbour", lans=[lan])
        listener = es.udp_socket(neighbour, 40123)
        self.addCleanup(listener.close)
        probe = es.udp_socket(forger, 40124)
        self.addCleanup(probe.close)
        # Broadcasting, the server may send to broadcast addresses (SO_BROADCAST): a reply to the
        # LAN's broadcast address would reach every host.
        process = es.start_debug(server, dict(self.server_settings(), **{"Server\\Broadcast": 1,
                                                                          "Server\\BroadcastInterval": 3600}))
        request = es.packet(mode=3, transmit=es.ntp_now())
        es.send_forged(forger, (lan.broadcast, 40123), (server.address, 123), request)
        es.send_forged(forger, (forger.address, 0), (server.address, 123), request)
        probe.sendto(request, (server.address, 123))            # a real request ends the series
        self.assertIsNotNone(es.receive(probe, 3), process.describe())
        self.assertEqual(es.drain(listener, 0.3), [], "a reply was broadcast to the LAN")
        lines = [l for l in es.after_running(self.stop(process)) if not l.startswith("SNTP-Server: NTP Broadcast")]
        ignored = "SNTP-Network: NTP Nachricht: 3 (client) von %s (Port %d) wird ignoriert, Absenderadresse ungültig."
        self.assertEqual(lines[:4], [es.received(3, 48, lan.broadcast), ignored % (lan.broadcast, 40123),
                                     es.received(3, 48, forger.address), ignored % (forger.address, 0)], lines)
        self.assertEqual(lines[4:7], [es.received(3, 48, forger.address), es.request_received(forger.address),
                                      es.reply_sent(forger.address)], lines)


class UnresolvableServerTest(EngineCase):
    NAME = "no-such-host.invalid"

    def test_reported_once_per_poll_interval_and_nothing_else(self):
        lan = self.lab.lan()
        debug_host = self.lab.host("debug", lans=[lan])
        managed = self.lab.host("managed", lans=[lan])
        settings = {"Client\\Active": 1, "Client\\Broadcast": 0, "Client\\TimeSource": self.NAME,
                    "Client\\PollInterval": 1}
        for host in (debug_host, managed):
            host.set_names({})                     # nobody answers on the host's 127.0.0.1:53
        managed.write_hive(product(settings))
        service = managed.start_service("chronsvc")
        process = es.start_debug(debug_host, settings)
        started = time.monotonic()
        service.manager.wait_for("READY=1", 5)
        time.sleep(3.3)
        lines = es.after_running(self.stop(process))
        elapsed = time.monotonic() - started
        pattern = es.unresolved(self.NAME)
        reports = [l for l in lines if pattern.match(l)]
        # The stop: the process ends with the receive loop's report; the poll thread's may come
        # before or after the stop request's own report, or not at all.
        self.assertEqual(lines[:len(reports)], reports, lines)
        tail = lines[len(reports):]
        self.assertEqual(tail[0], es.STOPPING, lines)
        self.assertIn(tail[1:], ([es.STOP_DONE, es.ENDED], [es.STOP_DONE, es.ENDED, es.ENDED],
                                 [es.ENDED, es.STOP_DONE, es.ENDED]), lines)
        self.assertIn(len(reports), (int(elapsed), int(elapsed) + 1), lines)
        # Service mode: the same report in the log, once per interval, kernel-stamped.
        entries = [e for e in managed.syslog.entries(service.pid) if "(S)NTP Server" in e.text]
        self.assertGreaterEqual(len(entries), 3, managed.syslog.entries())
        for entry in entries:
            self.assertRegex(entry.message, pattern)
            self.assertEqual((entry.severity, entry.event_id), (harness.LOG_ERR, LOGGED_ERROR))
        gaps = [b.time - a.time for a, b in zip(entries, entries[1:])]
        self.assertTrue(all(0.9 < gap < 1.5 for gap in gaps), gaps)
        ready = managed.syslog.index_of(es.RUNNING, service.pid)
        later = managed.syslog.entries(service.pid)[ready + 1:]
        self.assertEqual([e for e in later if e not in entries], [], "nothing but the reports")


if __name__ == "__main__":
    unittest.main()
