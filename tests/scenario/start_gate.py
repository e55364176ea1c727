"""The start-up gate (gate/start_gate.cpp): holds a program's start-up at its adapter discovery
until the test opens it, so that a test can act at that known stage without racing it."""

import glob
import os
import time

import harness


class StartGate:
    """Pass `env` to the program's spawn; wait_reached() once it waits at the gate; open()."""

    _count = [0]

    def __init__(self, host, program_name):
        StartGate._count[0] += 1
        self.dir = os.path.join(host.dir, "gate.%d" % StartGate._count[0])
        os.makedirs(self.dir)
        library = os.path.join(os.environ.get("CHRON_BIN_DIR", ""), "tests", "scenario",
                               "libchron_start_gate.so")
        if not os.path.isfile(library):
            raise AssertionError("start gate %s not built (target chron_start_gate)" % library)
        self.env = {"LD_PRELOAD": library, "CHRON_GATE_DIR": self.dir,
                    "CHRON_GATE_PROGRAM": program_name}

    def wait_reached(self, timeout=5.0):
        """The pid of the process that waits at the gate."""
        deadline = time.monotonic() + timeout
        while True:
            found = glob.glob(os.path.join(self.dir, "reached.*"))
            if found:
                return int(found[0].rsplit(".", 1)[1])
            if time.monotonic() > deadline:
                raise AssertionError("nothing reached the start gate within %.1f s" % timeout)
            time.sleep(0.01)

    def open(self):
        with open(os.path.join(self.dir, "open"), "w"):
            pass
