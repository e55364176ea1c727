"""The status file's folder under Wine: a folder that another user made first, with a record of
their own in it, is refused by the service (told once in the event log) and left as it was. Wine
shows a folder of another Unix user as owned by someone else (S-1-5-7); on Windows that is any
user who creates C:\\ProgramData\\chron before the service."""

import json
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import GENERIC_ID, RUNNING, STOPPED, WARNING, WineTestCase  # noqa: E402

NOBODY = 65534
REFUSED = ("SNTP-Status: Die Statusdatei C:\\ProgramData\\chron\\status.json wird nicht geschrieben, da ihr "
           "Verzeichnis weder SYSTEM noch den Administratoren noch dem Benutzer des SNTP Dienstes gehört. Der "
           "SNTP Dienst läuft ohne Statusdatei weiter.")                    # 0x81000044


class StatusFolderTest(WineTestCase):
    def test_service_refuses_a_folder_another_user_made_first(self):
        if os.geteuid() != 0:
            self.skipTest("needs root, to make a folder of another user")
        host = self.wine_host("svc", lans=[self.lab.lan()],
                              settings={"Server\\Active": 1, "Server\\Broadcast": 0, "Client\\Active": 0})
        folder = os.path.join(host.prefix, "drive_c", "ProgramData", "chron")
        os.makedirs(folder)
        planted = json.dumps({"program": "chronsvc", "pid": 1, "client": {"synchronised": True}})
        with open(os.path.join(folder, "status.json"), "w") as handle:
            handle.write(planted)
        for path in (folder, os.path.join(folder, "status.json")):
            os.chown(path, NOBODY, NOBODY)
        host.install_service()
        host.sc("start", "SNTP")
        host.wait_state(RUNNING, 30)
        time.sleep(11)  # past the counters' write every 10 s: a second refusal, not told again
        host.sc("stop", "SNTP")
        host.wait_state(STOPPED, 30)
        warnings = [event for event in host.reported_events() if event[0] == WARNING]
        self.assertEqual(warnings, [(WARNING, GENERIC_ID[WARNING], REFUSED)])
        self.assertEqual(sorted(os.listdir(folder)), ["status.json"])
        with open(os.path.join(folder, "status.json")) as handle:
            self.assertEqual(handle.read(), planted)


if __name__ == "__main__":
    unittest.main()
