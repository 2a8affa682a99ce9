# SPDX-License-Identifier: MIT
"""The command line as it crosses the process boundary: the usage text,
exit statuses, messages, and the datagrams that the options produce."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import SystemTest, packet  # noqa: E402

USAGE = (b"Usage: glow_ctl [options]\n"
         b"\n"
         + f"Version {harness.VERSION}\n".encode() +
         b"Options:\n"
         b"  -l / --led  : led to set\n"
         b"  -r / --red  : value of red led\n"
         b"  -g / --green: value of green led\n"
         b"  -b / --blue : value of blue led\n"
         b"Available values: off/slow/norm/fast/ultra/on\n")
# The man page this build installs.
MAN_PAGE = os.environ.get("GLOW_MAN_PAGE", "")


class CommandLineTest(SystemTest):
    def range_error(self):
        """What -l prints for a number past the C library's long."""
        return f"ERROR: 99999999999 error 34, {self.strerror(34)}\n".encode()


class EndsBeforeTheNetwork(CommandLineTest):
    def test_help_and_usage_errors_send_nothing(self):
        cases = (
            (["-h"], 0, b""),
            (["--help"], 0, b""),
            (["-r", "on", "--he", "-x"], 0, b""),
            (["-l", "99999999999", "-h"], 0, self.range_error()),
            (["-x"], 1, self.getopt_says("short", "x")),
            (["-l", "1", "-r"], 1, self.getopt_says("short_argument", "r")),
            (["--bogus"], 1, self.getopt_says("long", "bogus")),
            (["--green"], 1, self.getopt_says("long_argument", "green")),
            (["-x", "-h"], 1, self.getopt_says("short", "x")),
        )
        # The build's man page names its version and its own wiring.
        with open(MAN_PAGE, encoding="utf-8") as man_page:
            text = man_page.read()
        self.assertIn(f'"glow_ctl {harness.VERSION}"', text)
        for name, value in (("INTERFACE", harness.INTERFACE), ("PORT", harness.PORT),
                            ("OWN_ADDRESS", harness.OWN), ("CONTROLLER_ADDRESS", harness.CONTROLLER)):
            self.assertRegex(text, rf'\.BR GLOW_{name} " \({re.escape(str(value))}(\)|; the default is )')
        with self.bed() as bed:
            emu = bed.emulator(count=0)
            for args, status, stderr in cases:
                with self.subTest(args=args):
                    result = bed.glow_ctl(*args)
                    self.assertEqual((result.status, result.stdout, result.stderr),
                                     (status, USAGE, stderr))
            datagrams = emu.finish()
        self.assertEqual(datagrams, [])


class OptionsReachTheController(CommandLineTest):
    def exchange(self, *args):
        with self.bed() as bed:
            emu = bed.emulator("--sequence", "0x0101")
            result = bed.glow_ctl(*args)
            datagrams = emu.finish()
        return result, datagrams

    def test_all_four_settings(self):
        result, datagrams = self.exchange("-l", "2", "-r", "on", "-g", "slow", "-b", "ultra")
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 2), packet(0x0101, 2, 0xFFFF, 0x00FF, 0x5555)])

    def test_long_options_in_every_form(self):
        result, datagrams = self.exchange("--led", "1", "--red=FAST", "--gr", "Norm", "--b=on",
                                          "ignored-word")
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 1), packet(0x0101, 1, 0x3333, 0x0F0F, 0xFFFF)])

    def test_index_without_digits_is_led_0_without_a_message(self):
        # Every C library alike: some report such text as EINVAL.
        result, datagrams = self.exchange("-l", "abc", "-r", "on")
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0x0101, 0, 0xFFFF)])

    def test_out_of_range_index_is_reported_and_clamped(self):
        result, datagrams = self.exchange("-l", "99999999999", "-g", "on", "-g", "off")
        self.assertEqual((result.status, result.stdout, result.stderr), (0, b"", self.range_error()))
        self.assertDatagrams(datagrams, [packet(0xFFFF, 1), packet(0x0101, 1)])


if __name__ == "__main__":
    harness.main()
