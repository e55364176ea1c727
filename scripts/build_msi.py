#!/usr/bin/env python3
"""Builds the Windows Installer package from windows/chron.wxs.

    scripts/build_msi.py <folder of the programs> <version a.b.c> <output.msi>

wixl (msitools) compiles the package; msibuild then adds what wixl has no element for:
- the conditions of the four service components (one per value of the public property SNTPSTART),
  and the custom actions that set SNTPSTART from the installed service's start type when it is
  not given (an upgrade keeps what the service manager has),
- the defaults of the twelve settings, one component each, written only where absent,
- the summary information's language (German, 1031, like the product),
- the event source's message file as REG_EXPAND_SZ, as the install script writes it,
- the service's required privileges (SeSystemtimePrivilege alone) as an MsiServiceConfig row,
  applied by the standard action MsiConfigureServices (Windows Installer 5.0, Windows 7 on);
  with it the delayed automatic start (SNTPSTART=auto), the failure actions flag (a stop with an
  exit code other than 0, such as 55 without a usable address, counts as a failure) and, in an
  MsiServiceConfigFailureActions row, failure actions that restart the service after a minute;
- the start at the end of the installation as a custom action that runs "sc start SNTP" and
  ignores its outcome, with the text the install log shows for it (ActionText);
- the service's own SID type (unrestricted) and the firewall rule for UDP port 123 (public
  property FIREWALL), added and deleted with netsh by custom actions;
- the Windows Time service: noted in the install log (W32TIME=keep) or disabled and stopped by
  custom actions (W32TIME=disable);
- the rights of the status folder ProgramData\\chron (an MsiLockPermissionsEx row).
chronstat.exe goes in when the folder holds it. The package's icon (Add/Remove Programs, the
Start menu entry) is the applet's, made from applet/chroncfg.xpm as the applet's build makes it.
"""

import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import uuid

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(TOP, "windows", "chron.wxs")

# Component -> the condition under which it is installed.
CONDITIONS = {
    "ServiceAuto": 'NOT SNTPSTART="demand" AND NOT SNTPSTART="none" AND NOT SNTPSTART="disabled"',
    "ServiceDemand": 'SNTPSTART="demand"',
    "ServiceNone": 'SNTPSTART="none"',
    "ServiceDisabled": 'SNTPSTART="disabled"',
}
# SNTPSTART not given: taken from the installed service's start type (SNTPSERVICESTART, found by
# a RegistrySearch as "#<n>"). Custom action type 51 sets a property; after AppSearch (50), before
# the component conditions are evaluated (CostFinalize), in both sequences. SERVICE_AUTO_START (2)
# stays auto; SERVICE_DEMAND_START (3) becomes "none": whether the service ran cannot be read from
# its start type, so an upgrade does not start it; SERVICE_DISABLED (4) stays disabled.
START_FROM_SERVICE = [("SntpStartKeepsAuto", "#2", "auto"), ("SntpStartKeepsDemand", "#3", "none"),
                      ("SntpStartKeepsDisabled", "#4", "disabled")]
