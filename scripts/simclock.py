#!/usr/bin/env python3
"""Reads and changes a simulated clock file (CHRON_SIMULATED_CLOCK) while programs run.

  scripts/simclock.py show FILE              the file's state and the clock's offset now
  scripts/simclock.py set-frequency FILE PPM the oscillator's error from now on (decimal ppm)

A change takes the file's lock ("FILE.lock", the one the programs take), re-anchors the state at
the present instant so that the time stays continuous, and writes the long form (see docs/testing.md,
"The simulated clock"). The programs follow the long form at their next reading.
"""
import fcntl
import os
import random
import re
import string
import sys
import time

SLEW_RATE = 500e-6  # the largest slew rate, as the kernels allow
NAME_CHARACTERS = string.ascii_letters + string.digits


def parse(text):
    """The state as a dict; a file of one number is the short form (offset only)."""
    text = text.strip()
    state = {"offset_ns": 0, "anchor_ns": 0, "frequency_ppm": 0.0, "correction_ppm": 0.0, "slew_ns": 0}
    if "\n" not in text and " " not in text:
        state["offset_ns"] = int(text) if text else 0
        return state
    for line in text.splitlines():
        if not line.strip():
            continue
        name, value = line.split(None, 1)
        if name not in state:
            raise ValueError("unknown name %r" % name)
        state[name] = float(value) if name.endswith("_ppm") else int(value)
    return state


def slew_left(state, real_ns):
    slew = state["slew_ns"]
    paid = max(real_ns - state["anchor_ns"], 0) * SLEW_RATE
    left = max(abs(slew) - paid, 0)
    return round(left) if slew >= 0 else -round(left)


def time_at(state, real_ns):
    """The simulated time at real instant `real_ns`, as platform/simulated_clock_state.cpp computes it."""
    elapsed = real_ns - state["anchor_ns"]
    drift = round(elapsed * (state["frequency_ppm"] + state["correction_ppm"]) * 1e-6)
    slewed = state["slew_ns"] - slew_left(state, real_ns) if elapsed > 0 else 0
    return real_ns + state["offset_ns"] + drift + slewed


def number(value):
    return repr(float(value))  # "50.0", "-12.5", "1e-05": all read back exactly


def format_long(state):
    return ("offset_ns %d\nanchor_ns %d\nfrequency_ppm %s\ncorrection_ppm %s\nslew_ns %d\n"
            % (state["offset_ns"], state["anchor_ns"], number(state["frequency_ppm"]),
               number(state["correction_ppm"]), state["slew_ns"]))


def read(path):
    try:
        with open(path) as handle:
            return parse(handle.read())
    except FileNotFoundError:
        return parse("")


def set_frequency(path, ppm):
    with open(path + ".lock", "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        state = read(path)
        now = time.time_ns()
        state["slew_ns"], state["offset_ns"] = slew_left(state, now), time_at(state, now) - now
        state["anchor_ns"] = now
        state["frequency_ppm"] = ppm
        remove_left_temporaries(path)
        folder, name = os.path.split(path)
        while True:  # a new temporary ".FILE.XXXXXX", as the programs name theirs
            temporary = os.path.join(folder, ".%s.%s" % (name, "".join(random.choices(NAME_CHARACTERS, k=6))))
            try:
                descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644)
                break
            except FileExistsError:
                continue
        with os.fdopen(descriptor, "w") as handle:
            handle.write(format_long(state))
        os.replace(temporary, path)


def remove_left_temporaries(path):
    """Removes the temporaries of `path` that killed writers left. Every writer of the file writes
    under its lock, and the caller holds it: none of them is still at work."""
    folder, name = os.path.split(path)
    own = re.compile(r"\.%s\.[A-Za-z0-9]{6}\Z" % re.escape(name))
    for entry in os.scandir(folder or "."):
        if own.match(entry.name) and entry.is_file(follow_symlinks=False):
            os.unlink(entry.path)


def main(argv):
    if len(argv) == 3 and argv[1] == "show":
        state = read(argv[2])
        now = time.time_ns()
        print(format_long(state), end="")
        print("offset now: %d ns" % (time_at(state, now) - now))
        return 0
    if len(argv) == 4 and argv[1] == "set-frequency":
        set_frequency(argv[2], float(argv[3]))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
