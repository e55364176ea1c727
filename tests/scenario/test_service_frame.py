"""chronsvc as a process: start-up under the service manager, stop handshake, debug mode,
one instance per machine, adapter discovery by the interface table and by pinned registry keys."""

import re
import signal
import time
import unittest

import harness
from start_gate import StartGate
from texts import ALREADY, BROADCAST_CLIENT, ENDED, NO_ADAPTER, PREPARE, RUNNING, STARTED, STOP_DONE
from harness import LOG_ERR, LOG_INFO, LOG_WARNING, Raw, nt_bindings, product

BANNER = re.compile(r"\A\nSNTP v4 Client/Server für Windows NT v1\.01\n[^\n]+\n[^\n]+\n\n")
DEBUGGING = "SNTP-Debug: Debugge Simple Network Time Protocol.\n"
STOPPING = "SNTP-Control: Stoppe Simple Network Time Protocol.\n"

UNKNOWN_CONTROL = "Ein unbekannter Opcode wurde an der Service-Control-Handler übergeben !"  # 0xc100000c
NO_DISPATCHER = "Der Service-Dispatcher konnte nicht gestartet werden ! Grund: "  # 0xc1000002

# Event identifiers the entries are logged under, by severity.
LOGGED_SUCCESS, LOGGED_INFO, LOGGED_WARNING, LOGGED_ERROR = (
    0x01000013, 0x41000014, 0x81000012, 0xc1000011)

DEVICES = "SYSTEM\\CurrentControlSet\\Services\\"


def adapter_ready(name, address):                                                # 0x0100000e
    return "SNTP-Init: Der Netzwerkadapter %s (%s) ist betriebsbereit." % (name, address)


class ServiceFrameCase(harness.ScenarioTestCase):
    def setUp(self):
        super().setUp()
        self.chronsvc = harness.program("chronsvc")

    def lan_host(self, name="a", addresses=1, settings=None, extra=None):
        host = self.lab.host(name)
        host.connect(self.lab.lan() if not self.lab.lans else self.lab.lans[0], addresses)
        host.write_hive(product(settings or {}, extra))
        return host

    def entry(self, host, message, pid):
        """The one syslog entry of `pid` whose text is exactly `message` (after its id)."""
        found = [e for e in host.syslog.entries(pid) if e.message == message]
        self.assertEqual(len(found), 1, "%r once in %r" % (message, host.syslog.entries()))
        return found[0]

    def assertLogged(self, host, message, pid, logged_id, severity, timeout=3.0):
        host.syslog.wait_for(message, timeout, pid)
        entry = self.entry(host, message, pid)
        self.assertEqual((entry.identifier, entry.facility, entry.severity, entry.event_id),
                         ("SNTP", harness.LOG_DAEMON, severity, logged_id), repr(entry))
        return entry

    def bound_udp(self, host):
        """Local unicast addresses with a UDP socket on port 123 in the host (the receive-only
        sockets on broadcast addresses are left out)."""
        listing = host.run(["ss", "-H", "-uln"], syslog=False).output()
        found = re.findall(r"(\d+\.\d+\.\d+\.\d+|\*)(?:%\S+)?:123\b", listing)
        return sorted(set(a for a in found if not a.endswith(".255")))

    def start_to_ready(self, host, args=()):
        service = host.start_service("chronsvc", args)
        service.manager.wait_for("READY=1", 5)
        host.syslog.wait_for(RUNNING, 3, service.pid)
        return service

    def stop(self, service):
        sent = time.time()
        service.signal(signal.SIGTERM)
        final = service.manager.wait_for_key("ERRNO", 5)
        self.assertEqual(service.wait(5), 0, service.describe())
        return sent, final


