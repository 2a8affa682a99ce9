# SPDX-License-Identifier: MIT
"""glow_emu itself: it must survive anything thrown at its port, report what
it ignores, and keep serving glow_ctl afterwards. (How each datagram is
judged is in the unit tests of its decoder.)"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import CONTROLLER, PORT, SystemTest, Testbed, hex_of, packet  # noqa: E402

# Sends datagrams from the device side: random bytes of random length, and
# valid datagrams with random bytes changed, so that the decoder sees both
# garbage and near misses. Seeded, so a failure can be replayed. Every 50
# datagrams it sends a sync and waits for the answer, so the emulator is never
# flooded past its socket buffer and every datagram is really decoded.
THROW = """
import random, socket, sys
host, port, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(seed)
valid, sync = bytes.fromhex(sys.argv[5]), bytes.fromhex(sys.argv[6])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(10)
for i in range(count):
    if i % 3 == 0:
        data = bytearray(valid)
        for _ in range(rng.randint(1, 3)):
            data[rng.randrange(len(data))] = rng.randrange(256)
        data = bytes(data)
    else:
        data = rng.randbytes(rng.choice([0, 1, 7, 43, 44, 45, rng.randint(0, 1400)]))
    s.sendto(data, (host, port))
    if i % 50 == 49:
        s.sendto(sync, (host, port))
        while len(s.recv(2048)) != 44:
            pass
"""

class Emulator(SystemTest):
    def test_survives_random_datagrams_and_still_serves(self):
        with Testbed() as bed:
            emu = bed.emulator(count=0)
            thrown = bed.run("device", [sys.executable, "-c", THROW, CONTROLLER, str(PORT), "3000",
                                        "20261208", packet(0x0001, 1, 0x3333).hex(),
                                        packet(0xFFFF, 0).hex()])
            self.assertEqual(thrown.status, 0, thrown.stderr)
            emu.wait_for("ignored datagram")
            self.assertTrue(emu.alive(), emu.output())
            result = bed.glow_ctl("-l", "1", "-r", "on", "-b", "ultra")
            applied = "LED 1: red on 0xFFFF, green off 0x0000, blue ultra 0x5555"
            emu.wait_for(applied)
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertEqual(len(datagrams), 3000 + 60 + 2)
        # The exchange came last and was taken in full, whatever came before:
        # the write is applied, so it carried the sequence the emulator gave.
        self.assertEqual(hex_of(datagrams[-2]), packet(0xFFFF, 1))
        changes = [line for line in emu.output().splitlines() if line.startswith("LED 1:")]
        self.assertTrue(changes[-1].startswith(applied), changes[-1])
        self.assertIn("glow_emu: " + applied, emu.output())  # the state it ends with

    def test_rejects_an_address_that_is_not_four_octets(self):
        for address in ("10.0.0", "169.254.100.010"):
            with self.subTest(address=address):
                result = subprocess.run([harness.EMU, "--address", address], capture_output=True, timeout=10)
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                self.assertEqual(result.stderr.decode(),
                                 f"glow_emu: '{address}' is not an IPv4 address (four octets 0 to 255)\n"
                                 "glow_emu: try 'glow_emu --help'\n")


if __name__ == "__main__":
    harness.main()
