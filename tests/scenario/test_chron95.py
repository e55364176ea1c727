"""chron95 as a process on test hosts: synchronisation by polling and by broadcast, the named
shutdown event (set from outside, already set at start, one per host), one instance per host,
the inactive client, client requests never answered, run-once, the Windows 95 registry method
of adapter discovery, the closing key wait and the detached normal mode."""

import os
import re
import signal
import subprocess
import time
import unittest

import harness
from texts import ALREADY, BROADCAST_CLIENT, ENDED, NO_ADAPTER, PREPARE, RUNNING, STARTED, STOP_DONE
from harness import product
from chron95_support import (chronstop, event_file, event_signalled, kill_all_in_host, nettrans,
                             ntp_peer, pids_in_host, remove_event_file, wait_holds_shutdown_event,
                             wait_no_pids)
from start_gate import StartGate

BANNER = re.compile(r"\A\nSNTP v4 Client für Windows 95 v1\.01\n[^\n]+\n[^\n]+\n\n")
PROMPT = "\n<Console wird mit jeder Taste geschlossen>\n"
NO_EVENT = "Die Funktion CreateEvent() meldet: "                                   # 0xc100001b

POLL_CLIENT = "SNTP-Client: Der SNTP Clientdienst wurde erfolgreich gestartet."  # 0x4100002c
TABLE_FULL = ("SNTP-Init: Die Netzwerkkarte <unbekannt> kann nicht für den SNTP Dienst verwendet "
              "werden, da bereits die maximale Anzahl vom 64 Netzwerkkarten vom SNTP Dienst "
              "verwaltet wird.")                                                 # 0xc100001c
STATUS_REFUSED = ("SNTP-Status: Die Statusdatei %s wird nicht geschrieben, da ihr Verzeichnis ohne "
                  "Sticky-Bit auch für andere Benutzer beschreibbar ist. Der SNTP Dienst läuft ohne "
                  "Statusdatei weiter.")                                         # 0x81000044
NETTRANS_MISSING = ("Registry Funktion RegKeyOpenEx() (SYSTEM\\CurrentControlSet\\Services\\Class\\"
                    "NetTrans) meldet Fehler: 2")                                # 0xc1000010


def refused(limit):                                                              # 0x4100002d
    return re.compile(r"SNTP-Client: Die Abbweichung der Systemzeit zum NTP Zeitserver beträgt "
                      r"\d+\.\d{3} Sekunde\(n\), erlaubt ist/sind aber nur %d Sekunde\(n\), "
                      r"Systemzeit wird nicht korregiert\.\n" % limit)


def found(address):
    return "SNTP-Init: Gerät [<unbekannt> (%s)] gefunden." % address


def adapter_ready(address):                                                      # 0x0100000e
    return "SNTP-Init: Der Netzwerkadapter <unbekannt> (%s) ist betriebsbereit." % address


def ignored(mode_text, address):
    return "SNTP-Network: NTP Nachricht: %s von %s wird ignoriert.\n" % (mode_text, address)


