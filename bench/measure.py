# SPDX-License-Identifier: MIT
"""Times whole runs of a command: prints the median and the 10th and 90th
percentiles in milliseconds, as JSON. Every run must exit 0 and print
nothing, so that only complete, successful runs are measured.

    python3 measure.py RUNS COMMAND [ARG...]
"""

import json
import statistics
import subprocess
import sys
import time


def main():
    runs, argv = int(sys.argv[1]), sys.argv[2:]
    times = []
    for _ in range(runs):
        start = time.perf_counter_ns()
        done = subprocess.run(argv, capture_output=True, check=False)
        times.append((time.perf_counter_ns() - start) / 1e6)
        if done.returncode != 0 or done.stdout or done.stderr:
            sys.exit(f"run failed: {done.returncode} {done.stdout!r} {done.stderr!r}")
    deciles = statistics.quantiles(times, n=10)
    print(json.dumps({"median": statistics.median(times), "p10": deciles[0], "p90": deciles[-1]}))


if __name__ == "__main__":
    main()
