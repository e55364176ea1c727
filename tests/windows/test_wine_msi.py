"""The Windows Installer package (chron-<version>-x64.msi of the Windows package target): its tables
as msiinfo shows them, and installation, upgrade and removal with Wine's msiexec on a test host."""

import glob
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_hosts import RUNNING, STOPPED, WineTestCase, harness, windows_path  # noqa: E402

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PRODUCT_KEY = "HKLM\\SOFTWARE\\Orbek\\SNTP\\1.01"
SERVICE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SNTP"
EVENT_SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SNTP"
CPLS_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls"
SERVER = {"Client\\Active": 0, "Server\\Active": 1, "Server\\Broadcast": 0}
NTP_ERA = 2208988800  # seconds from 1900 (NTP) to 1970 (Unix)
SERVICE_COMPONENTS = ("ServiceAuto", "ServiceDemand", "ServiceNone")
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
        self.assertEqual(set(programs()), {row["FileName"] for row in table(msi, "File")})
        self.assertLessEqual({"LICENSE", "NOTICES.txt"}, set(programs()))
        services = table(msi, "ServiceInstall")
        self.assertEqual({(s["Name"], s["StartName"]) for s in services}, {("SNTP", "NT AUTHORITY\\LocalService")})
        self.assertEqual(sorted(int(s["StartType"]) for s in services), [2, 3, 3])  # auto, demand, demand
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
        registry = {(row["Key"], row["Name"]): row["Value"] for row in table(msi, "Registry")}
        self.assertEqual(registry, {
            (EVENT_SOURCE_KEY[5:], "EventMessageFile"): "#%[INSTALLDIR]chronsvc.exe",
            (EVENT_SOURCE_KEY[5:], "TypesSupported"): "#7",
            (CPLS_KEY[5:], "SNTP"): "[#chroncfg.cpl]"})  # never the settings
        self.assertEqual({row["Attributes"] for row in table(msi, "Upgrade")}, {"1", "2"})  # major upgrade

    def test_firewall_rule_windows_time_and_status_folder_rows(self):
        msi = package()
        sequence = {row["Action"]: row["Condition"] for row in table(msi, "InstallExecuteSequence")}
        self.assertEqual({a["Action"]: (a["Type"], a["Target"], sequence.get(a["Action"]))
                          for a in table(msi, "CustomAction") if a["Action"] in SETUP_ACTIONS}, SETUP_ACTIONS)
        properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
        self.assertEqual((properties["FIREWALL"], properties["W32TIME"]), ("subnet", "keep"))
        self.assertLessEqual({"FIREWALL", "W32TIME"}, set(properties["SecureCustomProperties"].split(";")))
        self.assertEqual([(r["Root"], r["Key"], r["Name"], r["Type"]) for r in table(msi, "RegLocator")],
                         [("2", W32TIME_KEY[5:], "Start", "18")])  # HKLM; the raw value (2), 64-bit view (16)
        directories = {row["Directory"]: (row["Directory_Parent"], row["DefaultDir"])
                       for row in table(msi, "Directory")}
        self.assertEqual([directories[row["Directory_"]] for row in table(msi, "CreateFolder")],
                         [("CommonAppDataFolder", "chron")])
        self.assertEqual([(r["LockObject"], r["Table"], r["SDDLText"], r["Condition"])
                          for r in table(msi, "MsiLockPermissionsEx")],
                         [("STATUSDIR", "CreateFolder", STATUS_SDDL, "")])


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


if __name__ == "__main__":
    unittest.main()
