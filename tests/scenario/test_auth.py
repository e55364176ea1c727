"""Authenticated time between test hosts: a server and its clients sharing a key file
synchronise by polling and by broadcast; an unauthenticated broadcast from a third host, a
broadcast or reply with a wrong MAC and one with an unknown key id move nothing, nor does a
signed broadcast sent again later."""

import hashlib
import os
import re
import signal
import struct
import time
import unittest

import harness
import engine_support as es

TOLERANCE = 0.005  # seconds
AES_KEY = "6d9c8b0b4f3a2e1d5c6b7a8998a7b6c5"
MD5_KEY = "0f1e2d3c4b5a69788796a5b4c3d2e1f0aa"


def key_file(host, text):
    """Writes the host's key file, readable by its owner alone, and returns its path."""
    path = os.path.join(host.dir, "ntp.keys")
    with open(path, "w") as handle:
        handle.write(text)
    os.chmod(path, 0o600)
    return path


def md5_signed(header, key_id=1, key_hex=MD5_KEY, corrupt=False):
    """`header` (48 bytes) with key id and the MD5 MAC: MD5(key || header)."""
    mac = bytearray(hashlib.md5(bytes.fromhex(key_hex) + header).digest())
    if corrupt:
        mac[5] ^= 0x01
    return header + struct.pack("!I", key_id) + bytes(mac)


def ignored(kind, sender, why):
    return "SNTP-Client: NTP %s von %s wird ignoriert, %s." % (kind, sender, why)


class AuthCase(harness.ScenarioTestCase):
    def stop(self, process):
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(5), 0, process.describe())
        return process.output()

    def assertNear(self, seen, expected, what):
        self.assertLessEqual(abs(seen - expected), TOLERANCE, "%s: %.6f, expected %.6f" % (what, seen, expected))


class FilesThatNeverEndTest(AuthCase):
    def test_a_fifo_or_a_device_as_key_file_or_hive_is_refused_and_the_service_stops(self):
        host = self.lab.host("au-fifo", lans=[self.lab.lan()])
        fifo = os.path.join(host.dir, "never-written")
        os.mkfifo(fifo)
        unreadable = ": Registrierungsdatei nicht lesbar: keine reguläre Datei"
        cases = (({"KeyFile": fifo, "Server\\Active": 1}, None,
                  "Die Schlüsseldatei %s kann nicht gelesen werden, Grund: keine reguläre Datei" % fifo),
                 ({}, {"CHRON_HIVE": fifo}, fifo + unreadable),
                 ({}, {"CHRON_HIVE": "/dev/zero"}, "/dev/zero" + unreadable))
        for settings, env, reason in cases:
            with self.subTest(reason):
                host.write_hive(harness.product(settings))
                process = host.spawn([harness.program("chronsvc"), "-debug"], env=env)
                process.wait_output(es.RUNNING + "\n", 5)
                self.assertIn(reason, process.output())
                self.stop(process)


