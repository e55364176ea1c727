#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: corpus/<target>/<seed>, valid inputs that reach
the main paths of each target. Run it after changing what a target reads from its input:

    tests/fuzz/make_corpus.py

The binary inputs follow libFuzzer's FuzzedDataProvider: numbers are taken from the end of the
input (the first byte taken is the most significant), texts and byte runs from the front, a
text ending at a backslash followed by any other byte (a backslash itself is doubled)."""

import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"


class Input:
    """An input as FuzzedDataProvider will take it apart, built in the order it is taken."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the bytes are taken

    def integer(self, value, low, high):
        assert low <= value <= high
        span = high - low
        offset = value - low
        width = 0
        while width < 8 and (span >> (8 * width)) > 0:
            width += 1
        self.back += offset.to_bytes(width, "big") if width else b""
        return self

    def boolean(self, value):
        return self.integer(int(bool(value)), 0, 255)

    def u8(self, value):
        return self.integer(value, 0, 0xFF)

    def u16(self, value):
        return self.integer(value, 0, 0xFFFF)

    def u32(self, value):
        return self.integer(value, 0, 0xFFFFFFFF)

    def i32(self, value):
        return self.integer(value, -(1 << 31), (1 << 31) - 1)

    def i64(self, value):
        return self.integer(value, -(1 << 63), (1 << 63) - 1)

    def text(self, data):
        data = data.encode() if isinstance(data, str) else data
        self.front += data.replace(b"\\", b"\\\\") + b"\\;"
        return self

    def raw(self, data):
        self.front += data
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data.encode() if isinstance(data, str) else data)


# --- datagram ----------------------------------------------------------------------------------

NTP_BASE = 1714564800 + 2208988800  # 2024-05-01 12:00:00 UTC, the target's clock, NTP seconds
EVENT_POLL, EVENT_DATAGRAM, EVENT_RECEIVE_ERROR, EVENT_MOVE_CLOCK, EVENT_AUTHENTICATION, EVENT_SIGNED = range(6)
LAST_EVENT = EVENT_SIGNED
KEY_OWN, KEY_SECOND, KEY_UNKNOWN = range(3)
FROM_TIME_SERVER, FROM_TIME_SERVER_ANY_PORT, FROM_OWN_ADAPTER, FROM_ANYONE = range(4)
MAX_MOVE = 1 << 42


def ntp(mode, li=0, version=4, stratum=1, originate=0, receive=0, transmit=0, size=48):
    header = struct.pack(">BBbbIII", li << 6 | version << 3 | mode, stratum, 6, -20, 0, 0, 0x4C4F434C)
    body = struct.pack(">QQQQ", receive, originate, receive, transmit)
    return (header + body).ljust(size, b"\0")[:size]


