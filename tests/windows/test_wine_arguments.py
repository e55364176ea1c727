"""Arguments and environment values reach the Windows programs in UTF-16: a file named with
letters outside the ANSI code page (or inside it but not in UTF-8, such as "ü" in 1252) is read
and written under its real name. Needs no test host: one prefix, no network."""

import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import BASE_ENV, WINE, WINESERVER, base_prefix, program, windows_path  # noqa: E402

# A record left behind by a program that has ended (no process has this id).
RECORD = {"program": "chronsvc", "pid": 4000000, "version": "1.00", "started": "2026-01-01T00:00:00.000Z",
          "updated": "2026-01-01T00:00:10.000Z",
          "modes": {"poll_client": False, "broadcast_client": False, "server": True, "broadcasting": False},
          "adapters": [], "client": None,
          "counters": {"requests_answered": 0, "broadcasts_sent": 0, "samples_taken": 0, "dropped": {}},
          "history": []}


class Utf16ArgumentsTest(unittest.TestCase):
    def setUp(self):
        if not os.access(WINE, os.X_OK):
            self.fail("cannot run: %s is missing (scripts/install-deps.sh windows installs wine64)" % WINE)
        self.dir = tempfile.mkdtemp(prefix="chron-utf16-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        prefix = os.path.join(self.dir, "prefix")
        subprocess.run(["cp", "-a", base_prefix(), prefix], check=True)
        self.env = dict(os.environ, LANG="C.UTF-8", WINEPREFIX=prefix, **BASE_ENV)
        # Registered after the removal, so run before it: the prefix's wineserver ends first.
        self.addCleanup(subprocess.run, [WINESERVER, "-w"], env=self.env, timeout=60)
        self.addCleanup(subprocess.run, [WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)

    def test_chronstat_reads_and_plots_files_named_in_utf16(self):
        folder = os.path.join(self.dir, "Zeit für Jürgen Δ")
        os.mkdir(folder)
        status = os.path.join(folder, "Status-Ä.json")
        with open(status, "w", encoding="utf-8") as handle:
            json.dump(RECORD, handle)
        plot = os.path.join(folder, "Jürgen-Zeit.svg")
        output, errors_file = os.path.join(self.dir, "output"), os.path.join(self.dir, "errors")
        # Output to files: a pipe could stay open for processes the prefix starts.
        with open(output, "wb") as out, open(errors_file, "wb") as errors:
            run = subprocess.run([WINE, program("chronstat.exe"), "--plot", windows_path(plot)],
                                 env=dict(self.env, CHRON_STATUS=windows_path(status)), stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=errors, timeout=120)
        with open(output, "rb") as handle, open(errors_file, "rb") as errors:
            printed, complaints = handle.read(), errors.read()
        # The record was read and the picture written; the redirected output has the name in UTF-8
        # bytes, as the program prints every text.
        self.assertEqual(printed, ("chronstat: 0 samples plotted to %s\r\n" % windows_path(plot)).encode("utf-8"),
                         complaints)
        self.assertEqual(run.returncode, 2)  # the record's writer has ended
        # The picture under its real name, and no other.
        self.assertEqual(sorted(os.listdir(folder)), ["Jürgen-Zeit.svg", "Status-Ä.json"])


    def test_console_shows_arguments_and_texts_in_utf16(self):
        # A console of Wine on a pseudo-terminal; its code page is not UTF-8, which chronstop
        # leaves as it is.
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        with open(os.devnull, "rb") as null:
            run = subprocess.Popen([WINE, program("chronstop.exe"), "--Jürgen-Δ"], env=self.env, stdin=null,
                                   stdout=slave, stderr=slave)
        os.close(slave)
        self.assertEqual(run.wait(120), 2)
        shown = b""
        while select.select([master], [], [], 5)[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # EIO: every writer has closed the terminal
                break
            if not chunk:
                break
            shown += chunk
        text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", shown.decode("utf-8", "replace"))
        self.assertIn("chronstop: unbekannter oder unvollständiger Parameter: --Jürgen-Δ", text)


if __name__ == "__main__":
    unittest.main()
