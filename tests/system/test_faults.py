# SPDX-License-Identifier: MIT
"""Faults on the way: a dead link, a missing address, late or foreign
replies, a flood, many runs in a row and runs that overlap. glow_ctl must
report what went wrong, never hang, and never lose or reorder a write."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import CONTROLLER, CTL, OWN, PORT, RUNNER, SystemTest, hex_of, packet, sibling  # noqa: E402

# Shared with the benchmark.
START_TOGETHER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "start_together.py")
KEYWORDS = (("off", 0x0000), ("on", 0xFFFF), ("slow", 0x00FF), ("norm", 0x0F0F),
            ("fast", 0x3333), ("ultra", 0x5555))


# Sends 44-byte datagrams carrying sequence 0x0BAD at the device's port from
# another controller-side address, as fast as it can, for a bounded time.
FLOOD = """
import socket, sys, time
source, target, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = bytes.fromhex(sys.argv[4])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((source, 0))
s.sendto(data, (target, port))
print("ready", flush=True)
end = time.monotonic() + 5
sent = 0
while time.monotonic() < end and sent < 500000:
    s.sendto(data, (target, port))
    sent += 1
"""


class LinkFaults(SystemTest):
    def test_link_down_reports_every_send_and_still_ends(self):
        with self.bed() as bed:
            harness.ip("-n", bed.device, "link", "set", bed.device_interface, "down")
            emu = bed.emulator(count=0)
            result = bed.glow_ctl("-r", "on")
            datagrams = emu.finish()
        self.assertEqual((result.status, result.stdout, result.stderr),
                         (0, self.unreachable() + self.timed_out() + self.unreachable(), b""))
        self.assertEqual(datagrams, [])

    def test_own_address_missing_exchanges_from_the_address_there_is(self):
        other = sibling(OWN, 9)
        with self.bed(device_address=other) as bed:
            emu = bed.emulator("--sequence", "0x0303")
            result = bed.glow_ctl("-l", "1", "-b", "on")
            datagrams = emu.finish()
        self.assertEqual((result.status, result.stdout, result.stderr), (0, b"bind error\n", b""))
        self.assertDatagrams(datagrams, [packet(0xFFFF, 1), packet(0x0303, 1, blue=0xFFFF)],
                             source=(other, None))


class ReplyFaults(SystemTest):
    def test_reply_after_the_wait_is_ignored(self):
        with self.bed() as bed:
            emu = bed.emulator("--delay-ms", "1500", "--sequence", "0x4444")
            result = bed.glow_ctl("-g", "slow")
            datagrams = emu.finish()
        self.assertEqual((result.status, result.stdout, result.stderr), (0, self.timed_out(), b""))
        self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0xFFFF, 0, green=0x00FF)])

    def test_reply_from_another_port_is_taken(self):
        with self.bed() as bed:
            emu = bed.emulator("--reply-port", str(PORT + 1), "--sequence", "0x5151")
            result = bed.glow_ctl("-r", "norm")
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 0), packet(0x5151, 0, red=0x0F0F)])
        self.assertIn("LED 0: red norm 0x0F0F", emu.output())

    def test_flood_of_foreign_datagrams_neither_hangs_nor_garbles(self):
        # Whatever arrives first is the reply, so the write carries either the
        # emulator's sequence or the flood's; it is never anything else, and
        # the run ends with exactly two datagrams sent.
        flooder = sibling(CONTROLLER, 3)
        with self.bed(controller_addresses=[flooder]) as bed:
            emu = bed.emulator("--sequence", "0x0042")
            bed.python("controller", FLOOD, flooder, OWN, str(PORT), packet(0x0BAD, 0).hex())
            result = bed.glow_ctl("-b", "fast")
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertEqual(len(datagrams), 2)
        self.assertEqual(hex_of(datagrams[0]), packet(0xFFFF, 0))
        self.assertIn(hex_of(datagrams[1]), (packet(0x0042, 0, blue=0x3333), packet(0x0BAD, 0, blue=0x3333)))


class ManyRuns(SystemTest):
    def test_200_runs_apply_every_write_in_order(self):
        runs = []
        for i in range(200):
            red, green, blue = KEYWORDS[i % 6], KEYWORDS[(i // 6) % 6], KEYWORDS[(i + 3) % 6]
            runs.append((i % 3, red, green, blue))
        with self.bed() as bed:
            emu = bed.emulator("--sequence", "1", count=2 * len(runs))
            for led, red, green, blue in runs:
                result = bed.glow_ctl("-l", str(led), "-r", red[0], "-g", green[0], "-b", blue[0])
                self.assertQuietSuccess(result)
            datagrams = emu.finish()
        expected = []
        for number, (led, red, green, blue) in enumerate(runs, start=1):
            expected += [packet(0xFFFF, led), packet(number, led, red[1], green[1], blue[1])]
        self.assertDatagrams(datagrams, expected)
        changes = [line for line in emu.output().splitlines() if line.startswith("LED ")]
        self.assertEqual(len(changes), len(runs))
        for number, ((led, red, green, blue), line) in enumerate(zip(runs, changes), start=1):
            self.assertEqual(line, f"LED {led}: red {red[0]} 0x{red[1]:04X}, green {green[0]} 0x{green[1]:04X}, "
                                   f"blue {blue[0]} 0x{blue[1]:04X} (write 0x{number:04X})")

    def test_runs_started_together_all_apply_their_writes(self):
        # Six runs released at the same moment, forty times over. They take
        # turns at the own port, so each one syncs only after the one before
        # has written: every write carries the sequence the controller handed
        # out last, none is dropped as stale, and no run prints anything. The
        # controller's 20 ms before each reply makes every run hold the port
        # long enough for the others to meet it, under emulation too.
        width, rounds = 6, 40
        argvs, payloads = [], []
        for j in range(width):
            led, red, green, blue = j % 3, KEYWORDS[j], KEYWORDS[(j + 2) % 6], KEYWORDS[(j + 5) % 6]
            argvs.append(RUNNER + [CTL, "-l", str(led), "-r", red[0], "-g", green[0], "-b", blue[0]])
            payloads.append(packet(0, led, red[1], green[1], blue[1])[32:])
        with self.bed() as bed:
            emu = bed.emulator("--sequence", "1", "--quiet", "--delay-ms", "20", count=2 * width * rounds)
            batch = bed.run("device", [sys.executable, START_TOGETHER, str(rounds), json.dumps(argvs)],
                            timeout=600)
            datagrams = emu.finish()
        self.assertEqual((batch.status, batch.stderr), (0, b""))
        report = json.loads(batch.stdout)
        outcomes = [(r["status"], r["stdout"], r["stderr"]) for round_ in report["rounds"] for r in round_]
        self.assertEqual(outcomes, [(0, "", "")] * (width * rounds))
        self.assertNotIn("stale", emu.output())
        self.assertEqual({(d["from"], d["port"]) for d in datagrams}, {(OWN, PORT)})
        writes = [hex_of(d) for d in datagrams if hex_of(d)[6:8] != b"\xff\xff"]
        self.assertEqual([int.from_bytes(w[6:8], "big") for w in writes], list(range(1, width * rounds + 1)))
        for number in range(rounds):
            self.assertEqual(sorted(w[32:] for w in writes[number * width:(number + 1) * width]),
                             sorted(payloads), f"round {number}")


if __name__ == "__main__":
    harness.main()