def ts(seconds, milliseconds=0):
    return (NTP_BASE + seconds) << 32 | (milliseconds * (1 << 32) // 1000)


def datagram_input(debug=True, win95=False, client=True, broadcast=False, server=False, run_once=False,
                   limit=None, by_name=False, steps_fail=False, resolution=0):
    seed = Input().boolean(debug)
    seed.boolean(win95).boolean(client).boolean(broadcast).boolean(server).boolean(run_once)
    seed.boolean(limit is not None).u32(limit or 0).boolean(by_name).boolean(steps_fail)
    seed.integer(resolution, 0, 3)  # 1 ns, 100 ns, 1 ms, 1 s
    return seed


def network_order(address):
    """The 32-bit number whose bytes in memory (little-endian) are the dotted address."""
    return int.from_bytes(bytes(address), "little")


def datagram(seed, payload, source=FROM_ANYONE, address=(10, 0, 0, 9), port=123, adapter=0, echo=False,
             travel_ns=2_000_000, key=None, as_broadcast=None):
    """A datagram event; it arrives as a broadcast when `as_broadcast`, by default when it is one."""
    if as_broadcast is None:
        as_broadcast = len(payload) > 0 and payload[0] & 7 == 5
    seed.integer(EVENT_DATAGRAM if key is None else EVENT_SIGNED, 0, LAST_EVENT).boolean(adapter).integer(source, 0, 3)
    if source == FROM_TIME_SERVER_ANY_PORT:
        seed.u16(port)
    elif source == FROM_OWN_ADAPTER:
        seed.boolean(adapter)
    elif source == FROM_ANYONE:
        seed.u32(network_order(address)).u16(int.from_bytes(port.to_bytes(2, "big"), "little"))
    seed.boolean(as_broadcast).boolean(echo).integer(travel_ns, 0, MAX_MOVE).text(payload)
    if key is not None:
        seed.integer(key, 0, 2)


def datagram_corpus():
    addr = (192, 168, 5, 9)
    seed = datagram_input(client=False, server=True)
    datagram(seed, ntp(3, transmit=ts(-3)), address=addr, port=40000)
    datagram(seed, ntp(3, version=3, transmit=ts(-3), size=68), adapter=1)
    write("datagram", "server_request", seed.bytes())

    for name, debug, limit in (("client_reply", True, None), ("client_reply_quiet_limited", False, 180)):
        seed = datagram_input(debug=debug, limit=limit, resolution=2 if limit else 0)
        seed.integer(EVENT_POLL, 0, LAST_EVENT)
        datagram(seed, ntp(4, receive=ts(5, 500), transmit=ts(5, 501)), source=FROM_TIME_SERVER, echo=True)
        write("datagram", name, seed.bytes())

    seed = datagram_input(broadcast=True, run_once=True, by_name=True, resolution=1)
    seed.integer(EVENT_POLL, 0, LAST_EVENT)
    datagram(seed, ntp(5, transmit=ts(-40)), address=addr)
    datagram(seed, ntp(5, transmit=ts(1)), source=FROM_OWN_ADAPTER)
    datagram(seed, ntp(4, li=3, transmit=ts(1)), source=FROM_TIME_SERVER_ANY_PORT, port=123, echo=True)
    write("datagram", "client_broadcast", seed.bytes())

    seed = datagram_input(server=True, broadcast=True, steps_fail=True, resolution=3)
    seed.integer(EVENT_POLL, 0, LAST_EVENT)
    seed.integer(EVENT_MOVE_CLOCK, 0, LAST_EVENT).integer(-3_000_000_000, -MAX_MOVE, MAX_MOVE)
    datagram(seed, ntp(4, transmit=ts(2)), source=FROM_TIME_SERVER, echo=True, travel_ns=1_500_000_000)
    datagram(seed, ntp(3, transmit=ts(1)), source=FROM_OWN_ADAPTER)
    datagram(seed, ntp(5, transmit=ts(3)), as_broadcast=False)
    datagram(seed, b"\x1b" + b"\0" * 9)
    datagram(seed, b"\x23" * 200)
    datagram(seed, b"")
    seed.integer(EVENT_RECEIVE_ERROR, 0, LAST_EVENT).boolean(0).integer(111, 1, 200)
    write("datagram", "mixed", seed.bytes())

    # A key file of two keys: signed poll and reply, requests signed with each key.
    seed = datagram_input(server=True)
    seed.integer(EVENT_AUTHENTICATION, 0, LAST_EVENT).integer(2, 0, 2)
    seed.integer(EVENT_POLL, 0, LAST_EVENT)
    datagram(seed, ntp(4, receive=ts(2), transmit=ts(2)), source=FROM_TIME_SERVER, echo=True, key=KEY_OWN)
    datagram(seed, ntp(4, receive=ts(2), transmit=ts(2)), source=FROM_TIME_SERVER, echo=True, key=KEY_SECOND)
    datagram(seed, ntp(3, transmit=ts(1)), address=addr, key=KEY_SECOND)
    datagram(seed, ntp(3, transmit=ts(1)), address=addr, key=KEY_UNKNOWN)
    datagram(seed, ntp(3, transmit=ts(1), size=68), address=addr)
    datagram(seed, ntp(3, transmit=ts(1)), address=addr)
    write("datagram", "authenticated", seed.bytes())


# --- hive --------------------------------------------------------------------------------------

def hive_corpus():
    write("hive", "settings.reg", r'''REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01]
"IPQueryType"="SNMP"

[HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01\Client]
"Active"=dword:00000001
"Broadcast"=dword:00000000
"TimeSource"="10.0.0.1"
"PollInterval"=dword:00000040
"MaxDiffSecond"=dword:000000b4

[HKEY_LOCAL_MACHINE\SOFTWARE\Orbek\SNTP\1.01\Server]
"Active"=dword:00000001
"TimeSource"="LOCAL"
''')
    write("hive", "bindings.reg", "\ufeffREGEDIT4\r\n\r\n"
          "; Windows NT bindings\r\n"
          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage]\r\n"
          "\"Bind\"=hex(7):5c,44,65,76,69,63,65,5c,65,74,68,30,00,00\r\n"
          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ETH0\\Parameters\\TCPIP]\r\n"
          "\"IpAddress\"=hex(7):31,39,32,2e,31,36,38,2e,31,2e,31,30,00,31,39,32,2e,31,36,38,2e,31,\\\r\n"
          "  2e,31,31,00,00\r\n")
    write("hive", "kinds.reg", 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n@="root"\n\n'
          '[hkey_local_machine\\A\\b]\n"q\\"uote"="back\\\\slash \xc3\xa4"\n"bin"=hex:00,ff\n'
          '"none"=hex(0):\n"odd"=hex(4):01,02\n"text"=hex(1):61,0a,62,00\n'
          '"big"=hex(b):01,02,03,04,05,06,07,08\n"B"="replaces bin"\n[HKEY_LOCAL_MACHINE\\a\\C]\n')
    # Read as registry operations: create-only flag, type, key path, then value name and data.
    ops = Input()
    for create_only, reg_type, key, name, data in (
            (False, 4, "SOFTWARE\\Orbek\\SNTP\\1.01\\Client", "Active", b"\1\0\0\0"),
            (False, 1, "SOFTWARE\\a] b \\\tc", 'q"uo\\te', "zwei\nZeilen \u00e4\0".encode()),
            (False, 7, "SYSTEM\\x", "", b"a\0b\0\0"),
            (True, 0, "SOFTWARE\\" + "k" * 300, "", b""),
            (True, 0, "\\".join(["d"] * 513), "", b"")):
        ops.boolean(create_only).integer(reg_type, 0, 11).text(key)
        if not create_only:
            ops.text(name).text(data)
    write("hive", "operations", ops.bytes())
    write("hive", "empty.reg", "")
    write("hive", "refused.reg", 'REGEDIT4\n[HKEY_LOCAL_MACHINE\\x]\n"v"=dword:123456789\n')


