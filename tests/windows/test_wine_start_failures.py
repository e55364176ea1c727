"""chronsvc.exe under Wine when it cannot start: as a service on a host without network
adapters, and from a console without "-debug"."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_hosts  # noqa: E402
from wine_hosts import ERROR, GENERIC_ID, INFO, STOPPED, WineTestCase, program  # noqa: E402


class StartFailureTest(WineTestCase):
    def test_host_without_adapters_stops_with_55(self):
        host = self.wine_host("noadapter", settings={})
        host.install_service()
        host.sc("start", "SNTP")
        status = host.wait_state(STOPPED, 30)
        self.assertEqual((status["exit"], status["specific"]), (55, 0))
        self.assertEqual(host.reported_events(), [
            (INFO, GENERIC_ID[INFO], "SNTP-Init: Bereite den Start des SNTP Dienstes vor."),
            (ERROR, GENERIC_ID[ERROR], "SNTP-Init: Es konnte keine Netzwerkkarte gefunden werden, die für die "
                                       "Benutzung mit dem SNTP Dienst verwendbar ist.")])

    def test_console_start_without_debug_reports_that_the_dispatcher_could_not_start(self):
        host = self.wine_host("console", settings={})
        run = host.run([program("chronsvc.exe")], env={"WINEDEBUG": wine_hosts.EVENT_DEBUG})
        self.assertEqual(run.returncode, 0)
        self.assertIn("SNTP v4 Client/Server für Windows NT v1.01", run.output())
        # 1063: ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, with the system's text of it.
        self.assertRegex(run.errors(), r':eventlog:ReportEventW\s+L"Der Service-Dispatcher konnte nicht gestartet '
                                       r'werden ! Grund: [^"]+\\r\\n\."')
        self.assertIn(",0x0001,0x0000,0xc1000011,", run.errors())

        # chronstop names a Windows error with the system's text of it (3: path not found), not
        # with the C library's text of the errno value of that number.
        stop = host.run([program("chronstop.exe"), "--name", "Nix\\Da", "--test"])
        self.assertEqual(stop.returncode, 2)
        self.assertRegex(stop.errors(), r"Ereignis Nix\\Da kann nicht geöffnet werden: \w")
        self.assertNotIn(os.strerror(3), stop.errors())


if __name__ == "__main__":
    unittest.main()
