"""The test hosts themselves: isolation, LAN traffic, syslog capture, notification socket, hive text."""

import os
import signal
import subprocess
import sys
import time
import unittest

import harness

PY = sys.executable

# Sends one datagram to argv[1]:argv[2] from argv[3] (port 0 = any) and prints the reply.
UDP_ASK = r'''
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[3], 0)); s.settimeout(2)
s.sendto(b"ping", (sys.argv[1], int(sys.argv[2])))
data, peer = s.recvfrom(100)
print(data.decode(), peer[0])
'''
UDP_ECHO = r'''
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", int(sys.argv[1])))
print("bound", flush=True)
data, peer = s.recvfrom(100)
s.sendto(b"pong " + data, peer)
'''
SYSLOG_AND_NOTIFY = r'''
import os, socket, syslog
syslog.openlog("SNTP", syslog.LOG_PID, syslog.LOG_DAEMON)
syslog.syslog(syslog.LOG_ERR, "[0xc1000011] Fehler für eins")
syslog.syslog(syslog.LOG_INFO, "zwei")
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.sendto(b"READY=1\nSTATUS=ok", os.environ["NOTIFY_SOCKET"])
print(os.getpid(), open("/proc/self/net/dev").read().count("eth"), os.environ["CHRON_HIVE"])
'''


class HarnessTest(harness.ScenarioTestCase):
    def test_hosts_talk_over_their_lan_only(self):
        lan, other = self.lab.lan(), self.lab.lan()
        a = self.lab.host("a", lans=[lan, other])
        b = self.lab.host("b", lans=[lan])
        c = self.lab.host("c", lans=[other])
        self.assertEqual(a.addresses(), ["10.213.1.1", "10.213.2.1"])
        echo = b.spawn([PY, "-c", UDP_ECHO, "123"])
        echo.wait_output("bound", 3)
        ask = a.run([PY, "-c", UDP_ASK, b.address, "123", a.address], timeout=5)
        self.assertEqual(ask.returncode, 0, ask.describe())
        self.assertEqual(ask.output().strip(), "pong ping 10.213.1.2")  # reply from b
        # c sits on the other LAN: b's address is not reachable from it.
        lost = c.run([PY, "-c", UDP_ASK, b.address, "123", c.address], timeout=5)
        self.assertNotEqual(lost.returncode, 0)
        # The machine's own namespace has none of these addresses.
        own = subprocess.run(["ip", "-o", "addr"], capture_output=True, text=True).stdout
        self.assertNotIn("10.213.1.1/24", own)

    def test_two_addresses_on_one_adapter(self):
        lan = self.lab.lan()
        host = self.lab.host("a")
        adapter = host.connect(lan, addresses=["10.213.1.7", "10.213.1.8"])
        shown = host.run(["ip", "-o", "-4", "addr", "show", "dev", adapter.ifname]).output()
        self.assertIn("10.213.1.7/24 brd 10.213.1.255", shown)
        self.assertIn("10.213.1.8/24 brd 10.213.1.255", shown)

    def test_syslog_and_notifications_reach_the_test(self):
        host = self.lab.host("a", lans=[self.lab.lan()])
        manager = self.lab.service_manager()
        process = host.spawn([PY, "-c", SYSLOG_AND_NOTIFY], manager=manager)
        self.assertEqual(process.wait(5), 0, process.describe())
        pid, adapters, hive = process.output().split()
        self.assertEqual(int(pid), process.pid)      # no wrapper process in between
        self.assertEqual(adapters, "1")
        self.assertEqual(hive, host.hive)
        first = host.syslog.wait_for("eins", 2)
        self.assertEqual((first.facility, first.severity), (harness.LOG_DAEMON, harness.LOG_ERR))
        self.assertEqual((first.identifier, first.pid), ("SNTP", process.pid))
        self.assertEqual(first.text, "[0xc1000011] Fehler für eins")
        self.assertEqual(first.event_ids, [0xc1000011])
        self.assertEqual(host.syslog.wait_for("zwei", 2).severity, harness.LOG_INFO)
        self.assertEqual(manager.wait_for("READY=1", 2).fields["STATUS"], "ok")
        self.assertFalse(os.path.exists("/dev/log") and os.path.islink("/dev/log")
                         and os.readlink("/dev/log") == host.syslog.path)

    def test_cleanup_removes_namespaces_and_processes(self):
        lab = harness.Lab()
        host = lab.host("a", lans=[lab.lan()])
        sleeper = host.spawn(["sleep", "30"])
        names = list(lab.namespaces)
        lab.cleanup()
        self.assertFalse(sleeper.alive())
        self.assertEqual(sleeper.returncode, -signal.SIGKILL)
        listed = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
        for name in names:
            self.assertNotIn(name, listed)
        self.assertFalse(os.path.exists(lab.dir))


class HiveTextTest(unittest.TestCase):
    def test_values_of_each_type(self):
        text = harness.hive_text(harness.product(
            {"Client\\Active": 1, "Client\\TimeSource": 'a\\b"c', "IPQueryType": "SNMP"},
            extra=harness.nt_bindings({"El90x1": ["10.0.0.1"]})))
        self.assertTrue(text.startswith("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbek\\SNTP\\1.01\\Client]\n"
                                        "\"Active\"=dword:00000001\n\"TimeSource\"=\"a\\\\b\\\"c\"\n"))
        self.assertIn("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbek\\SNTP\\1.01]\n\"IPQueryType\"=\"SNMP\"\n", text)
        # "\Device\El90x1" and the final zero, as hex(7) bytes.
        self.assertIn('"Bind"=hex(7):5c,44,65,76,69,63,65,5c,45,6c,39,30,78,31,00,00\n', text)
        self.assertIn("Services\\El90x1\\Parameters\\TCPIP]\n\"IpAddress\"=hex(7):31,30,2e", text)
        self.assertIn('"X"=hex(7):41\n', harness.hive_text({"K": {"X": harness.Raw(7, b"A")}}))


if __name__ == "__main__":
    unittest.main()
