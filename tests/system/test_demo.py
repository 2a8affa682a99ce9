# SPDX-License-Identifier: MIT
"""scripts/demo.sh shows what one exchange did, and leaves nothing behind
however it ends: its live view is ended by closing the terminal it runs in
and by kill (SIGTERM), and each time its network namespaces and its
glow_emu must be gone."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import SystemTest, Terminal  # noqa: E402

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "demo.sh")


# A line that offers glow_ctl as a command: its path, or its name and an option.
COMMAND = re.compile(r"/glow_ctl\b|\bglow_ctl +-")


def commands_outside_namespaces(screen):
    """The lines that offer glow_ctl as a command, other than a whole hint
    that runs it in the demo's device namespace."""
    return [line for line in screen.splitlines() if COMMAND.search(line) and not
            re.match(r"(sudo )?ip netns exec glow-demo-[0-9]+-dev /\S+/glow_ctl -l 2 -r slow -g norm -b ultra$",
                     line.strip())]


def namespaces():
    return {line.split()[0] for line in harness.ip("netns", "list", check=False).stdout.splitlines()
            if line.strip()}


def child_named(pid, name):
    with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as children:
        for child in children.read().split():
            with open(f"/proc/{child}/comm", encoding="ascii") as comm:
                if comm.read().strip() == name:
                    return int(child)
    raise AssertionError(f"process {pid} has no child {name}")


