"""Hosts with several interfaces and several addresses on one interface: a client whose first
address is on another network polls from the address its server can reach, a broadcast reaching
three addresses of one interface is taken once and a request sent to the broadcast address is
answered once, more addresses than the adapter table holds are reported, and addresses and
interfaces that come and go while the service runs are followed."""

import json
import os
import signal
import subprocess
import time
import unittest

import harness
import engine_support as es

TOO_MANY = ("SNTP-Init: Die Netzwerkkarte <unbekannt> kann nicht für den SNTP Dienst verwendet "
            "werden, da bereits die maximale Anzahl vom 64 Netzwerkkarten vom SNTP Dienst "
            "verwaltet wird.")                                                         # 0xc100001c


def adapter_ready(address):                                                           # 0x0100000e
    return "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist betriebsbereit." % address


def adapter_gone(address):
    return "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist nicht mehr verfügbar." % address


def keep_secondaries(host, adapter):
    """Without it Linux removes every further address of a subnet with its first one; a host that
    changes its address (as a DHCP client does) keeps the others."""
    for scope in ("all", adapter.ifname):
        subprocess.run(["ip", "netns", "exec", host.ns, "sysctl", "-qw",
                        "net.ipv4.conf.%s.promote_secondaries=1" % scope], check=True)


def remove_address(host, adapter, address):
    harness._ip("-n", host.ns, "addr", "del", address + "/24", "dev", adapter.ifname)
    adapter.addresses.remove(address)


def recreate_interface(host, adapter):
    """Deletes the adapter's interface and makes it anew under the same name, same addresses."""
    peer = "h%de%d" % (host.number, host.adapters.index(adapter))
    harness._ip("-n", host.ns, "link", "del", adapter.ifname)
    harness._ip("link", "add", adapter.ifname, "netns", host.ns, "type", "veth",
                "peer", "name", peer, "netns", host.lab.switch)
    harness._ip("-n", host.lab.switch, "link", "set", peer, "master", adapter.lan.bridge, "up")
    harness._ip("-n", host.ns, "link", "set", adapter.ifname, "up")
    for address in adapter.addresses:
        harness._ip("-n", host.ns, "addr", "add", address + "/24", "broadcast", adapter.lan.broadcast,
                    "dev", adapter.ifname)


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


class AddressChangeTest(MultihomedCase):
    def test_server_answers_on_an_added_address_and_stops_broadcasting_from_a_removed_one(self):
        lan = self.lab.lan()
        server = self.lab.host("server", lans=[lan])
        neighbour = self.lab.host("neighbour", lans=[lan])
        listener = es.udp_socket(neighbour, es.NTP_PORT, broadcast=True, pktinfo=True)
        self.addCleanup(listener.close)
        probe = es.udp_socket(neighbour)
        self.addCleanup(probe.close)
        process = es.start_debug(server, {"Server\\Active": 1, "Server\\Broadcast": 1,
                                          "Server\\BroadcastInterval": 1, "Client\\Active": 0})
        adapter = server.adapters[0]
        keep_secondaries(server, adapter)
        old, new = adapter.address, lan.next_address()
        server.add_address(adapter, new)
        process.wait_output(adapter_ready(new) + "\n", 5)
        probe.sendto(es.packet(mode=3, transmit=es.ntp_now()), (new, es.NTP_PORT))
        reply = es.receive(probe, 3)
        self.assertIsNotNone(reply, process.describe())
        self.assertEqual(reply.source, (new, es.NTP_PORT))

        remove_address(server, adapter, old)
        process.wait_output(adapter_gone(old) + "\n", 5)
        es.drain(listener, 0.1)
        heard = []
        deadline = time.monotonic() + 2.5
        while time.monotonic() < deadline:
            datagram = es.receive(listener, deadline - time.monotonic())
            if datagram is not None:
                heard.append(datagram)
        with open(os.path.join(server.dir, "status.json")) as handle:
            in_use = [a["address"] for a in json.load(handle)["adapters"]]
        out = self.stop(process)
        self.assertGreaterEqual(len(heard), 1, out)
        self.assertEqual(set(d.source for d in heard), {(new, es.NTP_PORT)}, heard)
        self.assertEqual(in_use, [new], "the status file follows the adapters")
        self.assertNotIn("sendto", out)

    def test_client_whose_address_was_replaced_polls_again(self):
        lan = self.lab.lan()
        server = self.lab.host("server", lans=[lan], clock_offset=1.5)
        client = self.lab.host("client", lans=[lan], clock_offset=0)
        es.start_debug(server, {"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0})
        polling = es.start_debug(client, {"Client\\Active": 1, "Client\\Broadcast": 0,
                                          "Client\\TimeSource": server.address, "Client\\PollInterval": 1})
        self.assertEqual(len(es.wait_lines(polling, es.OFFSET, 1, 5)), 1, polling.describe())
        adapter = client.adapters[0]
        keep_secondaries(client, adapter)
        old, new = adapter.address, lan.next_address()
        client.add_address(adapter, new)
        remove_address(client, adapter, old)
        polling.wait_output(adapter_gone(old) + "\n", 5)
        before = len(es.OFFSET.findall(polling.output()))
        self.assertGreater(len(es.wait_lines(polling, es.OFFSET, before + 2, 6)), before + 1, polling.describe())
        out = self.stop(polling)
        self.assertIn(adapter_ready(new) + "\n", out)
        self.assertLessEqual(out.count("Winsock Funktion sendto() meldet Fehler"), 1, out)

    def test_interface_deleted_and_made_anew_receives_broadcasts_again(self):
        lan = self.lab.lan()
        client = self.lab.host("client", lans=[lan], clock_offset=0)
        sender = self.lab.host("sender", lans=[lan])
        probe = es.udp_socket(sender, broadcast=True)
        self.addCleanup(probe.close)
        listening = es.start_debug(client, {"Client\\Active": 1, "Client\\Broadcast": 1})
        probe.sendto(es.packet(mode=5, stratum=1, transmit=es.ntp_now(0.25)), (lan.broadcast, es.NTP_PORT))
        self.assertEqual(len(es.wait_lines(listening, es.OFFSET, 1, 5)), 1, listening.describe())

        recreate_interface(client, client.adapters[0])
        deadline = time.monotonic() + 5
        while listening.output().count(adapter_ready(client.address) + "\n") < 2 and time.monotonic() < deadline:
            time.sleep(0.05)
        probe.sendto(es.packet(mode=5, stratum=1, transmit=es.ntp_now(0.5)), (lan.broadcast, es.NTP_PORT))
        self.assertEqual(len(es.wait_lines(listening, es.OFFSET, 2, 5)), 2, listening.describe())
        self.stop(listening)
        self.assertLess(abs(client.clock_offset() - 0.5), 0.05, client.clock_offset())


if __name__ == "__main__":
    unittest.main()
