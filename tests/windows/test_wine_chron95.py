"""chron95.exe under Wine: a background process that another process of its host stops through
the named shutdown event, and its message boxes."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import WineHost, WineTestCase, program, unescape  # noqa: E402

CAPTION = "SNTP Client"
MB_OK_ICONERROR = 0x10
REFUSED_REPORT = "Init: Der SNTP Dienst konnte sich nicht als Service anmelden."
READY = "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."
CLOSING = "<Console wird mit jeder Taste geschlossen>"


def message_boxes(trace):
    """(owner, text, caption, style) of every MessageBoxW call in Wine's relay trace."""
    calls = re.findall(r'Call user32\.MessageBoxW\((\w+),\w+ L"((?:[^"\\]|\\.)*)",\w+ L"((?:[^"\\]|\\.)*)",(\w+)\)',
                       trace)
    return [(int(owner, 16), unescape(text), unescape(caption), int(style, 16)) for owner, text, caption, style in calls]


class Chron95Test(WineTestCase):
    def relay_message_boxes(self, host):
        """Wine's relay trace (WINEDEBUG=+relay) of the host's processes shows MessageBoxW alone."""
        host.run(["reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/d", "user32.MessageBoxW", "/f"])
        return {"WINEDEBUG": "-all,+relay"}

    def test_runs_in_the_background_until_another_process_sets_the_named_event(self):
        lan = self.lab.lan()
        host = self.wine_host("w95", lans=[lan], settings={"Client\\Broadcast": 1})
        run = host.spawn([program("chron95.exe")], env=self.relay_message_boxes(host))
        # Its socket on port 123 (which Wine binds as 0.0.0.0%<interface>) is bound after the named
        # event is held.
        bound = ["ip", "netns", "exec", host.host.ns, "ss", "-Hnua", "sport", "=", ":123"]
        WineHost.wait_until(lambda: subprocess.run(bound, capture_output=True, text=True).stdout.strip(), 60,
                            lambda: "chron95 did not bind port 123\n" + run.describe())
        self.assertTrue(run.alive(), run.describe())
        self.assertEqual(host.run([program("chronstop.exe")]).returncode, 0)
        self.assertEqual(run.wait(30), 0, run.describe())
        self.assertEqual(run.output(), "")
        self.assertEqual(message_boxes(run.errors()), [], "Wine's KERNEL32 registers it as a service process")

    def test_debug_mode_prints_its_trace_until_the_named_event_is_set(self):
        # A GUI program: with "-debug" it writes to the standard output it was given (a pipe here).
        lan = self.lab.lan()
        host = self.wine_host("w95debug", lans=[lan], settings={"Client\\Broadcast": 1})
        run = host.spawn([program("chron95.exe"), "-debug"])
        out = run.wait_output(READY, 60)
        self.assertIn("SNTP v4 Client für Windows 95 v1.01", out)
        self.assertEqual(host.run([program("chronstop.exe")]).returncode, 0)
        out = run.wait_output(CLOSING, 30)
        self.assertLess(out.index("SNTP-Control: Die Anforderung zum Beenden des SNTP Dienstes wurde bearbeitet."),
                        out.index(CLOSING))
        self.assertEqual(run.wait(30), 0)

    def test_message_boxes_of_a_failed_registration(self):
        host = self.wine_host("boxes")
        boxes = host.run([program("registration_boxes.exe"), "126", "127", "5"], env=self.relay_message_boxes(host))
        self.assertEqual(message_boxes(boxes.errors()), [
            (0, "Kann Modulehandle für KERNEL32.DLL nicht finden !", CAPTION, MB_OK_ICONERROR),
            (0, 'Kann Einsprungspunkt für "RegisterServiceProcess" in KERNEL32.DLL nicht finden !', CAPTION,
             MB_OK_ICONERROR),
            (0, "Kann SNTP Dienst nicht beim Dienstmanager anmelden !", CAPTION, MB_OK_ICONERROR)], boxes.describe())
        # Only the refused registration is reported as well.
        self.assertEqual(boxes.output().splitlines(), [REFUSED_REPORT])


if __name__ == "__main__":
    unittest.main()
