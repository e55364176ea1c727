"""The Windows Installer package (chron-<version>-x64.msi of the Windows package target): its tables
as msiinfo shows them, and installation, upgrade and removal with Wine's msiexec on a test host."""

import glob
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import RUNNING, STOPPED, WineTestCase, harness, program, windows_path  # noqa: E402

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PRODUCT_KEY = "HKLM\\SOFTWARE\\Orbek\\SNTP\\1.01"
SERVICE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SNTP"
EVENT_SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SNTP"
CPLS_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls"
# The twelve settings' defaults, which the package writes where a value is absent.
DEFAULTS = {"Client\\Active": 1, "Client\\Broadcast": 1, "Client\\RunOnce": 0, "Client\\MaxDiffSecond": 180,
            "Client\\MaxDiffSecondActive": 0, "Client\\PollInterval": 64, "Client\\TimeSource": "",
            "Server\\Active": 0, "Server\\Broadcast": 1, "Server\\BroadcastInterval": 64,
            "Server\\TimeSource": "LOCAL", "IPQueryType": "SNMP"}
SERVER = dict(DEFAULTS, **{"Client\\Active": 0, "Server\\Active": 1, "Server\\Broadcast": 0})
NTP_ERA = 2208988800  # seconds from 1900 (NTP) to 1970 (Unix)
SERVICE_COMPONENTS = ("ServiceAuto", "ServiceDemand", "ServiceNone", "ServiceDisabled")
DOCUMENTS = ("windows.md", "settings.md", "chronstat.md")
# Registry table Root 2 (HKLM) and Component attributes: 4 registry key path, 16 permanent,
# 128 never overwrite, 256 64-bit.
DEFAULT_ATTRIBUTES = "404"
START_TEXT = ("Der Dienst SNTP wird gestartet, ohne auf ihn zu warten: startet er nicht (etwa ohne verwendbare "
              "Netzwerkadresse), startet ihn die Dienststeuerung nach einer Minute erneut.")
W32TIME_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W32Time"
NETSH = '"[System64Folder]netsh.exe" advfirewall firewall '
ADD_RULE = (NETSH + 'add rule name=SNTP dir=in action=allow protocol=UDP localport=123 '
            'program="[INSTALLDIR]chronsvc.exe" service=SNTP remoteip=')
# Custom action -> (type, command, condition). 3170: a program run deferred as LocalSystem, its
# exit code ignored (34 + 64 + 1024 + 2048); 3426 the same at a rollback (+ 256).
SETUP_ACTIONS = {
    "FirewallRemove": ("3170", NETSH + "delete rule name=SNTP", 'REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE'),
    "FirewallClear": ("3170", NETSH + "delete rule name=SNTP", "NOT Installed"),
    "FirewallRollback": ("3426", NETSH + "delete rule name=SNTP", 'NOT Installed AND NOT FIREWALL="none"'),
    "FirewallSubnet": ("3170", ADD_RULE + "localsubnet",
                       'NOT Installed AND NOT FIREWALL="none" AND NOT FIREWALL="any"'),
    "FirewallAny": ("3170", ADD_RULE + "any", 'NOT Installed AND FIREWALL="any"'),
    "W32TimeKept": ("51", "W32Time installiert, Starttyp [W32TIMESTART], bleibt so (W32TIME=keep)",
                    'W32TIMESTART AND NOT W32TIME="disable" AND NOT REMOVE="ALL"'),
    "W32TimeDisable": ("3170", '"[System64Folder]sc.exe" config W32Time start= disabled',
                       'W32TIME="disable" AND NOT REMOVE="ALL"'),
    "W32TimeStop": ("3170", '"[System64Folder]net.exe" stop W32Time', 'W32TIME="disable" AND NOT REMOVE="ALL"'),
}
# ProgramData\chron: protected, owner Administrators; SYSTEM and Administrators full control,
# NT SERVICE\SNTP (the SID "sc showsid SNTP" shows) modify, Users read.
STATUS_SDDL = ("O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;"
               "S-1-5-80-399665759-489264743-559548574-2323750326-2999605500)(A;OICI;FR;;;BU)")

