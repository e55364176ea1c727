#!/usr/bin/env python3
"""Checks that the include graph of the layers only points down:

    platform <- config, messages <- engine <- service <- win95;
    platform <- status <- engine;  status, platform <- chronstat;
    config, platform <- applet

A source file of a layer may include headers of its own layer and of the layers below it
(`#include "<layer>/..."`), nothing else of the project. Tests, benchmarks and the build files
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
    print(f"include graph: {checked} files, {faults} upward includes")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
