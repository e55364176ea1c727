#!/usr/bin/env python3
"""Generates the catalogue's code from its one source, catalogue.txt.

    generate_catalogue.py <catalogue.txt> <output directory>

writes into <output directory>:
  messages/message_ids.h        msg::k<Name>: identifier and insertion kinds of every message
  messages/catalogue_table.inc  CHRON_MESSAGE(identifier, "stored text", "kinds") per message
  chron_messages.mc             the Windows message-table source (UTF-8)
Stops with "catalogue.txt:<line>: <reason>" on an entry that breaks the rules in catalogue.txt.
"""

import os
import re
import sys

SEVERITIES = ["success", "informational", "warning", "error"]
MC_SEVERITY = ["Success", "Informational", "Warning", "Error"]
FACILITY = 0x100
HEADER = re.compile(r"^0x([0-9a-f]{8}) (success|informational|warning|error) ([A-Z][A-Za-z0-9]*)$")
TEXT_INDENT = "    "


class CatalogueError(Exception):
    pass


class Entry:
    def __init__(self, line, ident, severity, name):
        self.line = line
        self.id = ident
        self.severity = severity
        self.name = name
        self.lines = []  # text lines; joined by CR LF
        self.kinds = ""  # one letter per insertion 1..n: t text, n number

    @property
    def text(self):
        return "\r\n".join(self.lines)


def insertion_kinds(text):
    """The kinds of insertions %1..%n in `text`, read as the formatter reads them."""
    kinds = {}
    i = 0
    while i < len(text):
        if text[i] != "%":
            i += 1
            continue
        if i + 1 == len(text):
            break
        escape = text[i + 1]
        i += 2
        if escape == "0":
            break
        if not escape.isdigit():
            continue
        number = int(escape)
        if i < len(text) and text[i].isdigit():
            number = number * 10 + int(text[i])
            i += 1
        kind = "t"
        if i < len(text) and text[i] == "!":
            end = text.find("!", i + 1)
            if end < 0:
                raise CatalogueError(f"insertion %{number} has no closing '!'")
            spec = text[i + 1:end]
            if not re.fullmatch(r"[-+ #0]*[0-9]{0,3}(\.[0-9]{0,3})?[hl]*[diuxXocs]", spec):
                raise CatalogueError(f"insertion %{number} has a conversion the formatter does not know: !{spec}!")
            kind = "t" if spec.endswith("s") else "n"
            i = end + 1
        if number == 0:
            raise CatalogueError("insertions are numbered from 1")
        if kinds.setdefault(number, kind) != kind:
            raise CatalogueError(f"insertion %{number} is used both as a text and as a number")
    if sorted(kinds) != list(range(1, len(kinds) + 1)):
        raise CatalogueError(f"insertions are not numbered 1..n without gaps: {sorted(kinds)}")
    return "".join(kinds[n] for n in sorted(kinds))


def parse(path):
    entries = []
    with open(path, encoding="utf-8") as source:
        for number, raw in enumerate(source, start=1):
            line = raw.rstrip("\n")
            try:
                if line.startswith("#") or line == "":
                    continue
                if line.startswith(TEXT_INDENT):
                    if not entries:
                        raise CatalogueError("text line before the first entry")
                    text = line[len(TEXT_INDENT):]
                    if text != text.rstrip() or text == "" or text == ".":
                        raise CatalogueError("a text line is not empty, not '.' and ends without blanks")
                    entries[-1].lines.append(text)
                    continue
                match = HEADER.match(line)
                if not match:
                    raise CatalogueError("expected '<0x identifier> <severity> <Name>' or an indented text line")
                ident = int(match.group(1), 16)
                severity = SEVERITIES.index(match.group(2))
                if ident >> 30 != severity:
                    raise CatalogueError(f"severity {match.group(2)} does not match the identifier's top bits")
                if ident & 0x30000000 or (ident >> 16) & 0xFFF != FACILITY:
                    raise CatalogueError("customer and reserved bits must be 0, facility 0x100")
                if entries and not entries[-1].lines:
                    raise CatalogueError("the previous entry has no text")
                entries.append(Entry(number, ident, severity, match.group(3)))
            except CatalogueError as error:
                sys.exit(f"{path}:{number}: {error}")
    seen_codes = {}
    seen_names = set()
    previous = -1
    for entry in entries:
        try:
            if not entry.lines:
                raise CatalogueError("the entry has no text")
            if entry.id <= previous:
                raise CatalogueError("entries must be sorted by identifier")
            previous = entry.id
            if entry.id & 0xFFFF in seen_codes:
                raise CatalogueError(f"code 0x{entry.id & 0xFFFF:x} is used twice")
            seen_codes[entry.id & 0xFFFF] = entry
            if entry.name in seen_names:
                raise CatalogueError(f"name {entry.name} is used twice")
            seen_names.add(entry.name)
            entry.kinds = insertion_kinds(entry.text)
        except CatalogueError as error:
            sys.exit(f"{path}:{entry.line}: {error}")
    return entries


