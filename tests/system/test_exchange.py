# SPDX-License-Identifier: MIT
"""One exchange against the emulated controller, and how glow_ctl copes
with the replies, senders and socket troubles it may meet."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import BIND_WAIT_MS, CONTROLLER, OWN, PORT, SystemTest, packet, sibling  # noqa: E402


# Holds the device's own port for a while, as another run would.
HOLD_PORT = """
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], int(sys.argv[2])))
print("ready", flush=True)
time.sleep(float(sys.argv[3]))
s.close()
time.sleep(60)
"""


class Exchange(SystemTest):
    def test_no_options_syncs_then_turns_led0_off(self):
        with self.bed() as bed:
            emu = bed.emulator()
            result = bed.glow_ctl()
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0x0001, 0)])
        self.assertIn("LED 0: red off 0x0000, green off 0x0000, blue off 0x0000", emu.output())

    def test_reply_sequence_is_carried_into_the_write(self):
        for sequence in (0x0000, 0x1234, 0xFFFE):
            with self.subTest(sequence=hex(sequence)), self.bed() as bed:
                emu = bed.emulator("--sequence", str(sequence))
                result = bed.glow_ctl()
                datagrams = emu.finish()
                self.assertQuietSuccess(result)
                self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(sequence, 0)])
                self.assertNotIn("stale", emu.output())

    def test_reply_length_decides_what_is_overwritten(self):
        # Only bytes 6 and 7 of the reply count. A reply that stops short of
        # them leaves the sync datagram's 0xFF there; one longer than 44 bytes
        # is cut, which must not disturb them.
        cases = ((0, 0xFFFF), (6, 0xFFFF), (7, 0x12FF), (8, 0x1234), (44, 0x1234), (45, 0x1234),
                 (1400, 0x1234))
        for size, expected in cases:
            with self.subTest(reply_size=size), self.bed() as bed:
                emu = bed.emulator("--sequence", "0x1234", "--reply-size", str(size))
                result = bed.glow_ctl()
                datagrams = emu.finish()
                self.assertQuietSuccess(result)
                self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(expected, 0)])

    def test_first_datagram_to_arrive_is_taken_as_the_reply(self):
        stranger = sibling(CONTROLLER, 3)
        with self.bed(controller_addresses=[stranger]) as bed:
            emu = bed.emulator("--foreign-from", stranger, "--foreign-sequence", "0x0BAD",
                               "--sequence", "0x0042")
            result = bed.glow_ctl()
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0x0BAD, 0)])
        self.assertIn("stale write from", emu.output())


class ControllerTrouble(SystemTest):
    def test_silent_controller_bounds_the_wait_and_writes_with_ffff(self):
        with self.bed() as bed:
            emu = bed.emulator("--silent")
            result = bed.glow_ctl("-l", "2", "-r", "on")
            datagrams = emu.finish()
        self.assertEqual((result.status, result.stdout, result.stderr), (0, self.timed_out(), b""))
        self.assertDatagrams(datagrams, [packet(0xFFFF, 2), packet(0xFFFF, 2, red=0xFFFF)])


class SocketTrouble(SystemTest):
    def test_no_socket_ends_255_and_sends_nothing(self):
        with self.bed() as bed:
            emu = bed.emulator(count=0)
            result = bed.glow_ctl("-r", "on", no_socket=True)
            datagrams = emu.finish()
        self.assertEqual((result.status, result.stdout, result.stderr),
                         (255, b"Failed to open socket\n", b""))
        self.assertEqual(datagrams, [])

    def test_port_held_by_another_socket(self):
        # The own port is how overlapping runs take turns: a run waits while
        # it is held, and binds as soon as it is free. Held all along, the
        # run gives up only after its whole wait, says "bind error" and
        # exchanges from a port the system picks.
        for held_s, output, from_own_port in ((0.4, b"", True), (60, b"bind error\n", False)):
            with self.subTest(held_s=held_s), self.bed() as bed:
                emu = bed.emulator("--sequence", "0x0777")
                bed.python("device", HOLD_PORT, OWN, str(PORT), str(held_s))
                started = time.monotonic()
                result = bed.glow_ctl("-b", "fast")
                waited_ms = (time.monotonic() - started) * 1000
                datagrams = emu.finish()
                self.assertEqual((result.status, result.stdout, result.stderr), (0, output, b""))
                self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0x0777, 0, blue=0x3333)],
                                     source=(OWN, None))
                self.assertEqual(datagrams[0]["port"] == PORT, from_own_port)
                if not from_own_port:
                    self.assertGreaterEqual(waited_ms, BIND_WAIT_MS)

    def test_without_the_interface_the_run_still_succeeds(self):
        with self.bed(device_interface="lan0") as bed:
            emu = bed.emulator()
            result = bed.glow_ctl("-g", "norm")
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0x0001, 0, green=0x0F0F)])


if __name__ == "__main__":
    harness.main()
