"""chronyd as the client of a rate-limited server of ours, polling faster than the limit allows:
it takes the Kiss-o'-Death RATE, polls more slowly after it, and gets the time within the limit.
chronyd never controls a clock (-x, and no CAP_SYS_TIME at all)."""

import os
import time
import unittest

import peers
from peers import harness
import engine_support as es   # the scenario's helpers (peers puts tests/scenario on the path)

POLL_S = 2                   # chronyd's minpoll and maxpoll 1
INTERVAL_S, BURST = 4, 2     # Server\RateInterval 2, Server\RateBurst 2
ONE_IN = 4                   # Server\RateLeak's default 2: one in 2^2 over the limit answered
RUN_S = 40


class ChronydHonoursRate(harness.ScenarioTestCase):
    def test_chronyd_polling_too_fast_slows_down_on_rate_and_is_answered_within_the_limit(self):
        peers.require_tools(self, "chronyd", "setpriv")
        lan = self.lab.lan()
        server = self.lab.host("limited", lans=[lan])
        client = self.lab.host("chrony", lans=[lan])
        served = es.start_debug(server, {"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0,
                                         "Server\\RateLimit": 1, "Server\\RateInterval": 2, "Server\\RateBurst": 2})
        lines = es.LineClock(served)
        self.addCleanup(lines.close)
        conf = peers.write_file(os.path.join(client.dir, "chrony.conf"),
                                "server %s minpoll 1 maxpoll 1\ncmdport 0\nport 0\n"
                                "driftfile %s/chrony.drift\npidfile %s/chronyd.pid\n"
                                % (server.address, client.dir, client.dir))
        chronyd = client.spawn(peers.chronyd_command(conf), syslog=False)
        begun = time.monotonic()
        peers.wait_text(chronyd, "Received KoD RATE from %s" % server.address, 30)
        time.sleep(max(0, begun + RUN_S - time.monotonic()))
        elapsed = time.monotonic() - begun
        lines.close()

        source = client.address
        answered = lines.times(lambda l: l == es.reply_sent(source))
        kissed = lines.times(lambda l: l == "SNTP-Server: NTP Kiss-o'-Death RATE an %s verschickt." % source)
        dropped = lines.times(lambda l: l.startswith(es.dropped(3, source)[:-1]))
        requests = sorted(answered + kissed + dropped)
        self.assertTrue(kissed and answered, served.describe())
        # Before the first kiss chronyd asks every POLL_S; the request after it comes much later.
        before = [b - a for a, b in zip(requests, requests[1:]) if b <= kissed[0]]
        after = [t for t in requests if t > kissed[0]]
        self.assertLess(max(before), 1.5 * POLL_S, requests)
        self.assertTrue(after, requests)
        self.assertGreater(after[0] - kissed[0], 2 * POLL_S, requests)
        self.assertLessEqual(len(answered), BURST + elapsed // INTERVAL_S + 1 + len(requests) // ONE_IN,
                             (answered, requests))
        self.assertIn(peers.CHRONYD_NO_CLOCK, chronyd.output() + chronyd.errors())


if __name__ == "__main__":
    unittest.main()
