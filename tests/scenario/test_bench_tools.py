"""The benchmark's yardsticks do the kernel work their figures are taken to include."""

import signal
import unittest

import harness

# Asks the server at argv[1] (retrying while it starts) and prints the reply's source address,
# Receive and Transmit Timestamps.
QUERY = """
import socket, struct, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.2)
for _ in range(25):
    s.sendto(b"\\x23" + b"\\0" * 39 + b"\\x01" * 8, (sys.argv[1], 123))
    try:
        data, peer = s.recvfrom(100)
        break
    except OSError:
        time.sleep(0.1)
print(peer[0], *struct.unpack("!QQ", data[32:48]))
"""


class ReferenceServerTest(harness.ScenarioTestCase):
    def test_twin_answers_from_the_address_asked_with_the_arrival_stamp(self):
        """Asked at its host's second address, the plain server answers from the first (the
        routing table's choice) with one stamp for Receive and Transmit; the twin answers from
        the address asked (IP_PKTINFO) with the kernel's arrival stamp, before the Transmit."""
        lan = self.lab.lan()
        server = self.lab.host("server", lans=[lan])
        server.add_address(server.adapters[0], lan.next_address())
        client = self.lab.host("client", lans=[lan])
        first, second = server.addresses()
        for args, source, stamped in (([], first, False), (["--twin"], second, True)):
            process = server.spawn([harness.program("chron_reference_server")] + args, syslog=False)
            query = client.run(["python3", "-c", QUERY, second], syslog=False)
            process.signal(signal.SIGTERM)
            peer, receive, transmit = query.output().split()
            self.assertEqual((peer, int(receive) < int(transmit)), (source, stamped), args)


if __name__ == "__main__":
    unittest.main()
