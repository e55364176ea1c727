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
import sys
import time

SLEW_RATE = 500e-6  # the largest slew rate, as the kernels allow


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
        temporary = "%s.tmp.%d" % (path, os.getpid())
        with open(temporary, "w") as handle:
            handle.write(format_long(state))
        os.replace(temporary, path)


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
