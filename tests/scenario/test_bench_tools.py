"""The benchmark's yardsticks do the kernel work their figures are taken to include."""

import os
import signal
import subprocess
import unittest

import harness
import engine_support as es

PKI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testutil", "make_test_pki.sh")

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


class NtsLoadTest(harness.ScenarioTestCase):
    def test_nts_load_counts_only_authenticated_replies(self):
        """After NTS-KE with our server the load generator counts its NTS replies good; sent on
        to a plain server (the reference) with the same session, every reply counts bad. The
        NTS-KE bench completes sessions against the same server."""
        lan = self.lab.lan()
        server = self.lab.host("nts-server", lans=[lan])
        plain = self.lab.host("plain-server", lans=[lan])
        load = self.lab.host("load", lans=[lan])
        pki = os.path.join(self.lab.dir, "pki")
        subprocess.run(["bash", PKI, pki, server.address], check=True, capture_output=True, timeout=60)
        es.start_debug(server, {
            "Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0,
            "NtsServerCertificate": os.path.join(pki, "server.pem"),
            "NtsServerKey": os.path.join(pki, "server.key")})
        plain.spawn([harness.program("chron_reference_server")], syslog=False)
        nts = ["--nts", server.address, "--nts-ca", os.path.join(pki, "ca.pem"), "--duration", "1",
               "--warmup", "0.2", "--sockets", "1", "--window", "4"]
        for extra, good in (([], True), (["--server", plain.address], False)):
            result = self.result(load.run([harness.program("chron_loadgen")] + nts + extra, syslog=False))
            self.assertEqual((result["replies"] > 0, result["bad"] > 0, result["nak"]), (good, not good, 0), result)
        result = self.result(load.run([harness.program("chron_ke_bench"), "--server", server.address, "--ca",
                                       os.path.join(pki, "ca.pem"), "--connections", "2", "--duration", "1",
                                       "--warmup", "0"], syslog=False))
        self.assertEqual((result["replies"] > 0, result["failed"]), (True, 0), result)

    def result(self, run):
        """The RESULT line's values of a bench tool that ended well."""
        self.assertEqual(run.returncode, 0, run.output() + run.errors())
        line = [l for l in run.output().splitlines() if l.startswith("RESULT ")][-1]
        return {k: float(v) for k, v in (f.split("=") for f in line.split()[2:])}


if __name__ == "__main__":
    unittest.main()