START_FROM_SERVICE_SEQUENCE = 60
# The settings' defaults (the settings table of config/settings.h), written where absent: value
# path below the product key, and the value as the Registry table writes it ("#<n>" REG_DWORD,
# else REG_SZ; None an empty REG_SZ).
PRODUCT_KEY = "SOFTWARE\\Orbek\\SNTP\\1.01"
DEFAULTS = [
    ("Client\\Active", "#1"), ("Client\\Broadcast", "#1"), ("Client\\RunOnce", "#0"),
    ("Client\\MaxDiffSecond", "#180"), ("Client\\MaxDiffSecondActive", "#0"), ("Client\\PollInterval", "#64"),
    ("Client\\TimeSource", None), ("Server\\Active", "#0"), ("Server\\Broadcast", "#1"),
    ("Server\\BroadcastInterval", "#64"), ("Server\\TimeSource", "LOCAL"), ("IPQueryType", "SNMP"),
]
# Each default is a component whose key path is its registry value: installed only where a
# RegistrySearch (RegLocator type 2 raw + 16 64-bit view) did not find the value; attributes 4
# (registry key path) + 16 (Permanent: uninstall leaves it) + 128 (NeverOverwrite: Windows
# Installer neither installs nor repairs it over an existing value) + 256 (64-bit).
DEFAULT_ATTRIBUTES = 4 + 16 + 128 + 256
DEFAULT_LOCATOR_TYPE = 2 + 16
# Stable component codes for the default components (the same in every version).
DEFAULT_NAMESPACE = uuid.UUID("0B9F3C52-7D14-4E8A-A6C1-5F2E9D8B4A70")
# MsiServiceConfig: Event 1 = at installation; ConfigType 6 = SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO;
# Argument a multi-string, its items separated by [~].
SERVICE_CONFIG = """CREATE TABLE `MsiServiceConfig` (`MsiServiceConfig` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL,
`Event` SHORT NOT NULL, `ConfigType` LONG NOT NULL, `Argument` CHAR(0), `Component_` CHAR(72) NOT NULL
PRIMARY KEY `MsiServiceConfig`)"""
# SERVICE_CONFIG_DELAYED_AUTO_START_INFO and SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, each with 1.
DELAYED_AUTO_START = 3
FAILURE_ACTIONS_FLAG = 4
FAILURE_ACTIONS = """CREATE TABLE `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions` CHAR(72) NOT NULL,
`Name` CHAR(255) NOT NULL, `Event` SHORT NOT NULL, `ResetPeriod` LONG, `RebootMessage` CHAR(255), `Command` CHAR(255),
`Actions` CHAR(255), `DelayActions` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfigFailureActions`)"""
# Three restarts (SC_ACTION_RESTART 1), each a minute (60000 ms) after the failure; the count of
# failures starts again after a day (86400 s) without one, so the service is restarted for good.
RESTARTS = ("1[~]1[~]1", "60000[~]60000[~]60000", 86400)
# After InstallServices (5800), before StartServices (5900), as in Windows Installer's own order.
CONFIGURE_SEQUENCE = 5850
# The start at the end of the installation: "sc start SNTP" as a custom action of type 34 (a
# program with its working folder) + 64 (its exit code ignored) + 1024 (deferred, in the
# installation script) + 2048 (as LocalSystem, not the user). A start that fails (no usable
# network address yet) never fails or rolls back the installation, as a ServiceControl start
# would (Windows Installer's StartServices fails with 1920, Wine's already when the service stops
# during its start). After StartServices (5900), where the service is installed and configured;
# only where SNTPSTART chose a component that starts it.
START_ACTION = ("StartSntp", 34 + 64 + 1024 + 2048, "INSTALLDIR", '"[System64Folder]sc.exe" start SNTP')
START_SEQUENCE = 5950
START_CONDITION = "$ServiceAuto=3 OR $ServiceDemand=3"
# What the install log (and the progress text) shows for it.
START_TEXT = ("Der Dienst SNTP wird gestartet, ohne auf ihn zu warten: startet er nicht (etwa ohne "
              "verwendbare Netzwerkadresse), startet ihn die Dienststeuerung nach einer Minute erneut.")
# SERVICE_CONFIG_SERVICE_SID_INFO with SERVICE_SID_TYPE_UNRESTRICTED (1): the service's token holds
# its SID NT SERVICE\SNTP, which the firewall rule and the status folder's rights name.
SERVICE_SID_INFO = 5

# Custom action types: 34 (a program, Source its working folder) + 1024 (deferred, in the
# installation script) + 2048 (as LocalSystem); + 64: the exit code is ignored (the install log
# still shows it); + 256: only when the installation is rolled back.
DEFERRED, IGNORE_EXIT, ROLLBACK = 34 + 1024 + 2048, 64, 256
SET_PROPERTY = 51  # Source the property, Target its (formatted) value
NETSH = '"[System64Folder]netsh.exe" advfirewall firewall '
DELETE_RULE = NETSH + "delete rule name=SNTP"
# Inbound UDP 123 for the service's program running as the service SNTP (a rule that names a
# service matches only a service with a SID), from the addresses FIREWALL chose.
ADD_RULE = (NETSH + 'add rule name=SNTP dir=in action=allow protocol=UDP localport=123 '
            'program="[INSTALLDIR]chronsvc.exe" service=SNTP remoteip=')