# --- format ------------------------------------------------------------------------------------

def format_input(args, entry, stored):
    seed = Input().integer(len(args), 0, 99)
    for arg in args:
        seed.boolean(isinstance(arg, int))
        if isinstance(arg, int):
            seed.i64(arg)
        else:
            seed.text(arg)
    # The catalogue has fewer than 256 entries: its index takes one byte.
    seed.integer(entry, 0, 255)
    return seed.raw(stored.encode()).bytes()


def format_corpus():
    write("format", "texts", format_input(["eth0", "10.0.0.5"], 2, "SNTP-Init: Der Netzwerkadapter %1 (%2) ist betriebsbereit.%0"))
    write("format", "conversions", format_input([-1, 64, "abc", 65, 8], 11, "%1!08X! %2!+5d! %3!-6.2s!|%4!c!%5!#o!%2!lu!%n%r%t%%%!%."))
    write("format", "missing", format_input([7], 0, "%2 %1!q! %1!d%0ignored"))
    write("format", "plain", format_input([], 5, "ohne Einfügungen äöü\r\n"))


# --- registry adapters -------------------------------------------------------------------------

BIND, ADAPTER_ADDRESSES, NETTRANS_ADDRESS, KEY_ONLY = range(4)
REG_SZ, REG_BINARY, REG_MULTI_SZ = 1, 3, 7


