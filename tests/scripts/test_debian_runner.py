# SPDX-License-Identifier: MIT
"""scripts/debian.sh: the command runs in a clone of the checkout inside a
system that has only what minbase brings, its status comes back, and
however the run ends, by itself or by a signal, its folder and processes
are gone. Needs root.

    python3 test_debian_runner.py SUITE
"""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SUITE = sys.argv[1]


def runner(command, scratch):
    """scripts/debian.sh SUITE bash -c command, its system made under scratch."""
    return subprocess.Popen([os.path.join(ROOT, "scripts", "debian.sh"), SUITE, "bash", "-c", command],
                            env={**os.environ, "TMPDIR": scratch}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)


def running(command_line):
    """Whether a process runs with exactly this command line."""
    wanted = ("\0".join(command_line) + "\0").encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if cmdline.read() == wanted:
                    return True
        except OSError:
            continue
    return False


class DebianRunner(unittest.TestCase):
    def test_command_runs_in_a_clone_in_a_minimal_system(self):
        head = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True,
                              check=True).stdout.strip()
        # No git in minbase: the clone's commit is read from its files.
        with tempfile.TemporaryDirectory(prefix="glow-runner-") as scratch:
            run = runner('. /etc/os-release; echo "$VERSION_CODENAME $GLOW_DEBIAN_SUITE $(pwd)"; '
                         'cat .git/HEAD .git/packed-refs .git/refs/heads/* 2>/dev/null; '
                         'command -v make g++ git || echo "no make, g++ or git"; exit 7', scratch)
            output = run.communicate(timeout=600)[0]
            self.assertEqual(os.listdir(scratch), [])
        self.assertEqual(run.returncode, 7, output)
        self.assertIn(f"{SUITE} {SUITE} /glow_ctl\n", output)
        self.assertIn("no make, g++ or git\n", output)
        self.assertIn(head, output)

    def test_a_signal_ends_the_command_and_removes_the_system(self):
        sleeper = ["sleep", "317.25"]  # a sleep no one else runs
        with tempfile.TemporaryDirectory(prefix="glow-runner-") as scratch:
            run = runner(f"echo started; exec {' '.join(sleeper)}", scratch)
            next(line for line in run.stdout if line == "started\n")
            deadline = time.monotonic() + 30
            while not running(sleeper) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(running(sleeper))
            run.send_signal(signal.SIGTERM)
            run.communicate(timeout=60)
            self.assertEqual((run.returncode, os.listdir(scratch), running(sleeper)), (143, [], False))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