FIRST_INSTALL = "NOT Installed"  # a first installation or a major upgrade, not a repair
RULE_WANTED = FIRST_INSTALL + ' AND NOT FIREWALL="none"'
# The firewall's actions ignore netsh's exit code: netsh fails where the firewall service is
# stopped or a policy manages the rules, and there an installation that rolls back would leave the
# machine without the service, not with it; deleting a rule that is not there fails too. At a first
# installation and a major upgrade, a rule of the name (an older installation's) is deleted, then
# the one FIREWALL chose added (a rollback deletes it); removal deletes it, but not the removal of
# the older product during a major upgrade (UPGRADINGPRODUCTCODE set), whose installation has just
# added it again. Working folder TARGETDIR (the system drive's root), which removal leaves.
# (action, type, source, target, condition, sequence, text in the install log)
ACTIONS = [
    ("FirewallRemove", DEFERRED + IGNORE_EXIT, "TARGETDIR", DELETE_RULE,
     'REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE', 2050,
     "Die Firewallregel SNTP (eingehend UDP 123) wird entfernt."),
    ("FirewallClear", DEFERRED + IGNORE_EXIT, "TARGETDIR", DELETE_RULE, FIRST_INSTALL, 5860,
     "Eine bestehende Firewallregel SNTP wird entfernt."),
    ("FirewallRollback", DEFERRED + IGNORE_EXIT + ROLLBACK, "TARGETDIR", DELETE_RULE, RULE_WANTED, 5865,
     "Die Firewallregel SNTP wird wieder entfernt."),
    ("FirewallSubnet", DEFERRED + IGNORE_EXIT, "TARGETDIR", ADD_RULE + "localsubnet",
     RULE_WANTED + ' AND NOT FIREWALL="any"', 5870,
     "Die Firewallregel SNTP erlaubt dem Dienst SNTP eingehend UDP 123 aus den lokalen Subnetzen (FIREWALL=subnet)."),
    ("FirewallAny", DEFERRED + IGNORE_EXIT, "TARGETDIR", ADD_RULE + "any", FIRST_INSTALL + ' AND FIREWALL="any"',
     5871, "Die Firewallregel SNTP erlaubt dem Dienst SNTP eingehend UDP 123 von allen Adressen (FIREWALL=any)."),
    # W32Time sets the clock too and may hold UDP 123. W32TIMESTART (an AppSearch of its start
    # type in the registry, "#2" automatic, "#3" on demand, "#4" disabled) is set where it is
    # installed; "keep" only says so in the install log (the action's text, and the property it
    # sets with the start type). "disable" disables it first, so that no trigger starts it again,
    # then stops it with "net stop", which waits until it has stopped and freed the port before
    # SNTP starts; both outcomes ignored (W32Time missing or already stopped).
    ("W32TimeKept", SET_PROPERTY, "W32TIMEKEPT",
     "W32Time installiert, Starttyp [W32TIMESTART], bleibt so (W32TIME=keep)",
     'W32TIMESTART AND NOT W32TIME="disable" AND NOT REMOVE="ALL"', 60,
     "Der Windows-Zeitdienst W32Time ist installiert und bleibt, wie er ist (W32TIME=keep): stellt auch er "
     "die Uhr oder belegt er UDP 123, mit W32TIME=disable installieren."),
    ("W32TimeDisable", DEFERRED + IGNORE_EXIT, "TARGETDIR", '"[System64Folder]sc.exe" config W32Time start= disabled',
     'W32TIME="disable" AND NOT REMOVE="ALL"', 5930,
     "Der Windows-Zeitdienst W32Time wird deaktiviert (W32TIME=disable)."),
    ("W32TimeStop", DEFERRED + IGNORE_EXIT, "TARGETDIR", '"[System64Folder]net.exe" stop W32Time',
     'W32TIME="disable" AND NOT REMOVE="ALL"', 5935,
     "Der Windows-Zeitdienst W32Time wird angehalten (W32TIME=disable)."),
]

