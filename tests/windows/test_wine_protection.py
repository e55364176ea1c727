"""The Windows build's server under Wine refuses a source that Server\\Deny names: no answer, and a
trace line that says why; another source on the same network is answered."""

import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import WineTestCase, program  # noqa: E402
from test_wine_sync import READY, SERVER, STOPPING  # noqa: E402
import engine_support as es  # noqa: E402  (wine_hosts puts tests/scenario on the path)


class WineDeniedSourceTest(WineTestCase):
    def test_a_denied_source_gets_no_answer(self):
        lan = self.lab.lan()
        denied = self.lab.host("denied", lans=[lan])
        allowed = self.lab.host("allowed", lans=[lan])
        server = self.wine_host("server", lans=[lan], settings=dict(SERVER, **{"Server\\Deny": denied.address}))
        run = server.spawn([program("chronsvc.exe"), "-debug"])
        run.wait_output(READY, 60)
        address = server.host.address
        replies = {}
        for host in (denied, allowed):
            sock = es.udp_socket(host)
            try:
                sock.sendto(es.packet(), (address, es.NTP_PORT))
                replies[host.name] = es.receive(sock, 3)
            finally:
                sock.close()
        run.signal(signal.SIGINT)
        out = run.wait_output(STOPPING, 30)
        run.wait(30)
        self.assertIsNone(replies["denied"], out)
        self.assertIsNotNone(replies["allowed"], out)
        self.assertEqual(es.Ntp(replies["allowed"].data).mode, 4)
        self.assertIn("NTP Nachricht: 3 (client) von %s wird ignoriert, Absender nicht zugelassen."
                      % denied.address, out)


if __name__ == "__main__":
    unittest.main()