class ServiceModeTest(ServiceFrameCase):
    def test_start_reaches_ready_and_sigterm_stops_with_handshake(self):
        host = self.lan_host()
        service = self.start_to_ready(host)
        pid = service.pid
        self.assertRegex(service.output(), BANNER)
        first = self.assertLogged(host, PREPARE, pid, LOGGED_INFO, LOG_INFO)
        adapter = self.assertLogged(host, adapter_ready("<unbekannt>", host.address), pid,
                                    LOGGED_SUCCESS, LOG_INFO)
        self.assertLogged(host, BROADCAST_CLIENT, pid, LOGGED_INFO, LOG_INFO)
        started = self.assertLogged(host, STARTED, pid, LOGGED_INFO, LOG_INFO)
        running = self.assertLogged(host, RUNNING, pid, LOGGED_INFO, LOG_INFO)
        ready = service.manager.wait_for("READY=1")
        self.assertLess(first.time, adapter.time)
        self.assertLess(adapter.time, started.time)
        self.assertLess(started.time, ready.time)         # running is reported after start-up ...
        self.assertLess(ready.time, running.time)         # ... and before the receive loop runs
        before_ready = [n for n in service.manager.notifications() if n.time < ready.time]
        self.assertFalse([n for n in before_ready if "ERRNO" in n.fields or "STOPPING" in n.fields],
                         before_ready)
        self.assertEqual(self.bound_udp(host), [host.address])
        self.assertEqual(service.output().count("\n"), 5, "nothing but the banner on stdout in "
                         "service mode: %r" % service.output())

        sent, final = self.stop(service)
        self.assertEqual(final.fields.get("ERRNO"), "0")
        stop_done = self.assertLogged(host, STOP_DONE, pid, LOGGED_INFO, LOG_INFO)
        ended = self.assertLogged(host, ENDED, pid, LOGGED_INFO, LOG_INFO)
        self.assertLess(stop_done.time, ended.time)
        after = [n for n in service.manager.notifications() if n.time > ready.time]
        self.assertIs(after[-1], final, after)
        self.assertNotIn("READY", "".join(n.text for n in after))
        pending = after[:-1]
        # Stop pending is reported only after a 250 ms wait, then every 250 ms, each with the
        # wait hint of 500 ms as extension.
        for number, notification in enumerate(pending):
            self.assertEqual(notification.fields.get("STOPPING"), "1", notification)
            self.assertGreaterEqual(int(notification.fields.get("EXTEND_TIMEOUT_USEC", "0")), 500000,
                                    notification)
            self.assertGreater(notification.time - sent, 0.2 + 0.24 * number, pending)
        self.assertLess(final.time - sent, 1.5, "stop took too long: %r" % after)

    def test_slow_stop_reports_checkpoints_every_250_ms(self):
        # The poll thread is held up in a name look-up that nobody answers (2 s), so the stop
        # has to wait for it with stop-pending checkpoints.
        host = self.lan_host(settings={"Client\\Broadcast": 0, "Client\\TimeSource": "zeit.test",
                                       "Client\\PollInterval": 64})
        host.set_names({}, nameserver="10.213.1.99", timeout=2)
        service = self.start_to_ready(host)
        ready = service.manager.wait_for("READY=1")
        sent, final = self.stop(service)
        self.assertEqual(final.fields["ERRNO"], "0")
        pending = [n for n in service.manager.notifications() if n.time > ready.time][:-1]
        self.assertGreaterEqual(len(pending), 2, service.manager.notifications())
        previous = sent
        for notification in pending:
            self.assertEqual(notification.fields.get("STOPPING"), "1", notification)
            self.assertNotIn("ERRNO", notification.fields)
            self.assertGreaterEqual(int(notification.fields["EXTEND_TIMEOUT_USEC"]), 500000)
            self.assertGreater(notification.time - previous, 0.2, pending)
            self.assertLess(notification.time - previous, 0.5, pending)
            previous = notification.time
        self.assertLess(final.time - previous, 0.5, pending + [final])
        host.syslog.wait_for("SNTP-Client: Beim Versuch die IP-Adresse des (S)NTP Server (zeit.test)",
                             1, service.pid)
        self.assertLess(host.syslog.index_of(STOP_DONE, service.pid),
                        host.syslog.index_of(ENDED, service.pid))

    def test_stop_during_start_up_never_reports_running(self):
        # The stop arrives while start-up is held at its adapter discovery.
        host = self.lan_host()
        gate = StartGate(host, "chronsvc")
        service = host.start_service("chronsvc", env=gate.env)
        gate.wait_reached()
        service.signal(signal.SIGTERM)
        service.manager.wait_for("STOPPING=1", 3)   # the stop is being handled
        gate.open()
        self.assertEqual(service.wait(5), 0, service.describe())
        notifications = service.manager.notifications()
        self.assertNotIn("READY=1", service.manager.assignments(), notifications)
        self.assertEqual(len([n for n in notifications if "ERRNO" in n.fields]), 1, notifications)
        self.assertEqual(notifications[-1].fields.get("ERRNO"), "0", notifications)
        host.syslog.wait_for(STOP_DONE, 3, service.pid)
        self.assertEqual(host.syslog.find(RUNNING, service.pid), [])

    def test_stop_whose_wake_up_datagram_fails_still_ends_at_once(self):
        # The adapter's address vanishes: the zero-length datagram cannot be sent any more.
        host = self.lan_host()
        service = self.start_to_ready(host)
        adapter = host.adapters[0]
        host.run(["ip", "addr", "del", host.address + "/24", "dev", adapter.ifname], syslog=False)
        sent, final = self.stop(service)
        self.assertEqual(final.fields["ERRNO"], "0")
        self.assertLess(final.time - sent, 1.5, service.manager.notifications())
        not_sent = host.syslog.wait_for("SNTP-Shutdown: Kann Shutdownpaket nicht senden, Grund: ",
                                        3, service.pid)
        self.assertEqual(not_sent.severity, LOG_ERR)
        host.syslog.wait_for(ENDED, 3, service.pid)

    def test_interrogate_resends_status_and_unknown_control_is_reported(self):
        host = self.lan_host()
        service = self.start_to_ready(host)
        service.signal(signal.SIGUSR1)                      # interrogate
        deadline = time.time() + 3
        while time.time() < deadline and service.manager.assignments().count("READY=1") < 2:
            time.sleep(0.02)
        self.assertEqual(service.manager.assignments().count("READY=1"), 2,
                         service.manager.assignments())
        service.signal(signal.SIGHUP)                       # a control code the service lacks
        self.assertLogged(host, UNKNOWN_CONTROL, service.pid, LOGGED_ERROR, LOG_ERR)
        time.sleep(0.2)
        self.assertTrue(service.alive(), service.describe())
        self.assertNotIn("ERRNO", "".join(service.manager.assignments()))
        _, final = self.stop(service)
        self.assertEqual(final.fields["ERRNO"], "0")

    def test_second_instance_on_same_host_refused_first_unharmed(self):
        lan = self.lab.lan()
        host = self.lab.host("a", lans=[lan])
        other = self.lab.host("b", lans=[lan])
        first = self.start_to_ready(host)
        second = host.start_service("chronsvc")
        self.assertEqual(second.wait(5), 183, second.describe())
        self.assertEqual(second.manager.wait_for_key("ERRNO").fields["ERRNO"], "183")
        self.assertNotIn("READY=1", second.manager.assignments())
        self.assertLogged(host, PREPARE, second.pid, LOGGED_INFO, LOG_INFO)
        self.assertLogged(host, ALREADY, second.pid, LOGGED_WARNING, LOG_WARNING)
        self.assertEqual(host.syslog.find("betriebsbereit", second.pid), [])
        # A debug-mode instance is refused the same way and ends with the same status.
        debug = host.spawn([self.chronsvc, "-debug"])
        self.assertEqual(debug.wait(5), 183, debug.describe())
        self.assertIn(ALREADY + "\n", debug.output())
        self.assertNotIn(RUNNING, debug.output())
        # Another machine runs its own instance meanwhile.
        elsewhere = self.start_to_ready(other)
        self.assertEqual(self.bound_udp(other), [other.address])
        # The first is still bound, running and stops normally; then the name is free again.
        self.assertTrue(first.alive())
        self.assertEqual(self.bound_udp(host), [host.address])
        self.assertEqual(first.manager.assignments().count("ERRNO=0"), 0)
        self.assertEqual(self.stop(first)[1].fields["ERRNO"], "0")
        self.assertEqual(self.stop(elsewhere)[1].fields["ERRNO"], "0")
        third = self.start_to_ready(host)
        self.stop(third)

    def test_killed_instance_leaves_nothing_that_blocks_the_next(self):
        host = self.lan_host()
        first = self.start_to_ready(host)
        first.signal(signal.SIGKILL)
        first.wait(3)
        self.stop(self.start_to_ready(host))

    def test_host_with_loopback_only_ends_with_55(self):
        host = self.lab.host("lonely")
        service = host.start_service("chronsvc")
        self.assertEqual(service.wait(5), 55, service.describe())
        self.assertEqual(service.manager.wait_for_key("ERRNO").fields["ERRNO"], "55")
        self.assertNotIn("READY=1", service.manager.assignments())
        self.assertLogged(host, NO_ADAPTER, service.pid, LOGGED_ERROR, LOG_ERR)
        self.assertEqual(host.syslog.find("betriebsbereit", service.pid), [])
        # In the foreground the refused start is no success either.
        debug = host.spawn([self.chronsvc, "-debug"])
        self.assertEqual(debug.wait(5), 55, debug.describe())

    def test_wait_for_network_reports_ready_then_binds_the_address_that_comes(self):
        host = self.lab.host("late")
        host.write_hive(product({"WaitForNetwork": 1}))
        service = host.start_service("chronsvc")
        service.manager.wait_for("READY=1", 5)
        self.assertLogged(host, NO_ADAPTER, service.pid, LOGGED_ERROR, LOG_ERR)
        self.assertTrue(service.alive(), service.describe())
        adapter = host.connect(self.lab.lan())
        address = adapter.addresses[0]
        # The address change is told by the system; without it the next look is within 5 s.
        self.assertLogged(host, adapter_ready("<unbekannt>", address), service.pid, LOGGED_SUCCESS, LOG_INFO,
                          timeout=3.0)
        host.syslog.wait_for(RUNNING, 3, service.pid)
        self.assertEqual(self.bound_udp(host), [address])
        self.assertEqual(len(host.syslog.find(NO_ADAPTER, service.pid)), 1)
        self.stop(service)

    def test_wait_for_network_ends_at_once_on_sigterm(self):
        host = self.lab.host("waiting")
        host.write_hive(product({"WaitForNetwork": 1}))
        service = host.start_service("chronsvc")
        service.manager.wait_for("READY=1", 5)
        service.manager.wait_for("STATUS=Wartet auf eine Netzwerkadresse", 5)
        sent, final = self.stop(service)
        self.assertLess(final.time - sent, 1.0)
        self.assertEqual(final.fields["ERRNO"], "0")

    def test_unknown_ip_query_type_reported_then_55(self):
        host = self.lan_host(settings={"IPQueryType": "WINS"})
        service = host.start_service("chronsvc")
        self.assertEqual(service.wait(5), 55, service.describe())
        self.assertEqual(service.manager.wait_for_key("ERRNO").fields["ERRNO"], "55")
        bogus = self.assertLogged(
            host, "SNTP-Init: Der Wert von IPQueryType (WINS) in der Registry ist fehlerhaft ! "
            "Erlaubt sind die Wert SNMP und Registry.", service.pid, LOGGED_ERROR, LOG_ERR)
        none = self.assertLogged(host, NO_ADAPTER, service.pid, LOGGED_ERROR, LOG_ERR)
        self.assertLess(bogus.time, none.time)
        self.assertEqual(host.syslog.find("betriebsbereit", service.pid), [])

    def test_adapter_with_two_addresses_gives_two_entries_of_one_name(self):
        host = self.lan_host(addresses=["10.213.1.20", "10.213.1.9"])
        service = self.start_to_ready(host)
        ready = [e.message for e in host.syslog.entries(service.pid)
                 if e.message.startswith("SNTP-Init: Der Netzwerkadapter")]
        # The interface table comes in ascending address order.
        self.assertEqual(ready, [adapter_ready("<unbekannt>", "10.213.1.9"),
                                 adapter_ready("<unbekannt>", "10.213.1.20")])
        self.assertEqual(self.bound_udp(host), ["10.213.1.20", "10.213.1.9"])
        self.stop(service)

    def test_registry_bindings_missing_reported_then_55(self):
        host = self.lan_host(settings={"IPQueryType": "REGISTRY"})
        service = host.start_service("chronsvc")
        self.assertEqual(service.wait(5), 55, service.describe())
        opened = self.assertLogged(
            host, "Registry Funktion RegKeyOpenEx() (SYSTEM\\CurrentControlSet\\Services\\TCPIP\\"
            "Linkage) meldet Fehler: 2", service.pid, LOGGED_ERROR, LOG_ERR)
        none = self.assertLogged(host, NO_ADAPTER, service.pid, LOGGED_ERROR, LOG_ERR)
        self.assertLess(opened.time, none.time)