def multi_sz(*texts):
    return b"".join(t.encode() + b"\0" for t in texts) + b"\0"


def registry_input(debug, records):
    seed = Input().boolean(debug)
    for kind, reg_type, name, value in records:
        seed.integer(kind, 0, 3).integer(reg_type, 0, 11).text(name).text(value)
    return seed.bytes()


def registry_corpus():
    write("registry_adapters", "nt_bindings", registry_input(True, [
        (BIND, REG_MULTI_SZ, "", multi_sz("\\Device\\eth0", "\\Device\\NdisWan5", "\\Device\\ El90x1 ", "\\Device\\lo")),
        (ADAPTER_ADDRESSES, REG_MULTI_SZ, "ETH0", multi_sz("192.168.1.10", "192.168.1.11", "0.0.0.0")),
        (ADAPTER_ADDRESSES, REG_MULTI_SZ, "El90x1", multi_sz("10.1.2.3", "keine Adresse")),
        (KEY_ONLY, REG_SZ, "lo", b""),
    ]))
    write("registry_adapters", "win95_classes", registry_input(False, [
        (NETTRANS_ADDRESS, REG_SZ, "0000", b"10.0.0.7\0"),
        (NETTRANS_ADDRESS, REG_BINARY, "0001", b"127.0.0.1"),
        (NETTRANS_ADDRESS, REG_SZ, "0002", b"255.255.255.255\0"),
        (KEY_ONLY, REG_SZ, "0003", b""),
        (BIND, REG_SZ, "", b"\\Device\\"),
    ]))


# --- SNMP adapters -----------------------------------------------------------------------------

NO_BINDING, COLUMN_ROW, COLUMN_PREFIX, ANY_NAME = range(4)
IP_ADDRESS, INTEGER = 0x40, 0x02


def snmp_answer(seed, result, kind, row=(), prefix=0, extra=(), value_type=IP_ADDRESS, value=b"", bindings=1):
    seed.boolean(result).integer(0, 0, 5).integer(0, 0, 2).integer(kind, 0, 3)
    if kind == NO_BINDING:
        return
    if kind == COLUMN_ROW:
        for part in row:
            seed.u8(part)
    else:
        if kind == COLUMN_PREFIX:
            seed.integer(prefix, 0, 10)
        seed.integer(len(extra), 0, 16)
        for part in extra:
            seed.u32(part)
    seed.integer(bindings, 1, 2).u8(value_type).i32(0).integer(len(value), 0, 8).raw(value)


def snmp_rows(seed, rows):
    seed.integer(len(rows), 0, 100)
    for address, index in rows:
        a, b, c, d = address
        if (a, b, c) == (10, 0, 0):
            seed.boolean(True).u8(d)
        else:
            seed.boolean(False).u32(network_order(address))
        seed.u32(index)


def snmp_corpus():
    seed = Input().boolean(True)
    snmp_answer(seed, True, COLUMN_ROW, row=(10, 0, 0, 5), value=bytes([10, 0, 0, 5]))
    snmp_answer(seed, True, COLUMN_ROW, row=(127, 0, 0, 1), value=bytes([127, 0, 0, 1]), bindings=2)
    snmp_answer(seed, True, COLUMN_PREFIX, prefix=10, extra=(192, 168, 1, 5), value=bytes([192, 168, 1, 5, 0]))
    snmp_answer(seed, True, COLUMN_PREFIX, prefix=9, extra=(2, 1), value_type=INTEGER, value=b"\x01")
    snmp_answer(seed, False, NO_BINDING)
    snmp_rows(seed, [((10, 0, 0, 5), 2), ((127, 0, 0, 1), 1), ((10, 0, 0, 3), 3), ((10, 0, 0, 5), 4),
                     ((192, 168, 1, 5), 3)])
    write("snmp_adapters", "walk_and_table", seed.bytes())

    seed = Input().boolean(False)
    snmp_answer(seed, True, ANY_NAME, extra=(1, 3, 6, 1, 2, 1, 2), value=bytes(4))
    snmp_rows(seed, [((10, 0, 0, i), i) for i in range(70)])
    write("snmp_adapters", "full_table", seed.bytes())


