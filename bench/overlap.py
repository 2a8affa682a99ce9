# SPDX-License-Identifier: MIT
"""Overlapping runs: N runs of a command released at the same moment, ROUNDS
times over, against the glow_emu already running. Prints JSON: the median and
the longest batch time in ms (release to the last exit), the writes sent, the
writes the controller applied (those sent less those it reported as stale in
its output file) and the runs that printed anything.

    python3 overlap.py N ROUNDS EMU_OUTPUT COMMAND [ARG...]
"""

import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from start_together import start_together  # noqa: E402


def stale_writes(path):
    with open(path, encoding="utf-8", errors="replace") as output:
        return sum("stale write" in line for line in output)


def main():
    width, rounds, emu_output, argv = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    stale_before = stale_writes(emu_output)
    times, printed = [], 0
    for _ in range(rounds):
        results, seconds = start_together([argv] * width)
        times.append(seconds * 1000)
        printed += sum(1 for r in results if r["stdout"] or r["stderr"])
    time.sleep(0.2)  # let the emulator report the last round's writes
    sent = width * rounds
    print(json.dumps({"median": statistics.median(times), "max": max(times), "sent": sent,
                      "applied": sent - (stale_writes(emu_output) - stale_before), "printed": printed}))


if __name__ == "__main__":
    main()