class Chron95Case(harness.ScenarioTestCase):
    def setUp(self):
        super().setUp()
        self.chron95 = harness.program("chron95")
        self.chronsvc = harness.program("chronsvc")
        self.addCleanup(self._clear_hosts)

    def _clear_hosts(self):
        # Runs before the lab is removed: daemons are not among the lab's processes, and the
        # event files are found by the inodes of the hosts' namespaces.
        for host in self.lab.hosts:
            kill_all_in_host(host, self.chron95)
            remove_event_file(host)

    def lan(self):
        return self.lab.lans[0] if self.lab.lans else self.lab.lan()

    def client_host(self, name="client", settings=None, extra=None, addresses=1, clock=0):
        host = self.lab.host(name, clock_offset=clock)
        if addresses:
            host.connect(self.lan(), addresses)
        host.write_hive(product(settings or {}, extra))
        return host

    def time_server(self, ahead, broadcast=0, interval=16):
        """chronsvc in debug mode as the time server of the LAN, `ahead` seconds ahead."""
        server = self.lab.host("server", lans=[self.lan()], clock_offset=ahead)
        server.write_hive(product({"Server\\Active": 1, "Server\\Broadcast": broadcast,
                                   "Server\\BroadcastInterval": interval, "Client\\Active": 0}))
        process = server.spawn([self.chronsvc, "-debug"])
        process.wait_output(RUNNING, 5)
        return server

    def start(self, host, args=("-debug",), stdin=None, timeout=5.0):
        """chron95 running in debug mode, its receive loop started and the event held."""
        process = host.spawn([self.chron95] + list(args), stdin=stdin)
        process.wait_output(RUNNING + "\n", timeout)
        wait_holds_shutdown_event(process.pid)
        return process

    def assertStoppedByRequest(self, process):
        """Exit 0; the stop request was handled, then the receive loop ended, then the prompt."""
        self.assertEqual(process.wait(3), 0, process.describe())
        out = process.output()
        self.assertIn(STOP_DONE + "\n", out)
        self.assertEqual(out.count(PROMPT), 1, out)
        before, after = out.split(PROMPT)
        # The receive loop's 0x41000018 follows the request's report and is the last line
        # before the prompt. The poll thread reports its own end too, before or after the
        # request's report, but always before the prompt, and nothing follows the prompt.
        self.assertTrue(before.endswith("\n" + ENDED + "\n"), out[-600:])
        self.assertLess(before.rindex(STOP_DONE), before.rindex(ENDED), out[-600:])
        self.assertEqual(after, "", out[-600:])
        return out

    def stop_by_event(self, host, process):
        """Sets the event from another process on `host`; returns seconds until chron95 ended."""
        setter = chronstop(host)
        self.assertEqual(setter.returncode, 0, setter.describe())
        set_at = time.monotonic()
        self.assertEqual(process.wait(3), 0, process.describe())
        return time.monotonic() - set_at


class SynchronisationTest(Chron95Case):
    def test_polls_server_sets_clock_and_stops_through_event_within_one_pass(self):
        server = self.time_server(ahead=30)
        client = self.client_host(settings={"Client\\Broadcast": 0,
                                            "Client\\TimeSource": server.address})
        process = self.start(client)
        out = process.wait_output("Zeitverzögerung durch Netzwerk", 5)
        self.assertRegex(out, BANNER)
        body = out[BANNER.match(out).end():]
        self.assertTrue(body.startswith(PREPARE + "\n"), body)
        self.assertNotIn("SNTP-Debug: Debugge", out)
        self.assertLess(out.index(POLL_CLIENT), out.index(STARTED))
        self.assertLess(out.index(STARTED), out.index(RUNNING))
        self.assertIn("SNTP-Client: NTP Anfrage an %s geschickt.\n" % server.address, out)
        self.assertRegex(out, r"SNTP-Client: Zeitabweichung zu %s beträgt (29\.9\d\d|30\.0\d\d) "
                         r"Sekunden\n" % re.escape(server.address))
        self.assertAlmostEqual(client.clock_offset(), 30.0, delta=0.1)
        self.assertEqual(client.syslog.entries(), [], "no log in debug mode")

        elapsed = self.stop_by_event(client, process)
        self.assertLess(elapsed, 1.0, process.describe())
        self.assertStoppedByRequest(process)
        self.assertAlmostEqual(client.clock_offset(), 30.0, delta=0.1)

    def test_accepts_broadcasts_and_sets_clock(self):
        server = self.time_server(ahead=-20, broadcast=1, interval=1)
        client = self.client_host()                       # Client\Broadcast defaults to 1
        process = self.start(client)
        out = process.wait_output("Zeitverzögerung durch Netzwerk", 4)
        self.assertIn(BROADCAST_CLIENT + "\n", out)
        self.assertNotIn(POLL_CLIENT, out)
        self.assertNotIn("NTP Anfrage", out)
        self.assertIn("SNTP-Client: NTP Broadcast von %s erhalten.\n" % server.address, out)
        self.assertAlmostEqual(client.clock_offset(), -20.0, delta=0.1)
        self.assertLess(self.stop_by_event(client, process), 1.0)
        self.assertStoppedByRequest(process)