class RegistryMethodTest(ServiceFrameCase):
    """IPQueryType "REGISTRY": the addresses pinned in the Windows NT binding keys."""

    def pinned_host(self, bind=None):
        lans = [self.lab.lan(), self.lab.lan()]
        host = self.lab.host("pinned")
        host.connect(lans[0], ["10.213.1.1", "10.213.1.5"])  # .5 is not pinned
        host.connect(lans[1], ["10.213.2.1"])
        keys = nt_bindings({"El90x1": ["10.213.1.1"], "Elnk3x12": ["kein.ort", "10.213.2.1"]},
                           bind=bind if bind is not None else
                           ["\\Device\\El90x1", "\\Device\\NdisWan5", "\\Device\\Elnk3x12",
                            "\\Device\\Missing1"])
        # Compared after trimming, ignoring case.
        host.write_hive(product({"IPQueryType": " registry\t"}, keys))
        return host

    def test_pinned_addresses_dial_up_and_missing_adapter(self):
        host = self.pinned_host()
        debug = host.spawn([self.chronsvc, "-debug"])
        out = debug.wait_output(RUNNING, 5)
        expected = [
            "SNTP-Init: Teste Gerät [El90x1]...",
            "SNTP-Init: Gerät [El90x1 (10.213.1.1)] gefunden.",      # six letters keep their case
            "SNTP-Init: Teste Gerät [NdisWan5]...",
            "SNTP-Init: Gerät [NDISWAN5] wird ignoriert, da kein LAN Adapter.",
            "SNTP-Init: Teste Gerät [Elnk3x12]...",
            "SNTP-Init: Gerät [ELNK3X12 (10.213.2.1)] gefunden.",    # seven or more: upper case
            "SNTP-Init: Teste Gerät [Missing1]...",
            "SNTP-Init: Gerät [MISSING1] wird ignoriert, weil es keine Netzwerkkarte ist.",
            adapter_ready("El90x1", "10.213.1.1"),
            adapter_ready("ELNK3X12", "10.213.2.1"),
        ]
        lines = [line for line in out.splitlines() if "Gerät" in line or "Netzwerkadapter" in line]
        self.assertEqual(lines, expected, out)
        self.assertEqual(self.bound_udp(host), ["10.213.1.1", "10.213.2.1"])
        debug.signal(signal.SIGINT)
        self.assertEqual(debug.wait(5), 0, debug.describe())

    def test_pinned_addresses_under_the_service_manager(self):
        host = self.pinned_host()
        service = self.start_to_ready(host)
        ready = [e.message for e in host.syslog.entries(service.pid) if "Netzwerkadapter" in e.message]
        self.assertEqual(ready, [adapter_ready("El90x1", "10.213.1.1"),
                                 adapter_ready("ELNK3X12", "10.213.2.1")])
        self.assertEqual(host.syslog.find("Gerät", service.pid), [], "trace only in debug mode")
        self.stop(service)

    def test_damaged_bind_values_stop_the_walk_cleanly(self):
        cases = {
            # The last element is shorter than its eight-character prefix and unterminated.
            "short tail": Raw(7, b"\\Device\\El90x1\0\\Dev"),
            # An element shorter than the prefix, then a missing final terminator.
            "short element": Raw(7, b"\\Device\\El90x1\0\\D\0\\Device\\Elnk3x12"),
            # No terminator at all.
            "unterminated": Raw(7, b"\\Device\\El90x1"),
            # Only part of a prefix.
            "prefix only": Raw(7, b"\\Devi"),
        }
        for label, bind in cases.items():
            with self.subTest(label):
                self.lab.cleanup()
                self.lab = harness.Lab()       # the pinned addresses need a fresh lab each
                host = self.pinned_host(bind)
                debug = host.spawn([self.chronsvc, "-debug"])
                deadline = time.time() + 5
                while debug.alive() and RUNNING not in debug.output() and time.time() < deadline:
                    time.sleep(0.02)
                debug.signal(signal.SIGINT)
                # No adapter left: the start is refused with 55.
                self.assertEqual(debug.wait(5), 55 if label == "prefix only" else 0, debug.describe())
                out = debug.output()
                tested = re.findall(r"SNTP-Init: Teste Gerät \[([^\]]*)\]\.\.\.", out)
                # Nothing is taken from past the data: only names whose bytes were given.
                self.assertEqual([name for name in tested if name not in ("El90x1", "Elnk3x12")],
                                 [], "names taken across an element's end:\n" + out)
                if label in ("short tail", "short element"):
                    self.assertEqual(tested[0], "El90x1", out)
                    self.assertIn("SNTP-Init: Gerät [El90x1 (10.213.1.1)] gefunden.", out)
                    self.assertIn(RUNNING, out)
                if label == "prefix only":
                    self.assertEqual(tested, [], out)
                    self.assertIn(NO_ADAPTER + "\n", out)


