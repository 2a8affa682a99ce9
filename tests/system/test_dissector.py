# SPDX-License-Identifier: MIT
"""The Wireshark dissector, contrib/wireshark/glowctl.lua, as tshark runs it:
a real exchange captured by tcpdump on the test bed, decoded field by field
and checked against what glow_emu received; and datagrams that depart from
the layout, which must decode without a Lua error and carry the expert
flag."""

import os
import pwd
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import CONTROLLER, OWN, PORT, SystemTest, Testbed, hex_of, packet  # noqa: E402

DISSECTOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "contrib", "wireshark",
                         "glowctl.lua")
FIELDS = ("_ws.col.Info", "glowctl.kind", "glowctl.sequence", "glowctl.led", "glowctl.red", "glowctl.green",
          "glowctl.blue", "glowctl.register", "_ws.expert.message")


def tshark(capture):
    """One dict of FIELDS per frame, as tshark with the dissector decodes
    them; the board's port set through the dissector's preference. tshark
    runs as nobody, as Wireshark advises (4.4 refuses a user's Lua script
    as root), with copies of the dissector and the capture in a scratch
    home, so no plugin or preference of the user's own is loaded."""
    nobody = pwd.getpwnam("nobody")
    with tempfile.TemporaryDirectory(prefix="glow-tshark-") as home:
        os.chown(home, nobody.pw_uid, nobody.pw_gid)
        script, copy = shutil.copy(DISSECTOR, home), shutil.copy(capture, home)
        for path in (script, copy):
            os.chmod(path, 0o644)

        def run(*options):
            return subprocess.run(["tshark", "-X", f"lua_script:{script}", "-o", f"glowctl.port:{PORT}", "-r",
                                   copy, *options], capture_output=True, text=True, timeout=60, check=True,
                                  user=nobody.pw_uid, group=nobody.pw_gid, extra_groups=[],
                                  env={"HOME": home, "PATH": os.environ["PATH"]})

        completed = run("-T", "fields", "-E", "separator=/t", "-E", "occurrence=a",
                        *(a for field in FIELDS for a in ("-e", field)))
        verbose = run("-V").stdout
    if "Lua Error" in verbose or "Lua Error" in completed.stderr:
        raise AssertionError(f"the dissector failed:\n{verbose}{completed.stderr}")
    return [dict(zip(FIELDS, line.split("\t"))) for line in completed.stdout.splitlines()]


def decoded(datagram):
    """The fields a datagram carries, read from its bytes here: kind left out."""
    first = int.from_bytes(datagram[32:34], "big")
    values = [f"0x{int.from_bytes(datagram[at:at + 2], 'big'):04x}" for at in (34, 38, 42)]
    return {"glowctl.sequence": f"0x{int.from_bytes(datagram[6:8], 'big'):04x}",
            "glowctl.led": str((first - 4) // 3), "glowctl.red": values[0], "glowctl.green": values[1],
            "glowctl.blue": values[2]}


class Capture:
    """tcpdump on the controller's end of the test bed, writing count
    datagrams to a pcap file, then ending."""

    def __init__(self, bed, path, count):
        self.path = path
        # Each packet is handed over and written as it comes (--immediate-mode,
        # -U): otherwise the kernel holds them for up to a second and those
        # still held when tcpdump is told to end are lost. -Z root: tcpdump
        # would drop to its own user and could not write into the scratch
        # folder.
        self.process = bed.start("controller", ["tcpdump", "-i", "ctl0", "-n", "--immediate-mode", "-U", "-Z",
                                                "root", "-c", str(count), "-w", path, "udp", "port", str(PORT)],
                                 stderr=subprocess.PIPE)
        line = self.process.stderr.readline()
        if b"listening on" not in line:
            raise AssertionError(f"tcpdump did not start: {line!r}")

    def finish(self):
        """The capture's path, once tcpdump has its datagrams."""
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.send_signal(signal.SIGINT)
            self.process.wait()
        report = self.process.stderr.read().decode()
        self.process.stderr.close()
        if self.process.returncode != 0:
            raise AssertionError(f"tcpdump failed: {report}")
        return self.path


def ipv4_udp(source, destination, port, payload):
    """An IPv4 packet holding one UDP datagram, checksums left 0 (the
    capture below says nothing was checked)."""
    udp = struct.pack(">HHHH", port, port, 8 + len(payload), 0) + payload
    return struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, octets(source),
                       octets(destination)) + udp


def octets(address):
    return bytes(int(octet) for octet in address.split("."))