class ShutdownEventTest(Chron95Case):
    def test_event_held_signalled_by_another_process_stops_right_after_start(self):
        host = self.client_host()
        holder = host.spawn([harness.program("chronstop"), "--hold-set", "10"], syslog=False)
        deadline = time.monotonic() + 3
        while not event_signalled(host):
            self.assertLess(time.monotonic(), deadline, holder.describe())
            time.sleep(0.02)
        began = time.monotonic()
        process = host.spawn([self.chron95, "-debug"])
        self.assertEqual(process.wait(3), 0, process.describe())
        self.assertLess(time.monotonic() - began, 2.0)
        out = self.assertStoppedByRequest(process)
        # The watcher starts as the last step of the start-up, after the client step, and does
        # not wait for the receive loop: its request may come before or after 0x41000016.
        self.assertLess(out.index(BROADCAST_CLIENT), out.index(STOP_DONE), out)
        self.assertIn(STARTED + "\n", out)
        self.assertEqual(out.count(STOP_DONE), 1, out)
        # Once the holder is gone the event is new again: the next chron95 keeps running.
        holder.kill()
        self.assertFalse(event_signalled(host))
        process = self.start(host)
        time.sleep(0.3)
        self.assertTrue(process.alive(), process.describe())
        self.assertNotIn(STOP_DONE, process.output())
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_ctrl_c_during_start_up_is_not_lost(self):
        # Ctrl+C arrives while start-up is held at its adapter discovery, before any socket.
        host = self.client_host()
        gate = StartGate(host, "chron95")
        process = host.spawn([self.chron95, "-debug"], env=gate.env)
        gate.wait_reached()
        process.signal(signal.SIGINT)
        process.wait_output(STOP_DONE, 3)
        gate.open()
        out = self.assertStoppedByRequest(process)
        self.assertEqual(out.count(STOP_DONE), 1, out)

    def test_anything_but_the_event_file_at_its_name_refuses_to_run(self):
        # Any local user can put these at the name; chron95 would then be unstoppable.
        host = self.client_host()
        path = event_file(host)
        makers = {"directory": os.mkdir, "FIFO": os.mkfifo,
                  "symbolic link": lambda p: os.symlink(p + ".target", p)}
        for kind, make in makers.items():
            make(path)
            try:
                process = host.spawn([self.chron95, "-debug"])
                self.assertEqual(process.wait(3), 1, process.describe())
                out = process.output()
                self.assertIn(NO_EVENT, out, kind)
                self.assertIn("(%s).\n" % path, out, kind)
                self.assertTrue(out.endswith(PROMPT), out)
                self.assertNotIn(PREPARE, out, kind)
                self.assertFalse(os.path.exists(path + ".target"), kind)
            finally:
                remove_event_file(host)
        # Normal mode says it in its message box (standard error and the log) and does not run.
        os.mkfifo(path)
        starter = host.spawn([self.chron95])
        self.assertEqual(starter.wait(3), 1, starter.describe())
        self.assertIn(NO_EVENT, starter.errors())
        self.assertTrue(wait_no_pids(host, self.chron95, 1.0))
        self.assertEqual(starter.output(), "")

    def test_same_event_name_on_another_host_is_another_event(self):
        a = self.client_host("a")
        b = self.client_host("b")
        on_a, on_b = self.start(a), self.start(b)
        self.assertLess(self.stop_by_event(b, on_b), 1.0)
        self.assertStoppedByRequest(on_b)
        time.sleep(0.3)
        self.assertTrue(on_a.alive(), on_a.describe())
        self.assertNotIn(STOP_DONE, on_a.output())
        self.assertFalse(event_signalled(a))
        self.assertLess(self.stop_by_event(a, on_a), 1.0)
        self.assertStoppedByRequest(on_a)

    def test_second_instance_reports_already_active_and_ends_with_183(self):
        host = self.client_host()
        first = self.start(host)
        second = host.spawn([self.chron95, "-debug"])
        self.assertEqual(second.wait(3), 183, second.describe())
        out = second.output()
        self.assertRegex(out, BANNER)
        self.assertTrue(out.endswith("\n" + ALREADY + "\n" + PROMPT), out)
        self.assertLess(out.index(PREPARE), out.index(ALREADY))
        self.assertNotIn(STARTED, out)
        self.assertNotIn(ENDED, out)
        # In normal mode the second one says it in the system log and by its exit status;
        # chronsvc is refused by the same mutex.
        quiet = host.spawn([self.chron95])
        self.assertEqual(quiet.wait(3), 183, quiet.describe())
        self.assertEqual((quiet.output(), quiet.errors()), ("", ""))
        host.syslog.wait_for(ALREADY)
        deadline = time.monotonic() + 2
        while pids_in_host(host, self.chron95) != [first.pid] and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertEqual(pids_in_host(host, self.chron95), [first.pid])
        service = host.spawn([self.chronsvc, "-debug"])
        self.assertEqual(service.wait(3), 183, service.describe())
        self.assertIn(ALREADY + "\n", service.output())
        self.assertTrue(first.alive())
        self.assertNotIn(STOP_DONE, first.output())
        self.stop_by_event(host, first)
        self.assertStoppedByRequest(first)