class Demo(SystemTest):
    @classmethod
    def setUpClass(cls):
        # One build folder for every demo here: only the first one builds.
        cls.build = tempfile.mkdtemp(prefix="glow-demo-test-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.build, ignore_errors=True)

    def test_shows_each_led_once_after_the_exchange(self):
        demo = subprocess.run(["bash", DEMO, "-l", "1", "-r", "fast", "-g", "on"], capture_output=True,
                              text=True, env={**os.environ, "GLOW_BUILD": self.build}, timeout=240)
        self.assertEqual(demo.returncode, 0, demo.stderr)
        shown = demo.stdout.split("now shows:\n", 1)[1].splitlines()
        self.assertEqual([line for line in shown if "LED" in line], [
            "LED 0: red off 0x0000, green off 0x0000, blue off 0x0000 (never written)",
            "LED 1: red fast 0x3333, green on 0xFFFF, blue off 0x0000 (write 0x0001)",
            "LED 2: red off 0x0000, green off 0x0000, blue off 0x0000 (never written)"])
        self.assertIn("\nnext sequence 0x0002\n", demo.stdout)
        self.assertIn("(exit status 0)", demo.stdout)
        # Every line of the demo's fits an 80-column terminal.
        self.assertEqual([line for line in demo.stdout.splitlines() if len(line) > 80], [])

    def test_help_and_glow_ctls_exit_status(self):
        fresh = os.path.join(self.build, "never-made")
        env = {**os.environ, "GLOW_BUILD": fresh}
        before = namespaces()
        shown = subprocess.run(["bash", DEMO, "-l", "1", "--help"], capture_output=True, text=True, env=env,
                               timeout=30)
        self.assertEqual((shown.returncode, shown.stderr), (0, ""))
        for word in ("--show", "--arm-vm", "GLOW_DEMO_SECONDS", "-l/--led"):
            self.assertIn(word, shown.stdout)
        self.assertFalse(os.path.exists(fresh), "--help built something")
        # Only the demo's own names count: tests beside this one make theirs.
        self.assertEqual({name for name in namespaces() - before if name.startswith("glow-demo-")}, set())
        # glow_ctl's own refusals end the demo with its status 1.
        for args, kind, option in ((["-x"], "short", "x"), (["-l", "1", "--led"], "long_argument", "led")):
            message = self.getopt_says(kind, option).decode().split(": ", 1)[1]
            with self.subTest(args=args):
                demo = subprocess.run(["bash", DEMO, *args], capture_output=True, text=True,
                                      env={**os.environ, "GLOW_BUILD": self.build}, timeout=240)
                self.assertEqual(demo.returncode, 1, demo.stdout + demo.stderr)
                # Named as on the device, whatever the build folder's path.
                self.assertIn(f"glow_ctl: {message}", demo.stderr.splitlines(keepends=True))
                self.assertIn("(exit status 1)", demo.stdout)

    def test_live_view_shows_glow_ctls_error_while_it_runs(self):
        # --show after glow_ctl's options is still the demo's.
        # A terminal of 24 rows, as most open, holds glow_ctl's whole usage text.
        terminal = Terminal(["bash", DEMO, "-l", "1", "--rd", "on", "--show"],
                            {"GLOW_BUILD": self.build, "GLOW_DEMO_SECONDS": "120"}, rows=24)
        demo = terminal.pid
        emu = None
        try:
            terminal.wait_for("(exit status 1)", timeout=240)
            emu = child_named(demo, "glow_emu")
            self.assertTrue(harness.listening.alive(emu), "the view ended before glow_ctl's error showed")
            screen = terminal.screen()
            self.assertIn(self.getopt_says("long", "rd").decode().split(": ", 1)[1].strip(), screen)
            self.assertIn("ip netns exec glow-demo-", screen)
            self.assertEqual(commands_outside_namespaces(screen), [])
            # A resize clears the screen and redraws the view with glow_ctl's
            # lines; the hint, now wider than the screen, is left out whole.
            terminal.resize(100)
            time.sleep(1)
            screen = terminal.screen()
            self.assertNotIn("ip netns exec", screen)
            self.assertIn("(exit status 1)", screen)
            os.kill(demo, signal.SIGTERM)
        finally:
            terminal.close()
            if emu is not None and harness.listening.alive(emu):
                os.kill(emu, signal.SIGKILL)
            for name in {f"glow-demo-{demo}-dev", f"glow-demo-{demo}-ctl"} & namespaces():
                harness.ip("netns", "del", name, check=False)

    def test_narrow_live_view_offers_no_command_outside_the_namespaces(self):
        # 60x20: glow_ctl's whole error and usage, no hint cut to a command
        # that would run on this machine's own network, and once the demo
        # removed its namespaces, no hint in the last frame.
        terminal = Terminal(["bash", DEMO, "--show", "-l", "1", "--led"],
                            {"GLOW_BUILD": self.build, "GLOW_DEMO_SECONDS": "8"}, columns=60, rows=20)
        try:
            terminal.wait_for("(exit status 1)", timeout=240)
            screen = terminal.screen()
            error = self.getopt_says("long_argument", "led").decode().split(": ", 1)[1].strip()
            self.assertIn(f"glow_ctl: {error}", screen.splitlines())
            self.assertIn("Available values: off/slow/norm/fast/ultra/on", screen)
            self.assertEqual(commands_outside_namespaces(screen), [])
            terminal.wait_for("[exit status 1]", timeout=30)
            screen = terminal.screen()
            self.assertIn("(exit status 1)", screen)
            self.assertNotIn("ip netns exec", screen)
            self.assertEqual(commands_outside_namespaces(screen), [])
        finally:
            terminal.close()

    def test_terminal_closed_or_killed_during_the_live_view(self):
        for how in ("terminal closed", "SIGTERM"):
            with self.subTest(how=how):
                self._end_live_view(how)

    def _end_live_view(self, how):
        terminal = Terminal(["bash", DEMO, "--show", "-l", "1", "-r", "on"],
                            {"GLOW_BUILD": self.build, "GLOW_DEMO_SECONDS": "120"})
        demo = terminal.pid
        own = {f"glow-demo-{demo}-dev", f"glow-demo-{demo}-ctl"}
        emu = None
        try:
            # glow_ctl has run: the demo now only waits for its view to end.
            terminal.wait_for("red on     0xFFFF  green off", timeout=240)
            self.assertLessEqual(own, namespaces())
            emu = child_named(demo, "glow_emu")
            if how == "terminal closed":
                terminal.hang_up()
            else:
                os.kill(demo, signal.SIGTERM)
            deadline = time.monotonic() + 15
            while (own & namespaces() or harness.listening.alive(emu)) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertEqual(own & namespaces(), set())
            self.assertFalse(harness.listening.alive(emu), "glow_emu still runs")
        finally:
            # What the demo failed to remove is still this test's to remove.
            terminal.close()
            if emu is not None and harness.listening.alive(emu):
                os.kill(emu, signal.SIGKILL)
            for name in own & namespaces():
                harness.ip("netns", "del", name, check=False)


@unittest.skipUnless(os.environ.get("GLOW_DEMO_ARM_VM") == "1", "the booted demo is the booted.demo test's")
class DemoOnArmVm(SystemTest):
    """demo.sh --arm-vm boots the guest, runs the package's glow_ctl there,
    shows the controller's state on lines that fit 80 columns and exits with
    the guest's glow_ctl status, its lines in the order it wrote them."""

    def demo(self, *args):
        return subprocess.run(["bash", DEMO, "--arm-vm", *args], capture_output=True, text=True, timeout=600)

    def test_guests_run_and_status(self):
        shown = self.demo("-l", "1", "-r", "fast")
        lines = shown.stdout.splitlines()
        self.assertEqual(shown.returncode, 0, shown.stdout + shown.stderr)
        self.assertEqual([line for line in lines if len(line) > 80], [])
        self.assertTrue(any(line.startswith("(exit status 0; ") for line in lines), shown.stdout)
        self.assertIn("LED 1: red fast 0x3333, green off 0x0000, blue off 0x0000 (write 0x0001)", lines)
        refused = self.demo("-x")
        lines = refused.stdout.splitlines()
        self.assertEqual(refused.returncode, 1, refused.stdout + refused.stderr)
        self.assertTrue(any(line.startswith("(exit status 1; ") for line in lines), refused.stdout)
        error = next(number for number, line in enumerate(lines) if "invalid option -- 'x'" in line)
        self.assertLess(error, next(number for number, line in enumerate(lines) if line.startswith("Usage: ")))


if __name__ == "__main__":
    harness.main()
