# SPDX-License-Identifier: MIT
"""scripts/debian.sh, which runs a command in a fresh minimal Debian: the
command runs in a clone of the checkout, edits included, in a system that
has only what minbase brings; its status comes back; and however the run
ends, by itself or by a signal, its folder and its processes are gone.
Needs root.

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
CODENAMES = {"bookworm": "12", "trixie": "13"}


def runner(*command, scratch):
    """scripts/debian.sh SUITE command, its system made under scratch."""
    return subprocess.Popen([os.path.join(ROOT, "scripts", "debian.sh"), SUITE, *command],
                            env={**os.environ, "TMPDIR": scratch}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)


def running(marker):
    """Whether a process whose command line holds marker runs."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if marker.encode() in cmdline.read():
                    return True
        except OSError:
            continue
    return False


class DebianRunner(unittest.TestCase):
    def test_command_runs_in_a_clone_in_a_minimal_system(self):
        head = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True,
                              check=True).stdout.strip()
        # No git in minbase: the clone's commit is read from its files.
        script = ('. /etc/os-release; echo "release $VERSION_ID suite $GLOW_DEBIAN_SUITE at $(pwd)"; '
                  'cat .git/HEAD .git/packed-refs .git/refs/heads/* 2>/dev/null; '
                  'test -f scripts/debian.sh && echo "checkout files"; '
                  'command -v make g++ git || echo "no make, no g++, no git"; exit 7')
        with tempfile.TemporaryDirectory(prefix="glow-runner-") as scratch:
            run = runner("bash", "-c", script, scratch=scratch)
            output = run.communicate(timeout=600)[0]
            self.assertEqual(os.listdir(scratch), [])
        self.assertEqual(run.returncode, 7, output)
        lines = output.splitlines()
        self.assertIn(f"release {CODENAMES[SUITE]} suite {SUITE} at /glow_ctl", lines)
        self.assertIn("checkout files", lines)
        self.assertIn("no make, no g++, no git", lines)
        self.assertIn(head, output)

    def test_a_signal_ends_the_command_and_removes_the_system(self):
        marker = "317.25"  # a sleep no one else runs
        with tempfile.TemporaryDirectory(prefix="glow-runner-") as scratch:
            run = runner("bash", "-c", f"echo started; exec sleep {marker}", scratch=scratch)
            for line in run.stdout:
                if line.strip() == "started":
                    break
            deadline = time.monotonic() + 30
            while not running(f"sleep\0{marker}") and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(running(f"sleep\0{marker}"))
            run.send_signal(signal.SIGTERM)
            run.communicate(timeout=60)
            self.assertEqual(run.returncode, 143)
            self.assertEqual(os.listdir(scratch), [])
        self.assertFalse(running(f"sleep\0{marker}"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