# One SNTP v4 client request (mode 3) to argv[1]; prints the answer's mode and how far its transmit
# time is from this host's real clock, in seconds.
ASK = """import socket, struct, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(5)
s.sendto(bytes([0x23]) + bytes(47), (sys.argv[1], 123))
reply = s.recv(512)
seconds, fraction = struct.unpack("!II", reply[40:48])
print(reply[0] & 7, round(seconds + fraction / 2**32 - %d - time.time(), 1))""" % NTP_ERA


def package():
    found = glob.glob(os.path.join(os.environ["CHRON_BIN_DIR"], "chron-*-x64.msi"))
    if not found:
        raise AssertionError("no chron-*-x64.msi in CHRON_BIN_DIR: build the target windows-package")
    return found[0]


def programs():
    """What the package installs: the package folder's files but the install script."""
    folder = os.path.join(os.environ["CHRON_BIN_DIR"], "sntp-windows")
    return sorted(name for name in os.listdir(folder) if name != "install-service.cmd")


def table(msi, name):
    """The rows of an MSI table as dicts, from msiinfo's export (tab-separated, three header lines)."""
    lines = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


class PackageTablesTest(unittest.TestCase):
    def test_files_service_privileges_and_registry_rows(self):
        msi = package()
        self.assertEqual((set(programs()) - {"docs"}) | set(DOCUMENTS), {row["FileName"] for row in table(msi, "File")})
        self.assertLessEqual({"LICENSE", "NOTICES.txt"}, set(programs()))
        services = table(msi, "ServiceInstall")
        self.assertEqual({(s["Name"], s["StartName"]) for s in services}, {("SNTP", "NT AUTHORITY\\LocalService")})
        self.assertEqual(sorted(int(s["StartType"]) for s in services), [2, 3, 3, 4])  # auto, demand, none, disabled
        configs = table(msi, "MsiServiceConfig")
        # Required privileges, the failure actions flag (an exit code counts as a failure) and a SID
        # of its own (unrestricted: a firewall rule naming the service matches only then) for every
        # start choice, the delayed automatic start for SNTPSTART=auto.
        self.assertEqual(sorted((c["Component_"], c["Name"], c["ConfigType"], c["Argument"]) for c in configs),
                         sorted([(component, "SNTP", kind, argument) for component in SERVICE_COMPONENTS
                                 for kind, argument in (("6", "SeSystemtimePrivilege[~]"), ("4", "1"), ("5", "1"))]
                                + [("ServiceAuto", "SNTP", "3", "1")]))
        # Restarted a minute after each failure; the count of failures starts again after a day.
        self.assertEqual(sorted((f["Component_"], f["Name"], f["ResetPeriod"], f["Actions"], f["DelayActions"])
                                for f in table(msi, "MsiServiceConfigFailureActions")),
                         [(component, "SNTP", "86400", "1[~]1[~]1", "60000[~]60000[~]60000")
                          for component in sorted(SERVICE_COMPONENTS)])
        # The start at install is sc.exe's, its outcome ignored (type 34 + 64 continue + 1024
        # deferred + 2048 as LocalSystem), never a ServiceControl start; the install log says so.
        self.assertEqual({(c["Component_"], c["Event"]) for c in table(msi, "ServiceControl")},
                         {(component, "162") for component in SERVICE_COMPONENTS})  # stop, remove
        self.assertEqual([(a["Type"], a["Source"], a["Target"]) for a in table(msi, "CustomAction")
                          if a["Action"] == "StartSntp"],
                         [("3170", "INSTALLDIR", '"[System64Folder]sc.exe" start SNTP')])
        self.assertIn(("StartSntp", "$ServiceAuto=3 OR $ServiceDemand=3"),
                      {(row["Action"], row["Condition"]) for row in table(msi, "InstallExecuteSequence")})
        self.assertEqual({row["Action"]: row["Description"] for row in table(msi, "ActionText")}["StartSntp"],
                         START_TEXT)
        self.assertIn("MsiConfigureServices", {row["Action"] for row in table(msi, "InstallExecuteSequence")})
        registry = {(row["Key"], row["Name"]): row["Value"] for row in table(msi, "Registry")
                    if not row["Key"].startswith(PRODUCT_KEY[5:])}
        self.assertEqual(registry, {
            (EVENT_SOURCE_KEY[5:], "EventMessageFile"): "#%[INSTALLDIR]chronsvc.exe",
            (EVENT_SOURCE_KEY[5:], "TypesSupported"): "#7",
            (CPLS_KEY[5:], "SNTP"): "[#chroncfg.cpl]",
            ("SOFTWARE\\Orbek\\SNTP\\Installer", "AdminShortcut"): "#1"})
        self.assertEqual({row["Attributes"] for row in table(msi, "Upgrade")}, {"1", "2"})  # major upgrade

    def test_firewall_rule_windows_time_and_status_folder_rows(self):
        msi = package()
        sequence = {row["Action"]: row["Condition"] for row in table(msi, "InstallExecuteSequence")}
        self.assertEqual({a["Action"]: (a["Type"], a["Target"], sequence.get(a["Action"]))
                          for a in table(msi, "CustomAction") if a["Action"] in SETUP_ACTIONS}, SETUP_ACTIONS)
        properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
        self.assertEqual((properties["FIREWALL"], properties["W32TIME"]), ("subnet", "keep"))
        self.assertLessEqual({"FIREWALL", "W32TIME"}, set(properties["SecureCustomProperties"].split(";")))
        self.assertEqual([(r["Root"], r["Key"], r["Name"], r["Type"]) for r in table(msi, "RegLocator")
                          if r["Key"] == W32TIME_KEY[5:]],
                         [("2", W32TIME_KEY[5:], "Start", "18")])  # HKLM; the raw value (2), 64-bit view (16)
        directories = {row["Directory"]: (row["Directory_Parent"], row["DefaultDir"])
                       for row in table(msi, "Directory")}
        self.assertEqual([directories[row["Directory_"]] for row in table(msi, "CreateFolder")],
                         [("CommonAppDataFolder", "chron")])
        self.assertEqual([(r["LockObject"], r["Table"], r["SDDLText"], r["Condition"])
                          for r in table(msi, "MsiLockPermissionsEx")],
                         [("STATUSDIR", "CreateFolder", STATUS_SDDL, "")])

    def test_settings_defaults_are_written_only_where_absent_and_never_removed(self):
        msi = package()
        components = {row["Component"]: row for row in table(msi, "Component")}
        found = {row["Signature_"]: row["Property"] for row in table(msi, "AppSearch")}
        locators = {row["Signature_"]: (row["Key"], row["Name"], row["Type"]) for row in table(msi, "RegLocator")}
        written = {}
        for row in table(msi, "Registry"):
            if not row["Key"].startswith(PRODUCT_KEY[5:]):
                continue
            path = (row["Key"][len(PRODUCT_KEY[5:]):] + "\\" + row["Name"]).lstrip("\\")
            written[path] = int(row["Value"][1:]) if row["Value"].startswith("#") else row["Value"]
            # Its own component, keyed by the value, installed only where the search did not find it.
            component = components[row["Component_"]]
            self.assertEqual((component["Attributes"], component["KeyPath"]), (DEFAULT_ATTRIBUTES, row["Registry"]))
            self.assertEqual(locators[row["Registry"]], (row["Key"], row["Name"], "18"))  # raw, 64-bit view
            self.assertEqual(component["Condition"], "NOT " + found[row["Registry"]])
        self.assertEqual(written, DEFAULTS)

    def test_summary_language_add_remove_programs_shortcut_and_documents(self):
        msi = package()
        summary = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
        self.assertIn("Template: x64;1031", summary)
        properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
        self.assertEqual(properties["ARPNOMODIFY"], "1")
        # The Icon table's rows are streams "Icon.<name>" (an export would write them to files).
        streams = subprocess.run(["msiinfo", "streams", msi], check=True, capture_output=True, text=True).stdout
        self.assertIn("Icon." + properties["ARPPRODUCTICON"], streams.split())
        [shortcut] = table(msi, "Shortcut")
        self.assertEqual(shortcut["Name"], "SNTP-Einstellungen (Administrator)")
        self.assertIn("Start-Process -Verb RunAs -FilePath '[System64Folder]control.exe'", shortcut["Arguments"])
        self.assertIn("[INSTALLDIR]chroncfg.cpl", shortcut["Arguments"])
        # The documents in docs\ below the program folder.
        folders = {row["Component"]: row["Directory_"] for row in table(msi, "Component")}
        self.assertEqual({folders[row["Component_"]] for row in table(msi, "File") if row["FileName"] in DOCUMENTS},
                         {"DOCSDIR"})
        docs = next(row for row in table(msi, "Directory") if row["Directory"] == "DOCSDIR")
        self.assertEqual((docs["DefaultDir"], docs["Directory_Parent"]), ("docs", "INSTALLDIR"))

    def test_packaged_programs_are_stripped_with_their_symbols_beside_the_build(self):
        folder = os.path.join(os.environ["CHRON_BIN_DIR"], "sntp-windows")
        symbols = os.path.join(os.environ["CHRON_BIN_DIR"], "sntp-windows-symbols")
        stripped = [name for name in os.listdir(folder) if name.endswith((".exe", ".cpl"))]
        self.assertLess(os.path.getsize(os.path.join(folder, "chronsvc.exe")), 2500000)  # 3.5 MB with symbols
        self.assertGreaterEqual(len(stripped), 4)
        for name in stripped:
            path = os.path.join(folder, name)
            sections = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", path], check=True, capture_output=True,
                                      text=True).stdout
            self.assertIn(".gnu_debuglink", sections, name)
            listed = subprocess.run(["x86_64-w64-mingw32-nm", path], capture_output=True, text=True)
            self.assertIn("no symbols", listed.stderr, name)
            # The symbols, in the file the debug link names.
            kept = subprocess.run(["x86_64-w64-mingw32-nm", os.path.join(symbols, name + ".debug")], check=True,
                                  capture_output=True, text=True).stdout
            self.assertGreater(len(kept.splitlines()), 100, name)

