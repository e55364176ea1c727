#!/usr/bin/env python3
"""Checks that Windows programs load on the oldest Windows the build claims (Windows 7, 6.1).

    scripts/check_pe_imports.py <program.exe|library.dll|applet.cpl>...

Reads each file's PE import table (32-bit and 64-bit images) and fails when the program imports
a DLL that Windows 7 lacks or a function that one of its DLLs gained only in a later Windows:
such an import stops the program before its first line runs. The functions are those that a
mingw-w64 build can reach through the Windows headers of _WIN32_WINNT 0x0601 and its libraries
(they declare some of the newer ones regardless). Also fails when the image asks for a newer
subsystem version than 6.1, which the Windows 7 loader refuses. Prints each fault; exit 1 if any.
"""

import struct
import sys

MINIMUM = (6, 1)  # Windows 7

# DLLs that Windows 7 does not have (API sets and the universal C runtime came later).
MISSING_DLL_PREFIXES = ("api-ms-win-", "ext-ms-win-", "ucrtbase", "vcruntime140", "shcore", "dcomp")

# Functions added after Windows 7, by DLL (lower case).
LATER_FUNCTIONS = {
    "kernel32.dll": {
        "GetSystemTimePreciseAsFileTime", "CreateFile2", "CopyFile2", "GetCurrentThreadStackLimits",
        "WaitOnAddress", "WakeByAddressSingle", "WakeByAddressAll", "SetThreadDescription",
        "GetThreadDescription", "PrefetchVirtualMemory", "GetOverlappedResultEx", "GetFirmwareType",
        "GetProcessInformation", "SetProcessInformation", "GetThreadInformation", "SetThreadInformation",
        "GetProcessMitigationPolicy", "SetProcessMitigationPolicy", "GetSystemTimeAdjustmentPrecise",
        "SetSystemTimeAdjustmentPrecise", "QueryInterruptTime", "QueryInterruptTimePrecise",
        "QueryUnbiasedInterruptTimePrecise", "DiscardVirtualMemory", "OfferVirtualMemory",
        "ReclaimVirtualMemory", "CreateFileMappingFromApp", "MapViewOfFileFromApp", "GetCurrentPackageId",
        "GetCurrentPackageFullName", "GetPackageFullName", "VirtualAlloc2", "MapViewOfFile3",
        "GetSystemCpuSetInformation", "SetThreadSelectedCpuSets", "GetIntegratedDisplaySize",
    },
    "user32.dll": {
        "GetDpiForWindow", "GetDpiForSystem", "SetProcessDpiAwarenessContext", "SetThreadDpiAwarenessContext",
        "GetSystemMetricsForDpi", "AdjustWindowRectExForDpi", "EnableNonClientDpiScaling",
        "SystemParametersInfoForDpi", "GetPointerInfo", "EnableMouseInPointer", "GetPointerType",
    },
    "advapi32.dll": {"GetAppContainerNamedObjectPath", "CveEventWrite"},
    "bcrypt.dll": {"BCryptHash", "BCryptKeyDerivation", "BCryptCreateMultiHash", "BCryptProcessMultiOperations"},
    "ws2_32.dll": {"GetAddrInfoExCancel", "GetAddrInfoExOverlappedResult"},
}

IMPORT_DIRECTORY = 1  # index of the import table in the optional header's data directories


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        self.optional = pe + 24
        magic = struct.unpack_from("<H", data, self.optional)[0]
        self.wide = magic == 0x20B  # PE32+: 64-bit thunks, data directories 16 bytes further on
        self.subsystem_version = struct.unpack_from("<HH", data, self.optional + 48)
        directories = self.optional + (112 if self.wide else 96)
        self.import_rva = struct.unpack_from("<I", data, directories + 8 * IMPORT_DIRECTORY)[0]
        table = self.optional + optional_size
        # (virtual address, size, file offset) of each section.
        self.sections = []
        for i in range(sections):
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((address, max(size, raw_size), raw))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"address {rva:#x} outside every section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")

    def imports(self):
        """(DLL name, function name or "#ordinal") of each import."""
        if self.import_rva == 0:
            return
        descriptor = self.offset(self.import_rva)
        thunk_size, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        while True:
            lookup, _, _, name, bound = struct.unpack_from("<IIIII", self.data, descriptor)
            if name == 0:
                return
            dll = self.text(name)
            thunk = self.offset(lookup or bound)
            while True:
                value = int.from_bytes(self.data[thunk:thunk + thunk_size], "little")
                if value == 0:
                    break
                yield dll, f"#{value & 0xFFFF}" if value & ordinal_flag else self.text((value & 0x7FFFFFFF) + 2)
                thunk += thunk_size
            descriptor += 20


def faults_of(path):
    with open(path, "rb") as file:
        image = Image(file.read())
    if image.subsystem_version > MINIMUM:
        yield "subsystem version %d.%d" % image.subsystem_version
    for dll, function in image.imports():
        lower = dll.lower()
        if lower.startswith(MISSING_DLL_PREFIXES):
            yield f"{dll} (no such DLL)"
        elif function in LATER_FUNCTIONS.get(lower, ()):
            yield f"{dll}!{function}"


def main(paths):
    if not paths:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    failed = False
    for path in paths:
        faults = sorted(set(faults_of(path)))
        for fault in faults:
            print(f"{path}: needs a Windows newer than {MINIMUM[0]}.{MINIMUM[1]}: {fault}")
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
