# SPDX-License-Identifier: MIT
"""glow_ctl under valgrind's memcheck: no memory errors and no leaks on any
path, and no heap allocation at all on the success path."""

import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import SystemTest, Testbed  # noqa: E402

VALGRIND = os.environ.get("GLOW_VALGRIND", "valgrind")
ERRORS = 99  # valgrind's exit status when it found errors


class Memcheck(SystemTest):
    def memcheck(self, bed, *args):
        """Runs glow_ctl under memcheck; returns its result and valgrind's log."""
        with tempfile.NamedTemporaryFile("r", suffix=".valgrind") as log:
            wrapper = [VALGRIND, "--tool=memcheck", f"--log-file={log.name}", f"--error-exitcode={ERRORS}",
                       "--leak-check=full", "--show-leak-kinds=all", "--errors-for-leak-kinds=all"]
            result = bed.glow_ctl(*args, wrapper=wrapper)
            report = log.read()
        self.assertNotEqual(result.status, ERRORS, report)
        self.assertIn("ERROR SUMMARY: 0 errors from 0 contexts", report)
        self.assertIn("in use at exit: 0 bytes in 0 blocks", report)
        return result, report

    @staticmethod
    def allocations(report):
        return int(re.search(r"total heap usage: ([0-9,]+) allocs", report).group(1).replace(",", ""))

    def test_success_path_allocates_nothing(self):
        with Testbed() as bed:
            emu = bed.emulator()
            result, report = self.memcheck(bed, "-l", "2", "-r", "on", "-g", "Fast", "-b", "ultra")
            emu.finish()
        self.assertQuietSuccess(result)
        self.assertEqual(self.allocations(report), 0, report)

    def test_failure_paths_are_clean(self):
        cases = (
            (["--help"], 0),
            (["-x"], 1),
            (["--red"], 1),
            (["-l", "99999999999", "-h"], 0),
        )
        with Testbed() as bed:
            for args, status in cases:
                with self.subTest(args=args):
                    result, _ = self.memcheck(bed, *args)
                    self.assertEqual(result.status, status)
        with Testbed() as bed:
            emu = bed.emulator("--silent")
            result, _ = self.memcheck(bed, "-r", "on")
            emu.finish()
        self.assertEqual(result.status, 0)
        self.assertTrue(result.stdout.startswith(b"recvfrom error: 11 - "), result.stdout)


if __name__ == "__main__":
    harness.main()
