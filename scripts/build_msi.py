#!/usr/bin/env python3
"""Builds the Windows Installer package from windows/chron.wxs.

    scripts/build_msi.py <folder of the programs> <version a.b.c> <output.msi>

wixl (msitools) compiles the package; msibuild then adds what wixl has no element for:
- the conditions of the three service components (one per value of the public property SNTPSTART),
- the event source's message file as REG_EXPAND_SZ, as the install script writes it,
- the service's required privileges (SeSystemtimePrivilege alone) as an MsiServiceConfig row,
  applied by the standard action MsiConfigureServices (Windows Installer 5.0, Windows 7 on);
  with it the delayed automatic start (SNTPSTART=auto), the failure actions flag (a stop with an
  exit code other than 0, such as 55 without a usable address, counts as a failure) and, in an
  MsiServiceConfigFailureActions row, failure actions that restart the service after a minute;
- the start at the end of the installation as a custom action that runs "sc start SNTP" and
  ignores its outcome, with the text the install log shows for it (ActionText).
chronstat.exe goes in when the folder holds it.
"""

import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(TOP, "windows", "chron.wxs")

# Component -> the condition under which it is installed.
CONDITIONS = {
    "ServiceAuto": 'NOT SNTPSTART="demand" AND NOT SNTPSTART="none"',
    "ServiceDemand": 'SNTPSTART="demand"',
    "ServiceNone": 'SNTPSTART="none"',
}
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


def quoted(text):
    return "'" + text.replace("'", "''") + "'"


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    folder, version, output = argv[1:]
    chronstat = "yes" if os.path.exists(os.path.join(folder, "chronstat.exe")) else "no"
    output = os.path.abspath(output)
    # wixl takes the files' sources relative to its working directory.
    subprocess.run(["wixl", "-a", "x64", "-D", "Version=" + version, "-D", "Chronstat=" + chronstat, "-o", output,
                    SOURCE], cwd=folder, check=True)
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
    for query in queries:
        subprocess.run(["msibuild", output, "-q", query], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