class ClientSettingsTest(Chron95Case):
    def test_inactive_client_idles_and_ignores_ntp_messages_until_stopped(self):
        host = self.client_host(settings={"Client\\Active": 0, "Client\\Broadcast": 0,
                                          "Client\\TimeSource": "10.213.1.77"})
        peer = self.lab.host("peer", lans=[self.lan()])
        process = self.start(host)
        answers = ntp_peer(peer, [(host.address, 4, 100), (host.address, 5, 100)], listen=0.5)
        self.assertEqual(answers, [])
        out = process.wait_output(ignored("5 (broadcast)", peer.address), 2)
        self.assertIn(ignored("4 (server)", peer.address), out)
        self.assertEqual([line for line in out.splitlines() if line.startswith("SNTP-Client:")], [],
                         out)
        self.assertEqual(host.clock_offset(), 0.0)
        self.assertTrue(process.alive())
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_client_request_is_never_answered_and_nothing_is_broadcast(self):
        # Server values in the hive mean nothing to chron95; a real server answers the same peer.
        host = self.client_host(settings={"Server\\Active": 1, "Server\\Broadcast": 1,
                                          "Server\\BroadcastInterval": 1})
        server = self.time_server(ahead=0)
        peer = self.lab.host("peer", lans=[self.lan()])
        process = self.start(host)
        arrived = ntp_peer(peer, [(host.address, 3, 0), (server.address, 3, 0)], listen=1.5)
        self.assertEqual(arrived, [(server.address, 4, 48)])
        out = process.wait_output(ignored("3 (client)", peer.address), 2)
        self.assertIn("SNTP-Network: NTP Nachricht 3 mit 48 Bytes von %s erhalten.\n" % peer.address,
                      out)
        self.assertNotIn("SNTP-Server", out)
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_run_once_ends_after_first_setting(self):
        server = self.time_server(ahead=30)
        host = self.client_host(settings={"Client\\Broadcast": 0, "Client\\TimeSource": server.address,
                                          "Client\\PollInterval": 1, "Client\\RunOnce": 1,
                                          "Client\\MaxDiffSecondActive": 1,
                                          "Client\\MaxDiffSecond": 60})
        process = host.spawn([self.chron95, "-debug"])
        self.assertEqual(process.wait(4), 0, process.describe())
        out = self.assertStoppedByRequest(process)
        self.assertEqual(out.count("SNTP-Client: Zeitabweichung zu"), 1, out)
        self.assertLess(out.index("Zeitverzögerung durch Netzwerk"), out.index(STOP_DONE))
        self.assertAlmostEqual(host.clock_offset(), 30.0, delta=0.1)

    def test_run_once_keeps_running_after_refused_setting(self):
        server = self.time_server(ahead=30)
        host = self.client_host(settings={"Client\\Broadcast": 0, "Client\\TimeSource": server.address,
                                          "Client\\PollInterval": 1, "Client\\RunOnce": 1,
                                          "Client\\MaxDiffSecondActive": 1,
                                          "Client\\MaxDiffSecond": 5})
        process = self.start(host)
        # Two polls a second apart, both refused: still running, clock untouched.
        deadline = time.monotonic() + 4
        while len(refused(5).findall(process.output())) < 2 and time.monotonic() < deadline:
            time.sleep(0.05)
        out = process.output()
        self.assertEqual(len(refused(5).findall(out)), 2, process.describe())
        self.assertTrue(process.alive())
        self.assertNotIn(STOP_DONE, out)
        self.assertEqual(host.clock_offset(), 0.0)
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)