class AuthenticatedTimeTest(AuthCase):
    def test_poll_and_broadcast_clients_follow_an_authenticated_server(self):
        lan = self.lab.lan()
        keys = "# shared\n1 AES128 HEX:%s\n2 MD5 HEX:%s\n" % (AES_KEY, MD5_KEY)
        server = self.lab.host("au-server", lans=[lan], clock_offset=7.25)
        poller = self.lab.host("au-poller", lans=[lan], clock_offset=0)
        listener = self.lab.host("au-listener", lans=[lan], clock_offset=-3.0)
        served = es.start_debug(server, {"KeyFile": key_file(server, keys), "Server\\Active": 1,
                                         "Server\\Broadcast": 1, "Server\\BroadcastInterval": 1,
                                         "Client\\Active": 0})
        self.assertIn("SNTP-Init: NTP Nachrichten werden mit Schlüssel 1 (AES128) aus %s authentifiziert."
                      % os.path.join(server.dir, "ntp.keys"), served.output())
        polling = es.start_debug(poller, {"KeyFile": key_file(poller, keys), "Client\\Active": 1,
                                          "Client\\Broadcast": 0, "Client\\TimeSource": server.address,
                                          "Client\\PollInterval": 1})
        listening = es.start_debug(listener, {"KeyFile": key_file(listener, keys), "Client\\Active": 1,
                                              "Client\\Broadcast": 1})
        for process in (polling, listening):
            self.assertGreaterEqual(len(es.wait_lines(process, es.OFFSET, 2, 8)), 2, process.describe())

        polled = self.stop(polling)
        heard = self.stop(listening)
        served_out = self.stop(served)
        self.assertIn(es.received(4, 68, server.address), polled)
        self.assertIn(es.received(5, 68, server.address), heard)
        self.assertIn(es.received(3, 68, poller.address), served_out)
        self.assertIn(es.reply_sent(poller.address), served_out)
        for host, shown, ahead in ((poller, es.offsets(polled), 7.25), (listener, es.offsets(heard), 10.25)):
            self.assertNear(shown[0][1], ahead, "first offset of %s" % host.name)
            self.assertNear(host.clock_offset(), 7.25, "clock of %s" % host.name)