# --- keys --------------------------------------------------------------------------------------

def keys_corpus():
    write("keys", "both_types", "# ID TYPE KEY\n"
          "1 AES128 HEX:6D9C8B0B4F3A2E1D5C6B7A8998A7B6C5\n"
          "2 MD5 ASCII:geheim # comment\n"
          "4294967295 aes-128 0123456789abcdef0123456789ABCDEF\n")
    write("keys", "chrony_forms", "! chrony\n; ntpsec\n% other\n\n10 HEX:A0B1C2\n11 text\r\n12 AES sixteen-byte-key\n")
    write("keys", "refused", "3 SHA1 HEX:00112233445566778899AABBCCDDEEFF00112233\n")


# --- NTS-KE records and NTS extension fields ---------------------------------------------------

def ke_record(critical, kind, body=b""):
    return struct.pack(">HH", (0x8000 if critical else 0) | kind, len(body)) + body


def nts_records_corpus():
    end = ke_record(True, 0)
    write("nts_records", "request", ke_record(True, 1, b"\0\0") + ke_record(True, 4, b"\0\x0f") + end)
    write("nts_records", "response", ke_record(True, 1, b"\0\0") + ke_record(True, 4, b"\0\x0f")
          + b"".join(ke_record(False, 5, bytes([i]) * 104) for i in range(8))
          + ke_record(True, 6, b"zeit.example") + ke_record(True, 7, b"\x04\x57") + end)
    write("nts_records", "error", ke_record(True, 2, b"\0\x01") + end)
    write("nts_records", "unknown_critical", ke_record(True, 1, b"\0\0") + ke_record(True, 0x4321, b"x") + end)
    # A good cookie, then an empty one: the response is malformed and keeps no cookie.
    write("nts_records", "empty_cookie", ke_record(True, 1, b"\0\0") + ke_record(True, 4, b"\0\x0f")
          + ke_record(False, 5, b"\3" * 104) + ke_record(True, 5) + end)


def nts_fields_corpus():
    RAW, REQUEST, REPLY = range(3)
    # A request and a reply as built, a request edited once (byte 40 of 232 flipped), and a
    # datagram of a header and two fields as it is.
    write("nts_fields", "request", Input().integer(REQUEST, 0, 2).integer(3, 0, 9).integer(0, 0, 8).bytes())
    write("nts_fields", "reply", Input().integer(REPLY, 0, 2).integer(8, 0, 8).integer(0, 0, 8).bytes())
    write("nts_fields", "request_edited",
          Input().integer(REQUEST, 0, 2).integer(0, 0, 9).integer(1, 0, 8).integer(40, 0, 231).u8(1).bytes())
    fields = struct.pack(">HH", 0x0104, 36) + bytes(32) + struct.pack(">HH", 0x0404, 16) + bytes(12)
    write("nts_fields", "raw", Input().integer(RAW, 0, 2).raw(ntp(4, stratum=0) + fields).bytes())


def main():
    if CORPUS.exists():
        shutil.rmtree(CORPUS)
    datagram_corpus()
    hive_corpus()
    format_corpus()
    keys_corpus()
    nts_records_corpus()
    nts_fields_corpus()
    registry_corpus()
    snmp_corpus()


if __name__ == "__main__":
    main()
