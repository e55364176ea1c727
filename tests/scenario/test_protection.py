"""The server's protection between test hosts: one host floods a rate-limited server while another
polls beside it, and the server's lists refuse a source that Server\\Deny names even inside an
allowed prefix. The answers are counted on the wire and in the server's status record."""

import json
import threading
import time

import harness
import engine_support as es

# The limit's defaults with Server\RateLimit 1: a mean interval of 2^3 s, a burst of 8 and one in
# 2^2 of the requests over the limit still answered.
INTERVAL_S, BURST, ONE_IN = 8, 8, 4
FLOOD = 2000


def counters(host, predicate):
    """The server's status counters once `predicate` holds for them (or the last read)."""
    record = es.status_record(host, lambda r: predicate(r["counters"]))
    return record and record["counters"]


def kind(datagram, transmits):
    """"time" or "kiss" for a reply to one of our requests (by its Originate), else None."""
    reply = es.Ntp(datagram.data)
    if reply.mode != 4 or reply.originate not in transmits:
        return None
    if reply.stratum == 0:
        return "kiss" if reply.li == 3 and reply.reference_id == int.from_bytes(b"RATE", "big") else None
    return "time"


class ProtectionTest(harness.ScenarioTestCase):
    def serve(self, lan, settings):
        server = self.lab.host("protserver", lans=[lan])
        served = es.start_debug(server, dict({"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0},
                                             **settings))
        return server, served

    def ask(self, host, server, count, gap):
        """Sends `count` requests `gap` s apart; the kinds of the replies to them."""
        sock = es.udp_socket(host)
        transmits, kinds = set(), []
        try:
            for i in range(count):
                transmit = es.ntp_now() + i
                transmits.add(transmit)
                sock.sendto(es.packet(transmit=transmit), (server.address, es.NTP_PORT))
                item = es.receive(sock, gap)
                if item is not None:
                    kinds.append(kind(item, transmits))
            kinds += [kind(item, transmits) for item in es.drain(sock, 0.5)]
        finally:
            sock.close()
        return kinds

    def test_a_flood_gets_its_limit_and_its_kisses_while_a_client_beside_it_gets_every_answer(self):
        lan = self.lab.lan()
        server, served = self.serve(lan, {"Server\\RateLimit": 1})
        flooder = self.lab.host("flooder", lans=[lan])
        poller = self.lab.host("poller", lans=[lan])

        sock = es.udp_socket(flooder)
        transmits, flood_kinds = set(), []
        polled = []
        poll = threading.Thread(target=lambda: polled.extend(self.ask(poller, server, 6, 0.5)))
        try:
            begun = time.monotonic()
            poll.start()
            for i in range(FLOOD):
                transmit = es.ntp_now() + i
                transmits.add(transmit)
                sock.sendto(es.packet(transmit=transmit), (server.address, es.NTP_PORT))
                while True:        # the replies so far, without waiting, so none overflow the buffer
                    item = es.receive(sock, 0)
                    if item is None:
                        break
                    flood_kinds.append(kind(item, transmits))
                if i % 100 == 99:
                    time.sleep(0.1)   # about 3 s of flooding, beside the poller's requests
            flood_kinds += [kind(item, transmits) for item in es.drain(sock, 1.0)]
            elapsed = time.monotonic() - begun
            poll.join(10)
        finally:
            sock.close()

        self.assertEqual(polled, ["time"] * 6, served.describe())
        self.assertNotIn(None, flood_kinds)
        answers, kisses = flood_kinds.count("time"), flood_kinds.count("kiss")
        periods = int(elapsed // INTERVAL_S) + 1
        self.assertGreaterEqual(answers, BURST)
        self.assertLessEqual(answers, BURST + periods + (FLOOD - BURST) // ONE_IN, (answers, kisses, elapsed))
        self.assertGreaterEqual(kisses, 1)
        self.assertLessEqual(kisses, periods, (answers, kisses, elapsed))
        seen = counters(server, lambda c: c["kisses_sent"] >= kisses and c["requests_answered"] >= answers + 6)
        self.assertEqual(seen["kisses_sent"], kisses, seen)
        self.assertGreaterEqual(seen["dropped"]["rate_limited"], FLOOD // 2, seen)
        self.assertEqual(seen["rate_table_used"], 2, seen)

    def test_a_denied_source_inside_an_allowed_prefix_gets_nothing_and_is_counted(self):
        lan = self.lab.lan()
        allowed = self.lab.host("allowed", lans=[lan])
        denied = self.lab.host("denied", lans=[lan])
        server, served = self.serve(lan, {"Server\\Allow": lan.prefix + "0/24", "Server\\Deny": denied.address})

        self.assertEqual(self.ask(denied, server, 3, 0.5), [], served.describe())
        self.assertEqual(self.ask(allowed, server, 2, 0.5), ["time"] * 2, served.describe())
        seen = counters(server, lambda c: c["dropped"].get("refused_by_list", 0) >= 3 and c["requests_answered"] >= 2)
        self.assertEqual(seen["dropped"]["refused_by_list"], 3, seen)
        self.assertEqual(seen["requests_answered"], 2, seen)