# The status folder ProgramData\chron (STATUSDIR, created by CreateFolders) gets rights of its own,
# not inherited from ProgramData, where every user may create files: owner Administrators, full
# control for SYSTEM and Administrators, modify (0x1301bf: all but changing rights and owner) for
# the service's SID, read for Users; folders and files below inherit them (OICI). The SDDL of
# MsiLockPermissionsEx takes no properties and the account NT SERVICE\SNTP exists only once the
# service is installed, after CreateFolders: the SID is written out.
LOCK_PERMISSIONS = """CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL,
`LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDLText` CHAR(0) NOT NULL, `Condition` CHAR(255)
PRIMARY KEY `MsiLockPermissionsEx`)"""
STATUS_SDDL = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;%s)(A;OICI;FR;;;BU)"


# Public properties the installation's server side takes from the command line or the interface
# also where the one who starts it is no administrator (UAC, an elevated or managed installation).
SECURE = ["FIREWALL", "W32TIME"]


def service_sid(name):
    """The SID of NT SERVICE\\<name> ("sc showsid <name>"): S-1-5-80- and the SHA-1 of the upper-case
    name in UTF-16LE as five 32-bit sub-authorities, each little-endian."""
    digest = hashlib.sha1(name.upper().encode("utf-16-le")).digest()
    return "S-1-5-80-" + "-".join(str(part) for part in struct.unpack("<5I", digest))


def quoted(text):
    return "'" + text.replace("'", "''") + "'"