def c_string(text):
    out = []
    for char in text:
        if char == "\\" or char == '"':
            out.append("\\" + char)
        elif char == "\r":
            out.append("\\r")
        elif char == "\n":
            out.append("\\n")
        elif ord(char) < 0x20:
            raise CatalogueError(f"control character {ord(char):#x} in a text")
        else:
            out.append(char)
    return '"' + "".join(out) + '"'


def macro_name(name):
    return "MSG_" + re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).upper()


def message_ids(entries):
    kind_names = {"t": "InsertionKind::kText", "n": "InsertionKind::kNumber"}
    out = [
        "// Generated from messages/catalogue.txt by messages/generate_catalogue.py: do not edit.",
        "// Every catalogue message by name, with the kinds of its insertions %1..%n in its type, so",
        "// that ReportMessage(msg::kName, {...}) compiles only with the arguments the text needs.",
        "#pragma once",
        "",
        '#include "messages/message.h"',
        "",
        "namespace chron::msg {",
        "",
    ]
    for entry in entries:
        kinds = ", ".join(kind_names[k] for k in entry.kinds)
        first_line = entry.lines[0] if len(entry.lines) == 1 else entry.lines[0] + " ..."
        out.append(f"// {first_line}")
        out.append(f"inline constexpr Message<{kinds}> k{entry.name}{{0x{entry.id:08x}}};")
    out += ["", "}  // namespace chron::msg", ""]
    return "\n".join(out)


def catalogue_table(entries):
    out = [
        "// Generated from messages/catalogue.txt by messages/generate_catalogue.py: do not edit.",
        "// CHRON_MESSAGE(identifier, stored text without its final CR LF, insertion kinds), sorted.",
    ]
    for entry in entries:
        out.append(f"CHRON_MESSAGE(0x{entry.id:08x}, {c_string(entry.text)}, \"{entry.kinds}\")")
    out.append("")
    return "\n".join(out)


def message_table_source(entries):
    out = [
        "; Generated from messages/catalogue.txt by messages/generate_catalogue.py: do not edit.",
        "; The message table of the programs, in UTF-8 (windmc -C 65001 -U). Each text ends in CR LF",
        "; unless %0 stops it; a line break inside a text is a CR LF of the text.",
        "",
        "MessageIdTypedef=DWORD",
        "",
        "SeverityNames=(Success=0x0:STATUS_SEVERITY_SUCCESS",
        "               Informational=0x1:STATUS_SEVERITY_INFORMATIONAL",
        "               Warning=0x2:STATUS_SEVERITY_WARNING",
        "               Error=0x3:STATUS_SEVERITY_ERROR",
        "              )",
        "",
        f"FacilityNames=(Chron=0x{FACILITY:x}:FACILITY_CHRON)",
        "",
        "LanguageNames=(German=0x407:MSG00407)",
        "",
    ]
    for entry in entries:
        out.append(f"MessageId=0x{entry.id & 0xFFFF:x}")
        out.append(f"Severity={MC_SEVERITY[entry.severity]}")
        out.append("Facility=Chron")
        out.append(f"SymbolicName={macro_name(entry.name)}")
        out.append("Language=German")
        out.extend(entry.lines)
        out.append(".")
        out.append("")
    return "\n".join(out)


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write(content)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, out_dir = sys.argv[1], sys.argv[2]
    entries = parse(source)
    try:
        outputs = {
            "messages/message_ids.h": message_ids(entries),
            "messages/catalogue_table.inc": catalogue_table(entries),
            "chron_messages.mc": message_table_source(entries),
        }
    except CatalogueError as error:
        sys.exit(f"{source}: {error}")
    for name, content in outputs.items():
        write(os.path.join(out_dir, name), content)


if __name__ == "__main__":
    main()