class StatusFileTest(Chron95Case):
    def test_status_file_never_follows_a_link_planted_in_its_folder(self):
        """Another user plants a link at the status file's name, leading to a root-only file: a
        folder as /tmp (root's, sticky) gets the status file in the link's place; one without the
        sticky bit is refused, told once, and chron95 runs on without a status file."""
        server = self.time_server(ahead=30)
        host = self.client_host(settings={"Client\\Broadcast": 0, "Client\\TimeSource": server.address,
                                          "Client\\PollInterval": 1})
        victim = os.path.join(host.dir, "victim")
        for label, mode, written in (("sticky", 0o1777, True), ("not sticky", 0o777, False)):
            with self.subTest(label):
                with open(victim, "w") as handle:
                    handle.write("secret")
                os.chmod(victim, 0o600)
                folder = os.path.join(host.dir, "shared-" + label.replace(" ", "-"))
                os.mkdir(folder)
                os.chmod(folder, mode)
                status = os.path.join(folder, "status.json")
                os.symlink(victim, status)
                os.lchown(status, 65534, 65534)
                process = host.spawn([self.chron95, "-debug"], env={"CHRON_STATUS": status})
                process.wait_output(RUNNING + "\n")
                wait_holds_shutdown_event(process.pid)
                # Three samples: three more writes after the first at the start.
                deadline = time.monotonic() + 6
                while process.output().count("SNTP-Client: Zeitabweichung zu") < 3 and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.stop_by_event(host, process)
                out = self.assertStoppedByRequest(process)
                self.assertGreaterEqual(out.count("SNTP-Client: Zeitabweichung zu"), 3, out)
                with open(victim) as handle:
                    self.assertEqual(handle.read(), "secret")
                self.assertEqual(os.path.islink(status), not written)
                self.assertEqual(out.count(STATUS_REFUSED % status), 0 if written else 1, out)
                if written:
                    with open(status) as handle:
                        self.assertIn('"program"', handle.read())


