"""The Windows build has no TLS: under Wine, a client with Client\\NTS 1 says at start that the NTS
values cannot be used and takes no time from a server that would answer it without NTS."""

import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import WineTestCase, program, harness  # noqa: E402
from test_wine_sync import READY, SERVER, STOPPING, linux_chronsvc, poller_of  # noqa: E402

NOT_AVAILABLE = ("SNTP-Init: Die NTS Werte in der Registry (Client\\NTS, NtsServerCertificate) werden nicht "
                 "verwendet, diese Version enthält kein TLS.")


class WineNtsTest(WineTestCase):
    def test_client_with_nts_reports_it_unavailable_and_takes_no_time(self):
        lan = self.lab.lan()
        linux = self.lab.host("plain", lans=[lan])
        linux.write_hive(harness.product(SERVER))
        served = linux.spawn([linux_chronsvc(self), "-debug"])
        served.wait_output(READY, 10)
        settings = dict(poller_of(linux.address), **{"Client\\NTS": 1, "NtsServerCertificate": "C:\\nts\\server.pem"})
        client = self.wine_host("ntsclient", lans=[lan], clock_offset=7.0, settings=settings)
        run = client.spawn([program("chronsvc.exe"), "-debug"])
        run.wait_output(READY, 60)
        time.sleep(4)  # four poll intervals
        run.signal(signal.SIGINT)
        out = run.wait_output(STOPPING, 30)
        run.wait(30)
        self.assertEqual(out.count(NOT_AVAILABLE), 1, out)
        self.assertNotIn("Zeitabweichung", out)
        self.assertEqual(client.host.clock_offset(), 7.0)


if __name__ == "__main__":
    unittest.main()
