#!/usr/bin/env python3
"""Builds the Windows Installer package from windows/chron.wxs.

    scripts/build_msi.py <folder of the programs> <version a.b.c> <output.msi>

wixl (msitools) compiles the package; msibuild then adds what wixl has no element for:
- the conditions of the three service components (one per value of the public property SNTPSTART),
- the event source's message file as REG_EXPAND_SZ, as the install script writes it,
- the service's required privileges (SeSystemtimePrivilege alone) as an MsiServiceConfig row,
  applied by the standard action MsiConfigureServices (Windows Installer 5.0, Windows 7 on).
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
# After InstallServices (5800), before StartServices (5900), as in Windows Installer's own order.
CONFIGURE_SEQUENCE = 5850


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
    for component in CONDITIONS:
        queries.append("INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, "
                       "`Argument`, `Component_`) VALUES (%s, 'SNTP', 1, 6, 'SeSystemtimePrivilege[~]', %s)"
                       % (quoted("Privileges" + component), quoted(component)))
    queries.append("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MsiConfigureServices', %d)"
                   % CONFIGURE_SEQUENCE)
    for query in queries:
        subprocess.run(["msibuild", output, "-q", query], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
