"""Hosts with several interfaces and several addresses on one interface: a client whose first
address is on another network polls from the address its server can reach, a broadcast reaching
three addresses of one interface is taken once and a request sent to the broadcast address is
answered once, and more addresses than the adapter table holds are reported."""

import signal
import time
import unittest

import harness
import engine_support as es

TOO_MANY = ("SNTP-Init: Die Netzwerkkarte <unbekannt> kann nicht für den SNTP Dienst verwendet "
            "werden, da bereits die maximale Anzahl vom 64 Netzwerkkarten vom SNTP Dienst "
            "verwaltet wird.")                                                         # 0xc100001c


def adapter_ready(address):                                                           # 0x0100000e
    return "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist betriebsbereit." % address


class MultihomedCase(harness.ScenarioTestCase):
    def stop(self, process, timeout=5):
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(timeout), 0, process.describe())
        return process.output()


class SourceAddressTest(MultihomedCase):
    def test_client_polls_from_the_address_on_its_servers_network(self):
        other = self.lab.lan()      # 10.213.1.0/24: sorts first, the server cannot reach it
        served = self.lab.lan()     # 10.213.2.0/24
        server = self.lab.host("server", lans=[served], clock_offset=2.5)
        client = self.lab.host("client", lans=[other, served], clock_offset=0)
        chosen = client.adapters[1].address
        answering = es.start_debug(server, {"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0})
        polling = es.start_debug(client, {"Client\\Active": 1, "Client\\Broadcast": 0,
                                          "Client\\TimeSource": server.address, "Client\\PollInterval": 1})
        self.assertGreaterEqual(len(es.wait_lines(polling, es.OFFSET, 1, 6)), 1, polling.describe())
        out = self.stop(polling)
        self.assertIn("SNTP-Client: NTP Anfrage an %s über Netzwerkadapter <unbekannt> (%s).\n"
                      % (server.address, chosen), out)
        self.assertEqual(set(s[0] for s in es.samples(out)), {server.address}, out)
        served_out = self.stop(answering)
        self.assertIn(es.reply_sent(chosen), served_out)
        self.assertNotIn("sendto", served_out)


class OneInterfaceThreeAddressesTest(MultihomedCase):
    def test_a_broadcast_is_taken_once_and_a_broadcast_request_answered_once(self):
        lan = self.lab.lan()
        host = self.lab.host("threefold", clock_offset=0)
        host.connect(lan, addresses=3)
        sender = self.lab.host("sender", lans=[lan])
        probe = es.udp_socket(sender, broadcast=True)
        self.addCleanup(probe.close)
        process = es.start_debug(host, {"Client\\Active": 1, "Client\\Broadcast": 1, "Server\\Active": 1,
                                        "Server\\Broadcast": 0})

        # A request to the broadcast address: one reply, from the address it reached first.
        probe.sendto(es.packet(mode=3, transmit=es.ntp_now()), (lan.broadcast, es.NTP_PORT))
        replies = es.drain(probe, 1.0)
        self.assertEqual(len(replies), 1, replies)
        self.assertIn(replies[0].source[0], host.addresses())

        # A broadcast 0.3 s ahead: one step by 0.3 s, not one per address.
        probe.sendto(es.packet(mode=5, stratum=1, transmit=es.ntp_now(0.3)), (lan.broadcast, es.NTP_PORT))
        self.assertEqual(len(es.wait_lines(process, es.OFFSET, 1, 5)), 1, process.describe())
        time.sleep(0.5)
        out = self.stop(process)
        self.assertEqual(out.count(es.received(5, 48, sender.address)), 1, out)
        self.assertEqual(len(es.samples(out)), 1, out)
        self.assertLess(abs(host.clock_offset() - 0.3), 0.05, host.clock_offset())
        self.assertEqual(out.count(es.request_received(sender.address)), 1, out)


class AdapterTableLimitTest(MultihomedCase):
    def test_seventy_addresses_fill_sixty_four_rows_and_report_the_rest(self):
        lan = self.lab.lan()
        host = self.lab.host("crowded")
        host.connect(lan, addresses=70)
        process = es.start_debug(host, {"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0})
        out = self.stop(process)
        self.assertEqual(out.count(TOO_MANY + "\n"), 6, out)
        ready = [address for address in host.addresses() if adapter_ready(address) + "\n" in out]
        self.assertEqual(ready, host.addresses()[:64], out)


if __name__ == "__main__":
    unittest.main()