def write_capture(path, payloads):
    """A pcap file with one frame per payload, device to controller, as raw
    IPv4 (link type 228)."""
    with open(path, "wb") as capture:
        capture.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 228))
        for second, payload in enumerate(payloads):
            frame = ipv4_udp(OWN, CONTROLLER, PORT, payload)
            capture.write(struct.pack("<IIII", second, 0, len(frame), len(frame)) + frame)


class Dissector(SystemTest):
    def test_captured_exchange_decodes_as_glow_emu_received_it(self):
        with Testbed() as bed:
            capture = Capture(bed, os.path.join(bed.scratch, "link.pcap"), count=3)
            emu = bed.emulator("--sequence", "0x1234")
            result = bed.glow_ctl("-l", "1", "-r", "fast", "-b", "on")
            received = emu.finish()
            frames = tshark(capture.finish())
        self.assertQuietSuccess(result)
        self.assertEqual([hex_of(d) for d in received], [packet(0xFFFF, 1), packet(0x1234, 1, 0x3333, 0, 0xFFFF)])
        self.assertEqual([f["_ws.col.Info"] for f in frames],
                         ["sync LED 1", "reply seq 0x1234 LED 1: red off, green off, blue off",
                          "write seq 0x1234 LED 1: red fast, green off, blue on"])
        self.assertEqual([f["glowctl.kind"] for f in frames], ["sync", "reply", "write"])
        sync, reply, write = frames
        for frame, datagram in ((sync, hex_of(received[0])), (write, hex_of(received[1]))):
            self.assertEqual({key: frame[key] for key in decoded(datagram)}, decoded(datagram))
        self.assertEqual((reply["glowctl.sequence"], reply["glowctl.led"], reply["glowctl.red"]),
                         ("0x1234", "1", "0x0000"))
        self.assertEqual({f["glowctl.register"] for f in frames}, {"7,8,9"})
        self.assertEqual([f["_ws.expert.message"] for f in frames], ["", "", ""])

    def test_datagrams_off_the_layout_are_shown_and_flagged(self):
        write = packet(0x0001, 2, 0x1234, 0x0F0F, 0x5555)
        cases = (
            # name, payload, Info column, expert message
            ("sound", write, "datagram seq 0x0001 LED 2: red custom, green norm, blue ultra", ""),
            ("short", write[:5], "short datagram, 5 bytes", "5 bytes; the layout has 44"),
            ("cut in the entries", write[:38], "datagram seq 0x0001 register 10 custom [malformed]",
             "38 bytes; the layout has 44"),
            ("long", write + b"\xee" * 6,
             "datagram seq 0x0001 LED 2: red custom, green norm, blue ultra [malformed]",
             "50 bytes; the layout has 44"),
            ("fixed byte", write[:3] + b"\x21" + write[4:],
             "datagram seq 0x0001 LED 2: red custom, green norm, blue ultra [malformed]",
             "Not the fixed bytes 0x40 0x20"),
            ("marker", write[:28] + b"\x03" + write[29:],
             "datagram seq 0x0001 LED 2: red custom, green norm, blue ultra [malformed]",
             "Not the fixed byte 0x02"),
            ("zero byte", write[:12] + b"\x01" + write[13:],
             "datagram seq 0x0001 LED 2: red custom, green norm, blue ultra [malformed]", "Byte 12 is not 0"),
            ("registers out of order", write[:32] + bytes.fromhex("000b1234000a0f0f000c5555"),
             "datagram seq 0x0001 register 11 custom, register 10 norm, register 12 ultra [malformed]",
             "Registers are not one LED's red, green and blue"),
            ("no such LED", packet(0x0001, 3),
             "datagram seq 0x0001 register 13 off, register 14 off, register 15 off [malformed]",
             "Registers are not one LED's red, green and blue"),
        )
        with tempfile.TemporaryDirectory(prefix="glow-test-") as scratch:
            path = os.path.join(scratch, "crafted.pcap")
            write_capture(path, [payload for _, payload, _, _ in cases])
            frames = tshark(path)
        self.assertEqual(len(frames), len(cases))
        for (name, _, info, expert), frame in zip(cases, frames):
            with self.subTest(name):
                self.assertEqual((frame["_ws.col.Info"], frame["_ws.expert.message"]), (info, expert))
        self.assertEqual(frames[0]["glowctl.led"], "2")
        self.assertEqual(frames[-2]["glowctl.led"], "")


if __name__ == "__main__":
    harness.main()
