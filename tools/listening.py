# SPDX-License-Identifier: MIT
"""Waits until a UDP port is bound in a network namespace: how the demo, the
benchmark, the scripts and the system tests know that the glow_emu they
started is ready, whatever its output goes to (a file, or the terminal of
its live view).

    python3 listening.py NAMESPACE PORT PID [SECONDS]

Exits 0 once the port is bound; 1, saying why, when process PID ends first
or SECONDS (10) pass.
"""

import subprocess
import sys
import time


def bound(namespace, port):
    """Whether a UDP socket is bound to port in the namespace."""
    found = subprocess.run(["ip", "netns", "exec", namespace, "ss", "-Hlun", f"sport = :{port}"],
                           capture_output=True, text=True, check=False).stdout
    return bool(found.strip())


def wait(namespace, port, running, timeout=10.0):
    """Waits until port is bound in namespace; None then, or what went wrong
    when running() turns false first or the time runs out."""
    deadline = time.monotonic() + timeout
    while not bound(namespace, port):
        if not running():
            return f"it ended before port {port} was bound"
        if time.monotonic() > deadline:
            return f"port {port} was not bound within {timeout:g} s"
        time.sleep(0.01)
    return None


def alive(pid):
    """Whether process pid runs (a zombie does not)."""
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__.split("\n\n")[1])
    problem = wait(sys.argv[1], int(sys.argv[2]), lambda: alive(int(sys.argv[3])),
                   float(sys.argv[4]) if len(sys.argv) == 5 else 10.0)
    if problem:
        sys.exit(f"glow_emu did not start in {sys.argv[1]}: {problem}")
