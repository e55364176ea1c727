"""chronstat between test hosts: a poll client and its server publish their status files, chronstat
reads them in every form, a forged reply shows up in the drop counter, the service manager sees
the state in STATUS= lines, a record whose pid went to another process and, once the programs
have stopped, their own records are told as not running (exit 2)."""

import json
import os
import signal
import time
import xml.etree.ElementTree as ET

import harness
from harness import product
import engine_support as es

SVG = "{http://www.w3.org/2000/svg}"


class ChronstatTest(harness.ScenarioTestCase):
    def chronstat(self, host, status, *args):
        process = host.run([harness.program("chronstat")] + list(args), env={"CHRON_STATUS": status},
                           syslog=False)
        return process.returncode, process.output(), process.errors()

    def wait_for_record(self, host, status, predicate, timeout=10):
        deadline = time.monotonic() + timeout
        record = None
        while time.monotonic() < deadline:
            code, out, _ = self.chronstat(host, status, "--json")
            if out.strip():
                record = json.loads(out)
                if predicate(record):
                    return code, record
            time.sleep(0.2)
        self.fail("no status record as awaited within %d s: %r" % (timeout, record))

    def test_client_and_server_report_their_state_and_forgeries_and_their_end(self):
        lan = self.lab.lan()
        server = self.lab.host("statserver", lans=[lan], clock_offset=0.25)
        client = self.lab.host("statclient", lans=[lan], clock_offset=0)
        server_status = os.path.join(server.dir, "run", "status.json")
        client_status = os.path.join(client.dir, "run", "status.json")

        server.write_hive(product({"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0}))
        served = server.spawn([harness.program("chronsvc"), "-debug"], env={"CHRON_STATUS": server_status})
        served.wait_output(es.RUNNING + "\n", 10)
        client.write_hive(product({"Client\\Active": 1, "Client\\Broadcast": 0, "Client\\TimeSource": server.address,
                                   "Client\\PollInterval": 1}))
        service = client.start_service("chronsvc", env={"CHRON_STATUS": client_status})
        service.manager.wait_for("READY=1", 10)

        code, record = self.wait_for_record(client, client_status,
                                            lambda r: r["client"]["synchronised"] and len(r["history"]) >= 2)
        self.assertEqual(code, 0, record)
        self.assertEqual(record["program"], "chronsvc")
        self.assertEqual(record["client"]["address"], server.address)
        self.assertEqual(record["client"]["last_sample"]["stratum"], 1)
        self.assertEqual(record["client"]["last_sample"]["refid"], "LOCL")
        self.assertEqual(record["history"][0]["correction"], "stepped")
        self.assertAlmostEqual(record["history"][0]["offset_s"], 0.25, delta=0.01)
        notice = service.manager.wait_until(lambda n: "STATUS=synchronised with %s, offset " % server.address in n.text,
                                            10)
        self.assertIsNotNone(notice, service.manager.assignments())

        code, out, _ = self.chronstat(client, client_status)
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"State +: synchronised since ")
        self.assertIn(server.address, out)

        code, record = self.wait_for_record(server, server_status,
                                            lambda r: r["counters"]["requests_answered"] >= 2, timeout=15)
        self.assertEqual(code, 0, record)       # a server without client
        self.assertIsNone(record["client"])
        code, out, _ = self.chronstat(server, server_status, "--prometheus")
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"(?m)^chron_requests_answered_total [1-9]\d*$")

        # A reply to no request, sent in the server's name: dropped and counted.
        es.send_forged(server, (server.address, 123), (client.address, 123), es.packet(mode=4, stratum=1))
        code, record = self.wait_for_record(client, client_status,
                                            lambda r: r["counters"]["dropped"]["not_awaited"] >= 1)

        # The record as if its pid had gone to another process (the server's): not running.
        reused = os.path.join(client.dir, "reused.json")
        with open(reused, "w") as f:
            json.dump(dict(record, pid=served.pid), f)
        code, _, errors = self.chronstat(client, reused)
        self.assertEqual(code, 2, errors)
        self.assertIn("(pid %d) is not running" % served.pid, errors)

        plot = os.path.join(client.dir, "history.svg")
        code, out, _ = self.chronstat(client, client_status, "--plot", plot)
        self.assertEqual(code, 0, out)
        markers = [e for e in ET.parse(plot).getroot().iter() if "offset" in e.get("class", "").split()]
        _, out, _ = self.chronstat(client, client_status, "--json")
        self.assertEqual(len(markers), len(json.loads(out)["history"]))

        service.signal(signal.SIGTERM)
        self.assertEqual(service.wait(10), 0, service.describe())
        served.signal(signal.SIGINT)
        self.assertEqual(served.wait(10), 0, served.describe())
        for host, status in ((client, client_status), (server, server_status)):
            code, out, errors = self.chronstat(host, status)
            self.assertEqual(code, 2, out + errors)
            self.assertIn("is not running", errors)

    def test_missing_and_malformed_status_files_are_told_with_exit_status_2(self):
        host = self.lab.host("statnone")
        missing = os.path.join(host.dir, "absent.json")
        malformed = os.path.join(host.dir, "malformed.json")
        fraction = os.path.join(host.dir, "fraction.json")
        with open(malformed, "w") as f:
            f.write('{"program": "chronsvc", "pid": ')
        with open(fraction, "w") as f:
            f.write('{"program": "chronsvc", "pid": 1.9}')
        for path, text in ((missing, "no status file"), (malformed, "is no status record"),
                           (fraction, '"pid" is no integer')):
            for args in ((), ("--json",), ("--prometheus",), ("--plot", os.path.join(host.dir, "plot.svg"))):
                code, out, errors = self.chronstat(host, path, *args)
                self.assertEqual(code, 2, errors)
                self.assertIn(text, errors)
                self.assertEqual(out, "")
