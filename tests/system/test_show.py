# SPDX-License-Identifier: MIT
"""glow_emu --show in a pseudo-terminal (tmux): the live view fits the
terminal's width and follows it when it changes, draws the new state after
an exchange and gives the terminal back as it found it; off a terminal, or
with NO_COLOR, it prints plain lines instead."""

import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import CONTROLLER, EMU, OWN, PORT, SystemTest, Terminal, Testbed  # noqa: E402

APPLIED = "red on     0xFFFF  green on     0xFFFF  blue off    0x0000"
# Where the view is wide enough for it, each LED's line ends with this.
LAST_WRITE = re.compile(r"0x0000  last write \d\d:\d\d:\d\d\.\d\d\d$")


def emulator_command(bed, *args):
    return ["ip", "netns", "exec", bed.controller, EMU, "--address", CONTROLLER, "--port", str(PORT), *args]


class LiveView(SystemTest):
    def assertFrameOnceWithin(self, terminal, columns):
        """The screen holds one frame, showing the change, and no line of it
        is wider than the terminal: nothing wrapped, nothing left over."""
        screen = terminal.screen().splitlines()
        self.assertEqual([line.startswith("glow_emu on ") for line in screen].count(True), 1, screen)
        self.assertEqual(sum(" LED 1 " in line for line in screen), 1, screen)
        self.assertEqual([line for line in screen if len(line) >= columns], [], screen)
        return next(line for line in screen if line.startswith(" LED 1 "))

    def test_draws_the_new_state_fits_the_width_and_restores_the_terminal(self):
        with Testbed() as bed:
            terminal = Terminal(emulator_command(bed, "--show", "--tick-ms", "50"), columns=80)
            try:
                terminal.wait_for(" LED 2 ")
                self.assertEqual(terminal.run("display", "-p", "#{cursor_flag}"), "0")  # hidden while drawing
                result = bed.glow_ctl("-l", "1", "-r", "on", "-g", "on")
                self.assertQuietSuccess(result)
                terminal.wait_for(APPLIED)
                screen = terminal.screen(escapes=True).splitlines()
                led1 = next(line for line in screen if line.startswith(" LED 1 "))
                self.assertIn("\x1b[43m", led1)  # red and green lit: a yellow block
                self.assertIn(f"write from {OWN}:{PORT}", terminal.screen())
                # Drawn in place: one frame on the screen, however many ticks
                # passed, and at 80 columns every channel whole.
                self.assertIn(APPLIED, self.assertFrameOnceWithin(terminal, 80))
                header = next(line for line in terminal.screen().splitlines() if line.startswith("glow_emu on "))
                self.assertIn("next sequence 0x0002", header)

                # Narrower, lines are cut; wider again, the frame is whole.
                terminal.resize(60)
                terminal.wait_for(" LED 1         red on     0xFFFF  green on     0xFFFF  blu")
                time.sleep(0.2)  # some ticks more: still one frame
                self.assertNotIn(APPLIED, self.assertFrameOnceWithin(terminal, 60))
                terminal.resize(120)
                terminal.wait_for("last write")
                time.sleep(0.2)
                self.assertRegex(self.assertFrameOnceWithin(terminal, 120), LAST_WRITE)

                os.kill(terminal.pid, signal.SIGTERM)
                terminal.wait_for("[exit status 0]")
                self.assertIn("glow_emu: stopped after 2 datagrams", terminal.screen())
                self.assertEqual(terminal.run("display", "-p", "#{cursor_flag}"), "1")
                # The last frame stays and shows the state; it is not printed again.
                self.assertIn(" LED 1         red on     0xFFFF  green on     0xFFFF", terminal.screen())
                self.assertNotIn("glow_emu: LED 1:", terminal.screen())
            finally:
                terminal.close()

    def test_no_color_falls_back_to_plain_lines(self):
        with Testbed() as bed:
            terminal = Terminal(emulator_command(bed, "--show"), {"NO_COLOR": "1"})
            try:
                terminal.wait_for("listening on")
                self.assertQuietSuccess(bed.glow_ctl("-l", "2", "-b", "fast"))
                terminal.wait_for("LED 2: red off 0x0000, green off 0x0000, blue fast 0x3333")
                self.assertNotIn("glow_emu on ", terminal.screen())
            finally:
                terminal.close()

    def test_off_a_terminal_prints_plain_lines(self):
        with Testbed() as bed:
            emu = bed.emulator("--show")
            self.assertQuietSuccess(bed.glow_ctl("-r", "ultra"))
            emu.finish()
        self.assertIn("LED 0: red ultra 0x5555", emu.output())
        self.assertNotIn("\x1b[", emu.output())


if __name__ == "__main__":
    harness.main()