class DebugModeTest(ServiceFrameCase):
    def run_in_foreground(self, word, stop_signal):
        host = self.lan_host()
        manager = self.lab.service_manager()   # present, but debug mode never reports a status
        debug = host.spawn([self.chronsvc, word], manager=manager)
        out = debug.wait_output(RUNNING + "\n", 5)
        self.assertRegex(out, BANNER)
        body = out[BANNER.match(out).end():]
        self.assertTrue(body.startswith(DEBUGGING), body)
        self.assertLess(body.index(PREPARE + "\n"), body.index(adapter_ready("<unbekannt>", host.address)))
        self.assertIn(adapter_ready("<unbekannt>", host.address) + "\n", body)
        self.assertLess(body.index(STARTED), body.index(RUNNING))
        self.assertEqual(self.bound_udp(host), [host.address])
        debug.signal(stop_signal)
        self.assertEqual(debug.wait(5), 0, debug.describe())
        out = debug.output()
        tail = out[out.index(RUNNING):]
        self.assertLess(tail.index(STOPPING), tail.index(STOP_DONE + "\n"))
        self.assertLess(tail.index(STOP_DONE), tail.index(ENDED + "\n"))
        self.assertEqual(manager.assignments(), [])
        self.assertEqual(host.syslog.entries(), [], "nothing goes to the log in debug mode")
        return out

    def test_dash_upper_case_and_ctrl_c(self):
        self.run_in_foreground("-DEBUG", signal.SIGINT)

    def test_slash_lower_case_and_ctrl_break(self):
        self.run_in_foreground("/debug", signal.SIGQUIT)

    def test_any_prefix_character_any_case(self):
        out = self.run_in_foreground("xDeBuG", signal.SIGINT)
        self.assertNotIn("Unbekannter Parameter", out)

    def test_console_closed_ends_without_handshake(self):
        host = self.lan_host()
        debug = host.spawn([self.chronsvc, "-debug"])
        debug.wait_output(RUNNING, 5)
        debug.signal(signal.SIGHUP)
        self.assertEqual(debug.wait(5), -signal.SIGHUP, debug.describe())
        self.assertNotIn(STOPPING, debug.output())
        self.assertNotIn(ENDED, debug.output())

    def test_bare_word_is_unknown_and_dispatcher_fails_without_service_manager(self):
        host = self.lan_host()
        process = host.run([self.chronsvc, "debug", "-debugx", "/d"], timeout=5)
        self.assertEqual(process.returncode, 0, process.describe())
        out = process.output()
        self.assertRegex(out, BANNER)
        self.assertEqual(out[BANNER.match(out).end():],
                         "Unbekannter Parameter: debug\nUnbekannter Parameter: -debugx\n"
                         "Unbekannter Parameter: /d\n")
        entry = host.syslog.wait_for(NO_DISPATCHER, 3, process.pid)
        self.assertEqual((entry.severity, entry.event_id), (LOG_ERR, LOGGED_ERROR), entry)
        self.assertRegex(entry.message, "^" + re.escape(NO_DISPATCHER) + r"\S.*\.$")
        self.assertEqual(len(host.syslog.entries(process.pid)), 1, host.syslog.entries())

    def test_unknown_word_beside_debug_still_runs_in_foreground(self):
        host = self.lan_host()
        debug = host.spawn([self.chronsvc, "--verbose", "-debug"])
        out = debug.wait_output(RUNNING, 5)
        body = out[BANNER.match(out).end():]
        self.assertTrue(body.startswith("Unbekannter Parameter: --verbose\n" + DEBUGGING), body)
        debug.signal(signal.SIGINT)
        self.assertEqual(debug.wait(5), 0)


if __name__ == "__main__":
    unittest.main()
