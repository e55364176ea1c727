"""IPv6 between test hosts with the value IPv6 set: clients poll a server at a unique-local
address, one by name without a key, one by bracketed address with a key; a server with the same
link-local address on two links, and no IPv4 address, answers each client on the link its request
came from."""

import os
import signal
import unittest

import harness
import engine_support as es

TOLERANCE = 0.005  # seconds
KEYS = "1 AES128 HEX:6d9c8b0b4f3a2e1d5c6b7a8998a7b6c5\n"


def key_file(host):
    path = os.path.join(host.dir, "ntp.keys")
    with open(path, "w") as handle:
        handle.write(KEYS)
    os.chmod(path, 0o600)
    return path


def poller(host, source, extra=None):
    settings = {"IPv6": 1, "Client\\Active": 1, "Client\\Broadcast": 0, "Client\\TimeSource": source,
                "Client\\PollInterval": 1}
    settings.update(extra or {})
    return es.start_debug(host, settings)


class Ipv6Test(harness.ScenarioTestCase):
    def stop(self, process):
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(5), 0, process.describe())
        return process.output()

    def synchronised(self, host, process, ahead):
        self.assertGreaterEqual(len(es.wait_lines(process, es.OFFSET, 1, 8)), 1, process.describe())
        self.assertLessEqual(abs(host.clock_offset() - ahead), TOLERANCE, host.name)
        return self.stop(process)

    def test_clients_poll_over_ipv6_by_name_and_by_address_with_a_key(self):
        lan = self.lab.lan()
        server = self.lab.host("v6-server", lans=[lan], clock_offset=4.5)
        plain = self.lab.host("v6-plain", lans=[lan], clock_offset=0)
        keyed = self.lab.host("v6-keyed", lans=[lan], clock_offset=0)
        served = es.start_debug(server, {"IPv6": 1, "KeyFile": key_file(server), "Server\\Active": 1,
                                         "Server\\Broadcast": 0, "Client\\Active": 0})
        # Added after the start: the server answers on addresses that come later too.
        for number, host in enumerate((server, plain, keyed), 1):
            host.add_address6(host.adapters[0], "fd00:213::%d" % number)
        plain.set_names({"timehost": "fd00:213::1"})
        outputs = [self.synchronised(plain, poller(plain, "timehost"), 4.5),
                   self.synchronised(keyed, poller(keyed, "[fd00:213::1]", {"KeyFile": key_file(keyed)}), 4.5)]
        served_out = self.stop(served)
        for output, length in zip(outputs, (48, 68)):
            self.assertIn(es.received(4, length, "fd00:213::1"), output)
            self.assertEqual(es.offsets(output)[0][0], "fd00:213::1")
        self.assertIn(es.received(3, 48, "fd00:213::2"), served_out)
        self.assertIn(es.received(3, 68, "fd00:213::3"), served_out)
        self.assertIn(es.reply_sent("fd00:213::3"), served_out)

    def test_a_link_local_request_is_answered_on_the_link_it_came_from(self):
        lans = [self.lab.lan(), self.lab.lan()]
        server = self.lab.host("v6-ll-server", clock_offset=2.25)  # without IPv4 addresses
        for lan in lans:
            server.add_address6(server.connect(lan, addresses=0), "fe80::1")
        served = es.start_debug(server, {"IPv6": 1, "Server\\Active": 1, "Server\\Broadcast": 0,
                                         "Client\\Active": 0})
        self.assertIn("SNTP-Init: IPv6-Adresse fe80::1%eth1 (eth1) ist betriebsbereit.", served.output())
        for number, lan in enumerate(lans, 2):
            client = self.lab.host("v6-ll-client%d" % number, lans=[lan], clock_offset=0)
            client.add_address6(client.adapters[0], "fe80::%d" % number)
            output = self.synchronised(client, poller(client, "fe80::1%eth0"), 2.25)
            self.assertIn(es.received(4, 48, "fe80::1%eth0"), output)
        served_out = self.stop(served)
        self.assertIn(es.request_received("fe80::2%eth0"), served_out)
        self.assertIn(es.request_received("fe80::3%eth1"), served_out)

    def test_a_host_without_ipv6_says_so_once_and_polls_over_ipv4(self):
        lan = self.lab.lan()
        server = self.lab.host("v4-server", lans=[lan], clock_offset=1.5)
        client = self.lab.host("v6-off", lans=[lan], clock_offset=0)
        client.run(["sh", "-c", "for c in all default; do echo 1 >/proc/sys/net/ipv6/conf/$c/disable_ipv6; done"],
                   syslog=False)
        client.etc_file("hosts", "fd00:213::1 timehost\n%s timehost\n" % server.address)
        served = es.start_debug(server, {"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0})
        output = self.synchronised(client, poller(client, "timehost"), 1.5)
        self.stop(served)
        self.assertEqual(output.count("SNTP-Init: IPv6 ist eingeschaltet, aber der Rechner hat keine IPv6-Adresse"), 1,
                         output)
        self.assertNotIn("IPv6-Adresse ", output.replace("keine IPv6-Adresse", ""))
        self.assertNotIn("meldet Fehler", output)
        self.assertEqual(es.offsets(output)[0][0], server.address)


if __name__ == "__main__":
    unittest.main()
