#!/usr/bin/env python3
"""Checks that the include graph of the layers only points down:

    platform <- config, messages <- engine <- service <- win95;
    platform <- status <- engine;  status, platform <- chronstat;
    config, platform <- applet

A source file of a layer may include headers of its own layer and of the layers below it
(`#include "<layer>/..."`), nothing else of the project. The protocol core, the sources of the
chron_core library in engine/CMakeLists.txt, may include only its own headers and the platform's
declarations of addresses and of the clock's interface: no I/O. Tests, benchmarks and the build files
are not checked. Prints each offending line and exits 1 if there is one.
"""

import pathlib
import re
import sys

ALLOWED = {
    "platform": {"platform"},
    "config": {"config", "platform"},
    "messages": {"messages", "platform"},
    "status": {"status", "platform"},
    "engine": {"engine", "status", "config", "messages", "platform"},
    "service": {"service", "engine", "status", "config", "messages", "platform"},
    "win95": {"win95", "service", "engine", "status", "config", "messages", "platform"},
    "chronstat": {"chronstat", "status", "platform"},
    "applet": {"applet", "config", "platform"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')
HEADER = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
CORE_PLATFORM = {"platform/address.h", "platform/clock.h"}


def core_stems(top):
    """The stems of the core's sources, from the chron_core library of engine/CMakeLists.txt."""
    text = (top / "engine" / "CMakeLists.txt").read_text(encoding="utf-8")
    block = re.search(r"add_library\(chron_core STATIC([^)]*)\)", text)
    return {pathlib.Path(name).stem for name in block.group(1).split()} if block else set()


def core_faults(top):
    stems = core_stems(top)
    allowed = {f"engine/{stem}.h" for stem in stems} | CORE_PLATFORM
    faults = 0
    for stem in sorted(stems):
        for path in (top / "engine" / f"{stem}.h", top / "engine" / f"{stem}.cpp"):
            if not path.is_file():
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1):
                match = HEADER.match(line)
                if match and match.group(1) not in allowed:
                    print(f"{path.relative_to(top)}:{number}: the core includes {match.group(1)}")
                    faults += 1
    return len(stems), faults
SOURCE_SUFFIXES = {".h", ".cpp", ".inc"}


def main():
    top = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    layers = set(ALLOWED)
    faults = 0
    checked = 0
    for layer, allowed in sorted(ALLOWED.items()):
        for path in sorted((top / layer).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                continue
            checked += 1
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1):
                match = INCLUDE.match(line)
                if match and match.group(1) in layers and match.group(1) not in allowed:
                    print(f"{path.relative_to(top)}:{number}: layer {layer} includes {match.group(1)}: {line.strip()}")
                    faults += 1
    if checked == 0:
        print(f"no sources found below {top}")
        return 1
    core_files, core_faults_found = core_faults(top)
    if core_files == 0:
        print("no core library found in engine/CMakeLists.txt")
        return 1
    print(f"include graph: {checked} files, {faults} upward includes; core: {core_files} units, "
          f"{core_faults_found} includes beyond it")
    return 1 if faults or core_faults_found else 0


if __name__ == "__main__":
    sys.exit(main())