class InstallerTest(WineTestCase):
    def reg(self, host, *args):
        return host.run(["reg"] + list(args)).output().replace("\r\n", "\n")

    def msiexec(self, host, *args):
        """Runs msiexec with a verbose log; returns the log's text and the actions it started."""
        log = os.path.join(host.host.dir, "msiexec.%d.log" % len(os.listdir(host.host.dir)))
        run = host.run(["msiexec"] + list(args) + ["/qn", "/l*v", windows_path(log)], timeout=120)
        self.assertEqual(run.returncode, 0, run.describe())
        with open(log, encoding="latin-1") as handle:  # Wine writes it in the ANSI code page
            text = handle.read()
        return text, set(re.findall(r"Action start [0-9:]+: (\w+)\.", text))

    def test_install_on_a_host_without_network_succeeds_and_leaves_the_start_to_the_service_manager(self):
        host = self.wine_host("msilonely", settings={})
        # No rule, and W32Time, which Wine does not have, disabled: its failing sc and net ignored.
        log, started = self.msiexec(host, "/i", windows_path(package()), "FIREWALL=none", "W32TIME=disable")
        self.assertIn("ImagePath", self.reg(host, "query", SERVICE_KEY))
        status = host.wait_state(STOPPED, 30)
        self.assertEqual(status["exit"], 55)  # no usable address: the service manager tries again
        self.assertIn(START_TEXT, log)
        self.assertLessEqual({"FirewallClear", "W32TimeDisable", "W32TimeStop"}, started)
        self.assertFalse({"FirewallRollback", "FirewallSubnet", "FirewallAny", "W32TimeKept"} & started)
        self.assertTrue(os.path.isdir(os.path.join(host.prefix, "drive_c", "ProgramData", "chron")))

    def test_install_upgrade_and_removal_keep_the_settings(self):
        lan = self.lab.lan()
        host = self.wine_host("msi", lans=[lan], clock_offset=30.0, settings=SERVER)
        settings = self.reg(host, "query", PRODUCT_KEY, "/s")
        self.assertIn("Active", settings)
        installed = os.path.join(host.prefix, "drive_c", "Program Files", "SNTP")

        # Version N: installed, started, and answering another host with its clock (30 s ahead);
        # the rule from the local subnets added, an installed W32Time (on demand) noted and kept.
        self.reg(host, "add", W32TIME_KEY, "/v", "Start", "/t", "REG_DWORD", "/d", "3", "/f")
        log, started = self.msiexec(host, "/i", windows_path(package()))
        self.assertLessEqual({"FirewallClear", "FirewallRollback", "FirewallSubnet", "W32TimeKept"}, started)
        self.assertNotIn("FirewallAny", started)
        self.assertIn("W32TIMEKEPT = W32Time installiert, Starttyp #3", log)
        host.wait_state(RUNNING, 30)
        self.assertEqual(sorted(os.listdir(installed)), programs())
        self.assertIn("NT AUTHORITY\\LocalService", self.reg(host, "query", SERVICE_KEY, "/v", "ObjectName"))
        self.assertIn("Program Files\\SNTP\\chronsvc.exe", self.reg(host, "query", EVENT_SOURCE_KEY))
        self.assertIn("Program Files\\SNTP\\chroncfg.cpl", self.reg(host, "query", CPLS_KEY, "/v", "SNTP"))
        asker = self.lab.host("asker", lans=[lan])
        mode, offset = asker.run([sys.executable, "-c", ASK, host.host.address], syslog=False).output().split()
        self.assertEqual(mode, "4")  # server
        self.assertAlmostEqual(float(offset), 30.0, delta=1.0)
        self.assertEqual(self.reg(host, "query", PRODUCT_KEY, "/s"), settings)

        # Version N+1 over it (a major upgrade), choosing demand start: settings kept.
        next_version = os.path.join(host.host.dir, "next.msi")
        major, minor, patch = os.path.basename(package()).split("-")[1].split(".")
        subprocess.run([sys.executable, os.path.join(TOP, "scripts", "build_msi.py"),
                        os.path.join(os.environ["CHRON_BIN_DIR"], "sntp-windows"),
                        "%s.%s.%d" % (major, minor, int(patch) + 1), next_version], check=True, capture_output=True)
        _, started = self.msiexec(host, "/i", windows_path(next_version), "SNTPSTART=demand", "FIREWALL=any")
        self.assertEqual({"FirewallAny", "FirewallSubnet", "FirewallRemove"} & started, {"FirewallAny"})
        self.assertIn("0x3", self.reg(host, "query", SERVICE_KEY, "/v", "Start"))  # SERVICE_DEMAND_START
        self.assertEqual(sorted(os.listdir(installed)), programs())
        self.assertEqual(self.reg(host, "query", PRODUCT_KEY, "/s"), settings)

        # Removal: service, files, registrations and the rule gone, the settings as they were; the
        # status folder stays with the status file the service left.
        status_folder = os.path.join(host.prefix, "drive_c", "ProgramData", "chron")
        left = os.listdir(status_folder)
        self.assertIn("status.json", left)
        _, started = self.msiexec(host, "/x", windows_path(next_version))
        self.assertIn("FirewallRemove", started)
        self.assertEqual(os.listdir(status_folder), left)
        self.assertEqual(host.query(), {})
        self.assertFalse(os.path.exists(os.path.join(installed, "chronsvc.exe")))
        self.assertNotIn("EventMessageFile", self.reg(host, "query", EVENT_SOURCE_KEY))
        self.assertNotIn("chroncfg.cpl", self.reg(host, "query", CPLS_KEY))
        self.assertEqual(self.reg(host, "query", PRODUCT_KEY, "/s"), settings)

    def next_version(self, host, step):
        """The package again, `step` patch versions newer (a major upgrade of it)."""
        path = os.path.join(host.host.dir, "next%d.msi" % step)
        major, minor, patch = os.path.basename(package()).split("-")[1].split(".")
        subprocess.run([sys.executable, os.path.join(TOP, "scripts", "build_msi.py"),
                        os.path.join(os.environ["CHRON_BIN_DIR"], "sntp-windows"),
                        "%s.%s.%d" % (major, minor, int(patch) + step), path], check=True, capture_output=True)
        return path

    def settings(self, host):
        """{value path: data as reg shows it} below the product key."""
        found, key = {}, None
        for line in self.reg(host, "query", PRODUCT_KEY, "/s").splitlines():
            if line.startswith("HKEY_"):
                key = line[len("HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbek\\SNTP\\1.01"):].lstrip("\\")
            elif line.strip():
                name, kind, *data = line.split(None, 2)
                value = data[0] if data else ""
                found[(key + "\\" + name).lstrip("\\")] = int(value, 16) if kind == "REG_DWORD" else value
        return found

    def test_defaults_fill_only_absent_settings_through_repair_and_removal(self):
        host = self.wine_host("msidefaults", settings={"Server\\TimeSource": "NTP", "Client\\PollInterval": 300})
        kept = {"Server\\TimeSource": "NTP", "Client\\PollInterval": 300}
        self.msiexec(host, "/i", windows_path(package()), "SNTPSTART=none")
        self.assertEqual(self.settings(host), dict(DEFAULTS, **kept))
        # Changed by the applet, one removed by hand: a repair keeps the one, writes the other anew.
        # (Wine's msiexec /f ends with 69 and does nothing; REINSTALL=ALL is the same repair.)
        host.import_registry(harness.product({"Client\\Active": 0}))
        self.reg(host, "delete", PRODUCT_KEY + "\\Client", "/v", "TimeSource", "/f")
        self.msiexec(host, "/i", windows_path(package()), "REINSTALL=ALL", "REINSTALLMODE=vomus")
        expected = dict(DEFAULTS, **kept, **{"Client\\Active": 0})
        self.assertEqual(self.settings(host), expected)
        self.msiexec(host, "/x", windows_path(package()))
        self.assertEqual(host.query(), {})
        self.assertEqual(self.settings(host), expected)

    def test_upgrade_without_sntpstart_keeps_the_start_type_the_service_manager_has(self):
        host = self.wine_host("msikeep", settings={})
        self.msiexec(host, "/i", windows_path(package()), "SNTPSTART=none")
        self.msiexec(host, "/i", windows_path(self.next_version(host, 1)))
        self.assertIn("0x3", self.reg(host, "query", SERVICE_KEY, "/v", "Start"))  # demand, and not started
        self.assertEqual(host.query()["state"], STOPPED)
        # Disabled by the administrator (Start 4, as "sc config SNTP start= disabled" writes it;
        # Wine's sc has no "config"): the next upgrade keeps it disabled.
        self.reg(host, "add", SERVICE_KEY, "/v", "Start", "/t", "REG_DWORD", "/d", "4", "/f")
        self.msiexec(host, "/i", windows_path(self.next_version(host, 2)))
        self.assertIn("0x4", self.reg(host, "query", SERVICE_KEY, "/v", "Start"))
        self.assertEqual(host.query()["state"], STOPPED)

    def test_install_script_names_other_services_apart_and_refuses_a_folder_users_can_write(self):
        host = self.wine_host("msiscript", settings={})
        host.install_service("SNTP2")
        self.assertIn("SNTP v4 Zeitdienst (SNTP2)", self.reg(host, "query", SERVICE_KEY + "2", "/v", "DisplayName"))
        # Wine's icacls lists nothing: one beside the script's working folder lists a folder in
        # which Authenticated Users may modify (cmd finds programs in the working folder first).
        folder = os.path.join(host.host.dir, "writable")
        os.mkdir(folder)
        with open(os.path.join(folder, "icacls.bat"), "w", encoding="ascii", newline="\r\n") as handle:
            handle.write("@echo C:\\SNTP BUILTIN\\Administrators:(OI)(CI)(F)\n"
                         "@echo        NT AUTHORITY\\Authenticated Users:(OI)(CI)(M)\n")
        with open(os.path.join(folder, "install.cmd"), "w", encoding="ascii", newline="\r\n") as handle:
            handle.write('@cd /d "%%~dp0"\n@call "%s" "%s" SNTP3\n'
                         % (windows_path(program("install-service.cmd")), windows_path(program("chronsvc.exe"))))
        run = host.run(["cmd", "/c", windows_path(os.path.join(folder, "install.cmd"))])
        self.assertNotEqual(run.returncode, 0, run.describe())
        self.assertIn("Authenticated Users:(OI)(CI)(M)", run.output())
        self.assertIn("FEHLER: Gewoehnliche Benutzer duerfen in den Programmordner", run.output())
        self.assertEqual(host.query("SNTP3"), {})


if __name__ == "__main__":
    unittest.main()
