"""NTS between our own programs on test hosts, with certificates the test makes
(tests/testutil/make_test_pki.sh): the poll client takes time only through NTS-KE with a server
whose certificate names the host it asked, keeps its cookies across a restart of the server that
rotated the server's keys, and reports a certificate for another name or an expired one once,
taking no time."""

import os
import shutil
import signal
import subprocess
import time
import unittest

import harness
import engine_support as es

NAME = "time.nts.test"
POLL = 1
TOLERANCE = 0.005  # seconds
PKI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testutil", "make_test_pki.sh")
DAY = 24 * 3600


class NtsTest(harness.ScenarioTestCase):
    def setUp(self):
        super().setUp()
        if shutil.which("openssl") is None:
            problem = "the NTS tests need the openssl command (scripts/install-deps.sh installs it)"
            if os.environ.get("CHRON_ALLOW_SKIP") == "1":
                raise unittest.SkipTest("SKIPPED (CHRON_ALLOW_SKIP=1): " + problem)
            self.fail(problem)
        self.lan = self.lab.lan()
        self.pki = os.path.join(self.lab.dir, "pki")
        subprocess.run(["bash", PKI, self.pki, NAME], check=True, capture_output=True, timeout=60)

    def server(self, name, certificate="server"):
        host = self.lab.host(name, lans=[self.lan])
        return host, self.serve(host, certificate)

    def serve(self, host, certificate="server"):
        return es.start_debug(host, {
            "Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0,
            "NtsServerCertificate": os.path.join(self.pki, certificate + ".pem"),
            "NtsServerKey": os.path.join(self.pki, certificate + ".key")})

    def client(self, name, server, offset):
        host = self.lab.host(name, lans=[self.lan], clock_offset=offset)
        host.set_names({NAME: server.address})
        return host, es.start_debug(host, {
            "Client\\Active": 1, "Client\\Broadcast": 0, "Client\\NTS": 1, "Client\\TimeSource": NAME,
            "Client\\PollInterval": POLL, "Server\\Active": 0,
            "NtsTrustedCertificates": os.path.join(self.pki, "ca.pem")})

    def stop(self, process):
        process.signal(signal.SIGINT)
        self.assertEqual(process.wait(5), 0, process.describe())

    def test_client_keeps_its_cookies_across_a_restart_that_rotated_the_server_keys(self):
        server, served = self.server("nts-server")
        client, following = self.client("nts-client", server, 4.0)
        self.assertTrue(es.wait_lines(following, es.OFFSET, 1, 10), following.describe())
        self.assertLess(abs(client.clock_offset()), TOLERANCE, following.describe())
        record = es.status_record(server, lambda s: s["counters"]["nts_requests_answered"] >= 1)
        self.assertEqual(record["counters"]["nts_ke_sessions"], 1, record)
        self.assertTrue(es.status_record(client, lambda s: s["client"]["nts_authenticated"])["client"]["nts_authenticated"])

        # The key a day old at the restart: the server rotates, and the cookies sealed with it
        # still open, so the client goes on without a new NTS-KE.
        self.stop(served)
        keys = server.env()["CHRON_NTS_SERVER_KEYS"]
        with open(keys) as handle:
            lines = handle.read().splitlines()
        old = lines[1].split()
        lines[1] = " ".join([old[0], str(int(old[1]) - DAY), old[2]])
        with open(keys, "w") as handle:
            handle.write("\n".join(lines) + "\n")
        served = self.serve(server)
        record = es.status_record(server, lambda s: s["counters"]["nts_requests_answered"] >= 2)
        self.assertGreaterEqual(record["counters"]["nts_requests_answered"], 2, record)
        self.assertEqual(record["counters"]["nts_ke_sessions"], 0, record)
        self.assertEqual(record["counters"]["nts_requests_refused"], 0, record)
        with open(keys) as handle:
            ring = [line.split() for line in handle.read().splitlines()[1:]]
        self.assertEqual([k[0] for k in ring[1:]], [old[0]], ring)
        self.assertNotEqual(ring[0][0], old[0])

    def test_certificate_for_another_name_or_expired_is_reported_once_and_no_time_taken(self):
        cases = [("other", "SNTP-Client: Das Zertifikat des NTS-KE Servers %s ist nicht auf diesen Namen ausgestellt."),
                 ("expired", "SNTP-Client: Das Zertifikat des NTS-KE Servers %s wird nicht anerkannt, Grund: "
                             "certificate has expired.")]
        running = []
        for certificate, report in cases:
            server, _ = self.server("nts-" + certificate, certificate)
            client, following = self.client("nts-to-" + certificate, server, 3.0)
            running.append((client, following, report % NAME))
        time.sleep(4 * POLL + 1)
        for client, following, report in running:
            out = following.output()
            self.assertEqual(out.count(report), 1, following.describe())
            self.assertEqual(es.offsets(out), [])
            self.assertEqual(client.clock_offset(), 3.0)


if __name__ == "__main__":
    unittest.main()
