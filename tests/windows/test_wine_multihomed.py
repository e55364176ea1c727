"""The Windows build on a host with several networks under Wine: a client whose first address is
on another network polls from the address its server can reach. (Several addresses on one
interface cannot be shown here: Wine binds a socket of a unicast address to its whole interface,
so the second address of an interface fails to bind with WSAEADDRINUSE.)"""

import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import WineHost, WineTestCase, harness, program  # noqa: E402
from test_wine_sync import SERVER, linux_chronsvc, poller_of  # noqa: E402

READY = "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."
STOPPING = "SNTP-Control: Stoppe Simple Network Time Protocol."


class WineMultihomedTest(WineTestCase):
    def stop(self, run):
        run.signal(signal.SIGINT)
        run.wait_output(STOPPING, 30)
        run.wait(30)
        return run.output()

    def test_client_polls_from_the_address_on_its_servers_network(self):
        other = self.lab.lan()      # sorts first; the server cannot reach it
        served = self.lab.lan()
        server = self.lab.host("lserver", lans=[served], clock_offset=30.0)
        server.write_hive(harness.product(SERVER))
        server.spawn([linux_chronsvc(self), "-debug"]).wait_output(READY, 10)
        client = self.wine_host("client", lans=[other, served], clock_offset=0.0,
                                settings=poller_of(server.address))
        run = client.spawn([program("chronsvc.exe"), "-debug"])
        WineHost.wait_until(lambda: abs(client.host.clock_offset() - 30.0) < 0.2, 60,
                            lambda: "clock offset %.3f s\n%s" % (client.host.clock_offset(), run.describe()))
        out = self.stop(run)
        self.assertIn("über Netzwerkadapter <unbekannt> (%s)" % client.host.adapters[1].address, out)


if __name__ == "__main__":
    unittest.main()