class Win95RegistryMethodTest(Chron95Case):
    def registry_host(self, subkeys, addresses, described=True):
        return self.client_host(settings={"IPQueryType": "registry"},
                                extra=nettrans(subkeys, described), addresses=addresses)

    def discovery(self, out):
        return [line for line in out.splitlines()
                if "Gerät" in line or "Netzwerkadapter" in line or "Netzwerkkarte" in line]

    def bound(self, host):
        """Local addresses with a UDP socket on port 123 (without the broadcast receivers)."""
        listing = host.run(["ss", "-H", "-uln"], syslog=False).output()
        found = re.findall(r"(\d+\.\d+\.\d+\.\d+|\*)(?:%\S+)?:123\b", listing)
        return sorted(set("0.0.0.0" if a == "*" else a for a in found)
                      - {"255.255.255.255", "10.213.1.255", "10.213.2.255"})

    def test_one_address_per_subkey_in_enumeration_order(self):
        lan2 = self.lab.lan()
        host = self.registry_host([
            ("0003", "10.213.1.1"),           # written first, enumerated fourth
            ("0000", "10.213.2.1"),
            ("0001", None),                   # no IPAddress: nothing, no message
            ("0002", "255.255.255.255"),      # the parser's INADDR_NONE: nothing
            ("0004", "kein Ort"),
            ("0005", "127.0.0.1"),            # loopback is kept
            ("0006", "0.0.0.0"),              # the wildcard is kept
        ], addresses=["10.213.1.1"])
        host.connect(lan2, ["10.213.2.1"])
        process = self.start(host)
        out = process.output()
        order = ["10.213.2.1", "10.213.1.1", "127.0.0.1", "0.0.0.0"]
        self.assertEqual(self.discovery(out),
                         [found(a) for a in order] + [adapter_ready(a) for a in order], out)
        self.assertEqual(self.bound(host), ["0.0.0.0", "10.213.1.1", "10.213.2.1", "127.0.0.1"])
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_more_than_64_addresses_are_reported_and_not_used(self):
        addresses = ["10.213.1.%d" % n for n in range(1, 65)]
        subkeys = [("%04d" % i, a) for i, a in enumerate(addresses + ["10.213.1.65", "10.213.1.66"])]
        host = self.registry_host(subkeys, addresses=addresses)
        process = self.start(host)
        lines = self.discovery(process.output())
        self.assertEqual(lines, [found(a) for a in addresses] + [TABLE_FULL, TABLE_FULL] +
                         [adapter_ready(a) for a in addresses], process.output())
        self.assertEqual(len(self.bound(host)), 64)
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_enumeration_ends_after_index_511(self):
        subkeys = [("%04d" % i, None) for i in range(513)]
        subkeys[0] = ("0000", "10.213.1.1")
        subkeys[512] = ("0512", "10.213.1.2")
        host = self.registry_host(subkeys, addresses=["10.213.1.1", "10.213.1.2"], described=False)
        # The hive file is read anew for every registry call: about 1500 reads of 40 KB here,
        # over a second in an optimised build and several in an unoptimised one.
        process = self.start(host, timeout=20)
        self.assertEqual(self.discovery(process.output()),
                         [found("10.213.1.1"), adapter_ready("10.213.1.1")])
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_missing_key_is_reported_and_start_fails(self):
        host = self.client_host(settings={"IPQueryType": "REGISTRY"})
        process = host.spawn([self.chron95, "-debug"])
        self.assertNotEqual(process.wait(3), 0, process.describe())
        out = process.output()
        self.assertTrue(out.endswith(NETTRANS_MISSING + "\n" + NO_ADAPTER + "\n" + PROMPT), out)
        self.assertNotIn("Netzwerkadapter", out)


class ConsoleTest(Chron95Case):
    """The closing key wait, on a host whose start fails at once (loopback only)."""

    def test_without_terminal_ends_without_waiting(self):
        host = self.client_host(addresses=0)
        for label, stdin in (("/dev/null", None), ("open pipe", subprocess.PIPE)):
            with self.subTest(label):
                process = host.spawn([self.chron95, "-debug"], stdin=stdin)
                try:
                    self.assertNotEqual(process.wait(3), 0, process.describe())
                finally:
                    if process.popen.stdin:
                        process.popen.stdin.close()
                self.assertTrue(process.output().endswith(NO_ADAPTER + "\n" + PROMPT),
                                process.output())

    def test_terminal_waits_for_one_key(self):
        host = self.client_host(addresses=0)
        master, slave = os.openpty()
        try:
            process = host.spawn([self.chron95, "-debug"], stdin=slave)
            os.close(slave)
            slave = None
            process.wait_output(PROMPT, 3)
            time.sleep(0.5)
            self.assertTrue(process.alive(), "ended without a key:\n" + process.describe())
            os.write(master, b"x")
            self.assertNotEqual(process.wait(2), 0, process.describe())
        finally:
            if slave is not None:
                os.close(slave)
            os.close(master)

    def test_switch_anywhere_in_any_case_and_nothing_said_about_other_text(self):
        host = self.client_host(addresses=0)
        for args in (["--foo", "x-DeBuGx"], ["-DEBUG", "bar"]):
            with self.subTest(args):
                process = host.run([self.chron95] + args, timeout=3)
                self.assertNotEqual(process.returncode, 0, process.describe())  # no adapter
                out = process.output()
                self.assertRegex(out, BANNER)
                self.assertEqual(out[BANNER.match(out).end():].splitlines()[0], PREPARE, out)
                self.assertNotIn("Parameter", out + process.errors())