class ForgedTimeTest(AuthCase):
    KEYS = "1 MD5 HEX:%s\n" % MD5_KEY

    def keyed_broadcast_client(self, sender_name):
        """A broadcast client with the key file, and a host on its LAN sending from port 123."""
        lan = self.lab.lan()
        client = self.lab.host("au-client", lans=[lan], clock_offset=0)
        sender_host = self.lab.host(sender_name, lans=[lan])
        listening = es.start_debug(client, {"KeyFile": key_file(client, self.KEYS), "Client\\Active": 1,
                                            "Client\\Broadcast": 1})
        sender = es.udp_socket(sender_host, 123, broadcast=True)
        return lan, client, sender_host, listening, sender

    def test_broadcasts_without_a_valid_mac_of_the_own_key_move_nothing(self):
        lan, client, intruder, listening, sender = self.keyed_broadcast_client("au-intruder")
        header = lambda ahead: es.packet(mode=5, stratum=1, transmit=es.ntp_now(ahead))
        forged = [
            (header(100), "ohne Authentifizierung"),
            (md5_signed(header(100), key_id=5), "Schlüssel 5 unbekannt"),
            (md5_signed(header(100), corrupt=True), "MAC mit Schlüssel 1 ungültig"),
            (md5_signed(header(100))[:48] + bytes(20), "Schlüssel 0 unbekannt"),
        ]
        for data, why in forged:
            sender.sendto(data, (lan.broadcast, 123))
            listening.wait_output(ignored("Broadcast", intruder.address, why), 5)
        self.assertEqual(client.clock_offset(), 0.0, "forged broadcasts moved the clock")
        # The same host with the key: its broadcast is taken, so the refusals above were the MAC's.
        sender.sendto(md5_signed(header(2.0)), (lan.broadcast, 123))
        self.assertEqual(len(es.wait_lines(listening, es.OFFSET, 1, 5)), 1, listening.describe())
        self.assertNear(client.clock_offset(), 2.0, "clock after the signed broadcast")
        sender.close()
        self.stop(listening)

    def test_a_signed_broadcast_sent_again_later_moves_nothing(self):
        lan, client, broadcaster, listening, sender = self.keyed_broadcast_client("au-bcaster")
        self.addCleanup(sender.close)
        captured = md5_signed(es.packet(mode=5, stratum=1, transmit=es.ntp_now()))
        sent = time.monotonic()
        sender.sendto(captured, (lan.broadcast, 123))
        self.assertEqual(len(es.wait_lines(listening, es.OFFSET, 1, 5)), 1, listening.describe())
        replayed = re.compile(r'^SNTP-Client: NTP Broadcast von %s ungültig, "Transmit Timestamp" liegt nicht nach '
                              r"dem des zuletzt angenommenen Broadcasts !$" % re.escape(broadcaster.address), re.M)
        for count, later in enumerate((2.1, 12.0), 1):
            time.sleep(max(0.0, sent + later - time.monotonic()))
            sender.sendto(captured, (lan.broadcast, 123))
            self.assertEqual(len(es.wait_lines(listening, replayed, count, 5)), count, listening.describe())
        self.assertNear(client.clock_offset(), 0.0, "clock after the broadcast sent again")
        sender.sendto(md5_signed(es.packet(mode=5, stratum=1, transmit=es.ntp_now(1.0))), (lan.broadcast, 123))
        self.assertEqual(len(es.wait_lines(listening, es.OFFSET, 2, 5)), 2, listening.describe())
        self.assertNear(client.clock_offset(), 1.0, "clock after a new broadcast")
        self.stop(listening)

    def test_replies_with_a_wrong_mac_or_unknown_key_move_nothing(self):
        lan = self.lab.lan()
        client = self.lab.host("au-client", lans=[lan], clock_offset=0)
        fake = self.lab.host("au-fakeserver", lans=[lan])
        server = es.udp_socket(fake, 123)
        polling = es.start_debug(client, {"KeyFile": key_file(client, self.KEYS), "Client\\Active": 1,
                                          "Client\\Broadcast": 0, "Client\\TimeSource": fake.address,
                                          "Client\\PollInterval": 1})
        answers = [(dict(corrupt=True), "MAC mit Schlüssel 1 ungültig"), (dict(key_id=3), "Schlüssel 3 unbekannt"),
                   (dict(), None)]
        for how, why in answers:
            request = es.receive(server, 5)
            self.assertIsNotNone(request, polling.describe())
            # Requests carry the client's key id and a valid MAC.
            self.assertEqual(len(request.data), 68, request)
            self.assertEqual(request.data, md5_signed(request.data[:48]), "request MAC")
            transmit = es.ntp_now(50.0 if why else 3.0)
            head = struct.pack("!BBBb3I4Q", 0x24, 1, 10, -20, 0, 0, 0x4C4F434C, transmit,
                               es.Ntp(request.data).transmit, transmit, transmit)
            server.sendto(md5_signed(head, **how), request.source)
            if why:
                polling.wait_output(ignored("Antwort", fake.address, why), 5)
                self.assertEqual(client.clock_offset(), 0.0, "a refused reply moved the clock")
        self.assertEqual(len(es.wait_lines(polling, es.OFFSET, 1, 5)), 1, polling.describe())
        self.assertNear(client.clock_offset(), 3.0, "clock after the valid reply")
        server.close()
        self.stop(polling)

    def test_an_unusable_key_file_is_reported_with_its_line_and_fails_closed(self):
        lan = self.lab.lan()
        client = self.lab.host("au-client", lans=[lan], clock_offset=0)
        sender = self.lab.host("au-sender", lans=[lan])
        path = key_file(client, "1 MD5 HEX:%s\n2 SHA1 HEX:%s\n" % (MD5_KEY, MD5_KEY))
        listening = es.start_debug(client, {"KeyFile": path, "Client\\Active": 1, "Client\\Broadcast": 1})
        self.assertIn("SNTP-Init: Die Schlüsseldatei %s ist in Zeile 2 fehlerhaft: " % path, listening.output())
        out = es.udp_socket(sender, 123, broadcast=True)
        for data in (es.packet(mode=5, stratum=1, transmit=es.ntp_now(4)),
                     md5_signed(es.packet(mode=5, stratum=1, transmit=es.ntp_now(4)))):
            out.sendto(data, (lan.broadcast, 123))
        deadline = time.monotonic() + 5
        while listening.output().count("wird ignoriert, kein gültiger Schlüssel.") < 2:
            self.assertLess(time.monotonic(), deadline, listening.describe())
            time.sleep(0.05)
        self.assertEqual(client.clock_offset(), 0.0)
        out.close()
        self.stop(listening)


if __name__ == "__main__":
    unittest.main()
