"""NTS (RFC 8915) between chronsvc and chronyd, each on a test host of its own, with a CA and
server certificates the test makes (tests/testutil/make_test_pki.sh) for a name the hosts
resolve through their own /etc/hosts:

- chronyd -Q (`server <name> nts`, `ntstrustedcerts`) measures our NTS server's clock;
- our poll client (Client\\NTS 1) follows chronyd serving NTS, through a relay that chronyd's
  NTS-KE names as the NTP server (`ntsntpserver`), which proves the negotiation honoured; when
  the relay alters the Unique Identifier or the authenticator of the replies, the client takes
  none of them.

chronyd never controls a clock (-x, and no CAP_SYS_TIME at all)."""

import os
import socket
import subprocess
import threading
import unittest

import peers
from peers import harness
import engine_support as es   # the scenario's helpers (peers puts tests/scenario on the path)

NAME = "time.nts.test"
POLL = 2
TOLERANCE = 0.005  # seconds
PKI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testutil", "make_test_pki.sh")


def make_pki(host):
    """The test CA and certificates for NAME in the host's directory; the folder's path."""
    folder = os.path.join(host.dir, "pki")
    subprocess.run(["bash", PKI, folder, NAME], check=True, capture_output=True, timeout=60)
    return folder


def dropped(host):
    return es.status_record(host)["counters"]["dropped"]["nts_not_authentic"]


class Relay:
    """UDP port 123 of a test host passed on to `server`, each reply altered by `tamper` (a
    function of the reply's bytes, settable while it runs)."""

    def __init__(self, host, server):
        self.outside = es.udp_socket(host, es.NTP_PORT)
        self.inside = es.udp_socket(host)
        self.server = (server, es.NTP_PORT)
        self.tamper = lambda reply: reply
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.outside.settimeout(0.2)
        self.inside.settimeout(1.0)
        while not self.stopped.is_set():
            try:
                request, client = self.outside.recvfrom(2048)
                self.inside.sendto(request, self.server)
                reply, _ = self.inside.recvfrom(2048)
            except socket.timeout:
                continue
            self.outside.sendto(self.tamper(reply), client)

    def close(self):
        self.stopped.set()
        self.thread.join(5)
        self.outside.close()
        self.inside.close()


def flip(offset):
    """A tamper that flips one bit at `offset` (negative: from the end)."""
    def tamper(reply):
        data = bytearray(reply)
        data[offset] ^= 0x01
        return bytes(data)
    return tamper


class NtsInterop(harness.ScenarioTestCase):
    def setUp(self):
        super().setUp()
        peers.require_tools(self, "chronyd", "setpriv", "openssl")

    def test_chronyd_measures_our_nts_server(self):
        lan = self.lab.lan()
        server = self.lab.host("nts-ours", lans=[lan], clock_offset=-7.25)
        pki = make_pki(server)
        served = es.start_debug(server, {
            "Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0,
            "NtsServerCertificate": os.path.join(pki, "server.pem"),
            "NtsServerKey": os.path.join(pki, "server.key")})
        client = self.lab.host("nts-chronyq", lans=[lan])
        client.set_names({NAME: server.address})
        conf = peers.write_file(os.path.join(client.dir, "chrony.conf"),
                                "server %s iburst nts minpoll 0 maxpoll 0\nntstrustedcerts %s\n"
                                "cmdport 0\nport 0\ndriftfile %s/chrony.drift\n"
                                % (NAME, os.path.join(pki, "ca.pem"), client.dir))
        run = client.run(peers.NO_SYS_TIME + ["chronyd", "-Q", "-u", "root", "-f", conf], timeout=30,
                         syslog=False)
        text = run.output() + run.errors()
        self.assertEqual(run.returncode, 0, text)
        offset = float(peers.re.search(r"System clock wrong by (-?\d+\.\d+) seconds", text).group(1))
        self.assertLess(abs(offset + 7.25), TOLERANCE, text)
        # The server's counters reach its status record within its period of 10 s.
        record = es.status_record(server, lambda r: r["counters"]["nts_requests_answered"] >= 1)
        self.assertEqual(record["counters"]["nts_ke_sessions"], 1, record)
        self.assertTrue(served.alive(), served.describe())

    def test_our_client_follows_chronyd_through_the_named_server_and_refuses_altered_replies(self):
        lan = self.lab.lan()
        chrony = self.lab.host("nts-chrony", lans=[lan])
        relay_host = self.lab.host("nts-relay", lans=[lan])
        pki = make_pki(chrony)
        conf = peers.write_file(os.path.join(chrony.dir, "chrony.conf"),
                                peers.chronyd_server_conf(chrony.dir) +
                                "ntsserverkey %s\nntsservercert %s\nntsntpserver %s\n"
                                % (os.path.join(pki, "server.key"), os.path.join(pki, "server.pem"),
                                   relay_host.address))
        chronyd = chrony.spawn(peers.chronyd_command(conf), syslog=False)
        peers.wait_text(chronyd, peers.CHRONYD_NO_CLOCK, 5)
        relay = Relay(relay_host, chrony.address)
        self.addCleanup(relay.close)

        client = self.lab.host("nts-client", lans=[lan], clock_offset=5.5)
        client.set_names({NAME: chrony.address})
        following = es.start_debug(client, {
            "Client\\Active": 1, "Client\\Broadcast": 0, "Client\\NTS": 1, "Client\\TimeSource": NAME,
            "Client\\PollInterval": POLL, "Server\\Active": 0,
            "NtsTrustedCertificates": os.path.join(pki, "ca.pem")})
        offsets = peers.wait_offsets(self, following, relay_host.address, 2, 6 * POLL + 10)
        self.assertLess(abs(offsets[0] + 5.5), TOLERANCE, offsets)
        self.assertLess(abs(client.clock_offset()), TOLERANCE)
        self.assertTrue(es.status_record(client)["client"]["nts_authenticated"])

        client.set_clock_offset(3.0)
        for name, tamper in (("identifier", flip(48 + 4)), ("authenticator", flip(-1))):
            before = len(peers.traced_offsets(following.output()))
            refused = dropped(client)
            relay.tamper = tamper
            es.status_record(client, lambda r: r["counters"]["dropped"]["nts_not_authentic"] >= refused + 2,
                             4 * POLL + 5)
            self.assertGreaterEqual(dropped(client), refused + 2, following.describe())
            self.assertEqual(len(peers.traced_offsets(following.output())), before, name)
        self.assertEqual(client.clock_offset(), 3.0)
        self.assertIn(peers.CHRONYD_NO_CLOCK, chronyd.output() + chronyd.errors())


if __name__ == "__main__":
    unittest.main()