def default_rows(path, value):
    """The rows that write the default of one setting where it is absent."""
    name = "Default" + path.replace("\\", "")
    key, _, value_name = (PRODUCT_KEY + "\\" + path).rpartition("\\")
    found = name.upper() + "FOUND"
    code = "{%s}" % str(uuid.uuid5(DEFAULT_NAMESPACE, path)).upper()
    registry = {"Registry": quoted(name), "Root": "2", "Key": quoted(key), "Name": quoted(value_name),
                "Component_": quoted(name)}
    if value is not None:  # without a Value (Null) the value is written as an empty REG_SZ
        registry["Value"] = quoted(value)
    return [
        "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`, `KeyPath`) "
        "VALUES (%s, %s, 'INSTALLDIR', %d, %s, %s)"
        % (quoted(name), quoted(code), DEFAULT_ATTRIBUTES, quoted("NOT " + found), quoted(name)),
        "INSERT INTO `Registry` (%s) VALUES (%s)" % (", ".join("`%s`" % column for column in registry),
                                                      ", ".join(registry.values())),
        "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Complete', %s)" % quoted(name),
        "INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES (%s, 2, %s, %s, %d)"
        % (quoted(name), quoted(key), quoted(value_name), DEFAULT_LOCATOR_TYPE),
        "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES (%s, %s)" % (quoted(found), quoted(name)),
    ]


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    folder, version, output = argv[1:]
    chronstat = "yes" if os.path.exists(os.path.join(folder, "chronstat.exe")) else "no"
    output = os.path.abspath(output)
    with tempfile.TemporaryDirectory() as scratch:
        icon = os.path.join(scratch, "chron.ico")
        subprocess.run([sys.executable, os.path.join(TOP, "applet", "win32", "xpm_to_ico.py"),
                        os.path.join(TOP, "applet", "chroncfg.xpm"), icon], check=True)
        # wixl takes the files' sources relative to its working directory, never as absolute paths.
        subprocess.run(["wixl", "-a", "x64", "-D", "Version=" + version, "-D", "Chronstat=" + chronstat,
                        "-D", "Icon=" + os.path.relpath(icon, folder), "-o", output, SOURCE], cwd=folder, check=True)
    secure = next(line.split("\t")[1] for line in subprocess.run(
        ["msiinfo", "export", output, "Property"], check=True, capture_output=True, text=True).stdout.splitlines()
        if line.startswith("SecureCustomProperties\t"))
    queries = ["UPDATE `Component` SET `Condition` = %s WHERE `Component` = %s" % (quoted(condition), quoted(component))
               for component, condition in CONDITIONS.items()]
    # wixl writes an expandable value as a plain string; "#%" marks REG_EXPAND_SZ in the Registry table.
    queries.append("UPDATE `Registry` SET `Value` = '#%[INSTALLDIR]chronsvc.exe' WHERE `Name` = 'EventMessageFile'")
    queries.append(" ".join(SERVICE_CONFIG.split()))
    queries.append(" ".join(FAILURE_ACTIONS.split()))
    config = ("INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, "
              "`Component_`) VALUES (%s, 'SNTP', 1, %d, %s, %s)")
    for component in CONDITIONS:
        queries.append(config % (quoted("Privileges" + component), 6, quoted("SeSystemtimePrivilege[~]"),
                                 quoted(component)))
        queries.append(config % (quoted("FailureFlag" + component), FAILURE_ACTIONS_FLAG, "'1'", quoted(component)))
        queries.append("INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, "
                       "`Event`, `ResetPeriod`, `Actions`, `DelayActions`, `Component_`) "
                       "VALUES (%s, 'SNTP', 1, %d, %s, %s, %s)"
                       % (quoted("Restart" + component), RESTARTS[2], quoted(RESTARTS[0]), quoted(RESTARTS[1]),
                          quoted(component)))
        queries.append(config % (quoted("Sid" + component), SERVICE_SID_INFO, "'1'", quoted(component)))
    queries.append(config % ("'DelayedServiceAuto'", DELAYED_AUTO_START, "'1'", "'ServiceAuto'"))
    queries.append("CREATE TABLE `ActionText` (`Action` CHAR(72) NOT NULL, `Description` CHAR(0) LOCALIZABLE, "
                   "`Template` CHAR(0) LOCALIZABLE PRIMARY KEY `Action`)")
    queries.append("INSERT INTO `ActionText` (`Action`, `Description`) VALUES (%s, %s)"
                   % (quoted(START_ACTION[0]), quoted(START_TEXT)))
    queries.append("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES (%s, %d, %s, %s)"
                   % (quoted(START_ACTION[0]), START_ACTION[1], quoted(START_ACTION[2]), quoted(START_ACTION[3])))
    queries.append("INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES (%s, %s, %d)"
                   % (quoted(START_ACTION[0]), quoted(START_CONDITION), START_SEQUENCE))
    queries.append("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MsiConfigureServices', %d)"
                   % CONFIGURE_SEQUENCE)
    for action, kind, source, target, condition, sequence, text in ACTIONS:
        queries.append("INSERT INTO `ActionText` (`Action`, `Description`) VALUES (%s, %s)"
                       % (quoted(action), quoted(text)))
        queries.append("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES (%s, %d, %s, %s)"
                       % (quoted(action), kind, quoted(source), quoted(target)))
        queries.append("INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES (%s, %s, %d)"
                       % (quoted(action), quoted(condition), sequence))
    queries.append("UPDATE `Property` SET `Value` = %s WHERE `Property` = 'SecureCustomProperties'"
                   % quoted(";".join(secure.split(";") + SECURE)))
    queries.append(" ".join(LOCK_PERMISSIONS.split()))
    queries.append("INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDLText`) "
                   "VALUES ('StatusFolder', 'STATUSDIR', 'CreateFolder', %s)"
                   % quoted(STATUS_SDDL % service_sid("SNTP")))
    for action, start_type, value in START_FROM_SERVICE:
        queries.append("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
                       "VALUES (%s, 51, 'SNTPSTART', %s)" % (quoted(action), quoted(value)))
        for sequence in ("InstallExecuteSequence", "InstallUISequence"):
            queries.append("INSERT INTO `%s` (`Action`, `Condition`, `Sequence`) VALUES (%s, %s, %d)"
                           % (sequence, quoted(action), quoted('NOT SNTPSTART AND SNTPSERVICESTART="%s"' % start_type),
                              START_FROM_SERVICE_SEQUENCE))
    for path, value in DEFAULTS:
        queries.extend(default_rows(path, value))
    subprocess.run(["msibuild", output] + [part for query in queries for part in ("-q", query)], check=True)
    # The summary information's language: wixl writes 1033 whatever the product's language is.
    subprocess.run(["msibuild", output, "-s", "SNTP v4 Client/Server für Windows NT", "Orbek", "x64;1031"], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