class NormalModeTest(Chron95Case):
    def test_detaches_silently_and_the_daemon_stops_through_event(self):
        host = self.client_host()
        began = time.monotonic()
        starter = host.spawn([self.chron95])
        self.assertEqual(starter.wait(2), 0, starter.describe())
        self.assertLess(time.monotonic() - began, 1.5)
        daemons = pids_in_host(host, self.chron95)
        self.assertEqual(len(daemons), 1, daemons)
        self.assertNotEqual(daemons[0], starter.pid)
        wait_holds_shutdown_event(daemons[0])
        # Running: the instance mutex refuses a debug instance.
        refused_debug = host.run([self.chron95, "-debug"], timeout=3)
        self.assertIn(ALREADY + "\n", refused_debug.output())
        self.assertEqual(chronstop(host).returncode, 0)
        self.assertTrue(wait_no_pids(host, self.chron95, 1.0),
                        "daemon still running: %r" % pids_in_host(host, self.chron95))
        self.assertEqual((starter.output(), starter.errors()), ("", ""))
        self.assertTrue(host.syslog.find(STARTED), "the reports go to the system log")
        # The instance name is free again and the event new: a new instance runs.
        process = self.start(host)
        time.sleep(0.2)
        self.assertTrue(process.alive(), process.describe())
        self.stop_by_event(host, process)
        self.assertStoppedByRequest(process)

    def test_foreground_returns_only_once_the_daemon_holds_the_event(self):
        # The daemon is held at its adapter discovery, before the shutdown watcher starts: a
        # stop set as soon as the foreground process has returned must still reach it.
        host = self.client_host()
        gate = StartGate(host, "chron95")
        starter = host.spawn([self.chron95], env=gate.env)
        gate.wait_reached()
        self.assertEqual(chronstop(host).returncode, 0)
        gate.open()
        self.assertEqual(starter.wait(3), 0, starter.describe())
        self.assertTrue(wait_no_pids(host, self.chron95, 2.0),
                        "the stop was lost: %r still running" % pids_in_host(host, self.chron95))

    def test_wait_for_network_returns_at_once_and_the_event_ends_the_wait(self):
        host = self.client_host(addresses=0, settings={"WaitForNetwork": 1})  # loopback only
        starter = host.spawn([self.chron95])
        self.assertEqual(starter.wait(3), 0, starter.describe())
        host.syslog.wait_for(NO_ADAPTER)
        daemons = pids_in_host(host, self.chron95)
        self.assertEqual(len(daemons), 1, daemons)
        wait_holds_shutdown_event(daemons[0])
        self.assertEqual(chronstop(host).returncode, 0)
        self.assertTrue(wait_no_pids(host, self.chron95, 1.0),
                        "still waiting: %r" % pids_in_host(host, self.chron95))
        self.assertEqual(len(host.syslog.find(NO_ADAPTER)), 1)

    def test_bare_word_is_normal_mode_and_a_failed_start_is_told(self):
        host = self.client_host(addresses=0)              # loopback only: the start fails
        starter = host.spawn([self.chron95, "debug"])
        self.assertNotEqual(starter.wait(2), 0, starter.describe())
        self.assertTrue(wait_no_pids(host, self.chron95, 2.0))
        self.assertEqual((starter.output(), starter.errors()), ("", ""))
        host.syslog.wait_for(NO_ADAPTER)


if __name__ == "__main__":
    unittest.main()
