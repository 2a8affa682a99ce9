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
FIELDS = ("_ws.col.Protocol", "_ws.col.Info", "glowctl.kind", "glowctl.sequence", "glowctl.led", "glowctl.red",
          "glowctl.green", "glowctl.blue", "glowctl.register", "glowctl.cut", "glowctl.partial", "glowctl.extra",
          "_ws.expert.message")


def run_tshark(capture, *options):
    """What tshark with the dissector prints for the capture; the board's
    port set through the dissector's preference. tshark runs as nobody, as
    Wireshark advises (4.4 refuses a user's Lua script as root), with copies
    of the dissector and the capture in a scratch home, so the checkout's
    dissector is the only one loaded, whatever the user has installed: it
    must register and load without a word on standard error."""
    nobody = pwd.getpwnam("nobody")
    with tempfile.TemporaryDirectory(prefix="glow-tshark-") as home:
        os.chown(home, nobody.pw_uid, nobody.pw_gid)
        script, copy = shutil.copy(DISSECTOR, home), shutil.copy(capture, home)
        for path in (script, copy):
            os.chmod(path, 0o644)
        completed = subprocess.run(
            ["tshark", "-X", f"lua_script:{script}", "-o", f"glowctl.port:{PORT}", "-r", copy, *options],
            capture_output=True, text=True, timeout=60, check=True, user=nobody.pw_uid, group=nobody.pw_gid,
            extra_groups=[], env={"HOME": home, "XDG_CONFIG_HOME": home, "PATH": os.environ["PATH"]})
    if completed.stderr or "Lua Error" in completed.stdout:
        raise AssertionError(f"the dissector failed:\n{completed.stdout}{completed.stderr}")
    return completed.stdout


def tshark(capture, *options):
    """One dict of FIELDS per frame (those the options select), once the
    packet details showed no Lua error."""
    run_tshark(capture, "-V")
    fields = run_tshark(capture, "-T", "fields", "-E", "separator=/t", "-E", "occurrence=a",
                        *(a for field in FIELDS for a in ("-e", field)), *options)
    return [dict(zip(FIELDS, line.split("\t"))) for line in fields.splitlines()]


def decoded(datagram):
    """The fields a datagram carries, read from its bytes here: kind left out."""
    first = int.from_bytes(datagram[32:34], "big")
    values = [f"0x{int.from_bytes(datagram[at:at + 2], 'big'):04x}" for at in (34, 38, 42)]
    return {"glowctl.sequence": f"0x{int.from_bytes(datagram[6:8], 'big'):04x}",
            "glowctl.led": str((first - 4) // 3), "glowctl.red": values[0], "glowctl.green": values[1],
            "glowctl.blue": values[2]}


class Capture:
    """tcpdump on the controller's end of the test bed, writing count
    datagrams of the exchange to a pcap file, then ending; or, without a
    count, all that passes until finish(), ICMP errors included."""

    def __init__(self, bed, path, count=None):
        self.count = count
        self.path = path
        # Each packet is handed over and written as it comes (--immediate-mode,
        # -U): otherwise the kernel holds them for up to a second and those
        # still held when tcpdump is told to end are lost. -Z root: tcpdump
        # would drop to its own user and could not write into the scratch
        # folder.
        limit = ["-c", str(count), "udp", "port", str(PORT)] if count else ["udp", "port", str(PORT), "or", "icmp"]
        self.process = bed.start("controller", ["tcpdump", "-i", "ctl0", "-n", "--immediate-mode", "-U", "-Z",
                                                "root", "-w", path, *limit], stderr=subprocess.PIPE)
        line = self.process.stderr.readline()
        if b"listening on" not in line:
            raise AssertionError(f"tcpdump did not start: {line!r}")

    def finish(self):
        """The capture's path, once tcpdump has its datagrams."""
        try:
            self.process.wait(timeout=10 if self.count else 0.5)
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


def write_capture(path, payloads, snap=65535, replies=()):
    """A pcap file with one frame per payload, device to controller (the
    frames numbered in replies the other way), as raw IPv4 (link type 228),
    each cut to snap bytes as a capture would."""
    with open(path, "wb") as capture:
        capture.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, snap, 228))
        for second, payload in enumerate(payloads):
            ends = (CONTROLLER, OWN) if second in replies else (OWN, CONTROLLER)
            frame = ipv4_udp(*ends, PORT, payload)
            capture.write(struct.pack("<IIII", second, 0, min(snap, len(frame)), len(frame)) + frame[:snap])


class Dissector(SystemTest):
    def test_captured_exchange_decodes_as_glow_emu_received_it(self):
        with Testbed() as bed:
            capture = Capture(bed, os.path.join(bed.scratch, "link.pcap"), count=3)
            emu = bed.emulator("--sequence", "0x1234")
            result = bed.glow_ctl("-l", "1", "-r", "fast", "-b", "on")
            received = emu.finish()
            path = capture.finish()
            frames = tshark(path)
            # Patterns filtered by name; the tree reads the name, then the value.
            red_fast = tshark(path, "-Y", 'glowctl.kind == "write" && glowctl.red == "fast"')
            tree = run_tshark(path, "-V")
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
        self.assertEqual([f["_ws.col.Info"] for f in red_fast], [write["_ws.col.Info"]])
        self.assertIn("Red: fast (0x3333)", tree)
        self.assertIn("Blue: on (0xffff)", tree)

    def test_write_after_a_lost_reply_is_a_write(self):
        # No controller: each run's write goes out with the sync's own
        # sequence. Two runs read sync, write, sync, write; the ICMP errors
        # that quote them (captured too, as the docs advise) change nothing.
        with Testbed() as bed:
            capture = Capture(bed, os.path.join(bed.scratch, "lost.pcap"))
            results = [bed.glow_ctl("-l", "2", "-r", "on") for _ in range(2)]
            path = capture.finish()
            frames = tshark(path)
            # The frames' trees, those of the ICMP errors left out.
            tree = "\n".join(block for block in run_tshark(path, "-V").split("\n\n")
                             if "Internet Control" not in block)
        for result in results:
            self.assertEqual((result.status, result.stdout, result.stderr), (0, self.timed_out(), b""))
        own = [f for f in frames if f["_ws.col.Protocol"] == "GLOWCTL"]
        write = "write seq 0xffff LED 2: red on, green off, blue off [no reply]"
        self.assertEqual([f["_ws.col.Info"] for f in own], ["sync LED 2", write, "sync LED 2", write])
        self.assertEqual([f["glowctl.kind"] for f in own], ["sync", "write", "sync", "write"])
        self.assertEqual([f["glowctl.red"] for f in own], ["0x0000", "0xffff", "0x0000", "0xffff"])
        self.assertEqual({f["_ws.expert.message"] for f in own[1::2]},
                         {"Write sent without the controller's sequence: no reply came after the sync"})
        self.assertEqual({f["glowctl.kind"] for f in frames if f["_ws.col.Protocol"] == "ICMP"} - {"quoted"}, set())
        # The write's 0xFFFF is named as what it is, not as a sync's.
        self.assertEqual((tree.count("Sequence: 0xffff (sync)"),
                          tree.count("Sequence: 0xffff (the sync's: no reply came)")), (2, 2))

    def test_datagrams_off_the_layout_are_shown_and_flagged(self):
        write = packet(0x0001, 2, 0x1234, 0x0F0F, 0x5555)
        cases = (
            # name, payload, Info column, expert message, cut-off field, bytes past the layout
            ("sound", write, "datagram seq 0x0001 LED 2: red 0x1234, green norm, blue ultra", "", "", ""),
            ("short", write[:5], "short datagram, 5 bytes", "5 bytes; the layout has 44", "00", ""),
            ("one byte", write[:1], "short datagram, 1 byte", "1 byte; the layout has 44", "00", ""),
            ("cut in the entries", write[:38], "datagram seq 0x0001 register 10 0x1234 [malformed]",
             "38 bytes; the layout has 44", "000b", ""),
            ("long", write + b"\xee" * 6,
             "datagram seq 0x0001 LED 2: red 0x1234, green norm, blue ultra [malformed]",
             "50 bytes; the layout has 44", "", "eeeeeeeeeeee"),
            ("fixed byte", write[:3] + b"\x21" + write[4:],
             "datagram seq 0x0001 LED 2: red 0x1234, green norm, blue ultra [malformed]",
             "Not the fixed bytes 0x40 0x20", "", ""),
            ("marker", write[:28] + b"\x03" + write[29:],
             "datagram seq 0x0001 LED 2: red 0x1234, green norm, blue ultra [malformed]",
             "Not the fixed byte 0x02", "", ""),
            ("zero byte", write[:12] + b"\x01" + write[13:],
             "datagram seq 0x0001 LED 2: red 0x1234, green norm, blue ultra [malformed]", "Byte 12 is not 0", "", ""),
            ("registers out of order", write[:32] + bytes.fromhex("000b1234000a0f0f000c5555"),
             "datagram seq 0x0001 register 11 0x1234, register 10 norm, register 12 ultra [malformed]",
             "Registers are not one LED's red, green and blue", "", ""),
            ("no such LED", packet(0x0001, 3),
             "datagram seq 0x0001 register 13 off, register 14 off, register 15 off [malformed]",
             "Registers are not one LED's red, green and blue", "", ""),
            ("values, no sync before", packet(0xFFFF, 0, 0x3333),
             "datagram seq 0xffff LED 0: red fast, green off, blue off",
             "Sequence 0xffff with values and no sync before it: a sync carrying values, or a write after a lost "
             "reply whose sync the capture missed", "", ""),
        )
        with tempfile.TemporaryDirectory(prefix="glow-test-") as scratch:
            path = os.path.join(scratch, "crafted.pcap")
            write_capture(path, [payload for _, payload, *_ in cases] + [b""])
            frames = tshark(path)
        self.assertEqual(len(frames), len(cases) + 1)
        for (name, _, info, expert, cut, extra), frame in zip(cases, frames):
            with self.subTest(name):
                # A datagram that is itself short ends in part of a field:
                # no capture cut it.
                self.assertEqual((frame["_ws.col.Protocol"], frame["_ws.col.Info"], frame["_ws.expert.message"],
                                  frame["glowctl.partial"], frame["glowctl.cut"], frame["glowctl.extra"]),
                                 ("GLOWCTL", info, expert, cut, "", extra))
        self.assertEqual(frames[0]["glowctl.led"], "2")
        self.assertEqual(frames[-3]["glowctl.led"], "")
        # An empty datagram is not claimed.
        self.assertEqual((frames[-1]["_ws.col.Protocol"], frames[-1]["glowctl.kind"]), ("UDP", ""))

    def test_malformed_datagrams_leave_the_order_alone(self):
        # A 10-byte datagram carrying 0xFFFF before the device's sync, the
        # same bytes again while the sync awaits its reply and after the
        # write: each time malformed alike, and the exchange still reads
        # sync, reply, write.
        bad = packet(0xFFFF, 2)[:10]
        payloads = [bad, packet(0xFFFF, 1), bad, packet(0x1234, 1), packet(0x1234, 1, 0x3333), bad]
        with tempfile.TemporaryDirectory(prefix="glow-test-") as scratch:
            path = os.path.join(scratch, "malformed.pcap")
            write_capture(path, payloads, replies=(3,))
            frames = tshark(path)
        self.assertEqual([f["glowctl.kind"] for f in frames],
                         ["malformed", "sync", "malformed", "reply", "write", "malformed"])
        bad_frames = {(frames[i]["_ws.col.Info"], frames[i]["_ws.expert.message"], frames[i]["glowctl.partial"])
                      for i in (0, 2, 5)}
        self.assertEqual(bad_frames, {("datagram seq 0xffff [malformed]", "10 bytes; the layout has 44", "0000")})
        self.assertEqual([f["_ws.col.Info"] for f in frames[1:5:2]],
                         ["sync LED 1", "reply seq 0x1234 LED 1: red off, green off, blue off"])
        self.assertEqual(frames[4]["_ws.col.Info"], "write seq 0x1234 LED 1: red fast, green off, blue off")

    def test_datagrams_cut_by_the_capture_are_not_malformed(self):
        # A snap length of 46 bytes of raw IPv4 keeps 18 bytes of each
        # datagram (as 60 do on Ethernet); 66 keep 38, cutting an entry.
        sync, write = packet(0xFFFF, 1), packet(0x0001, 1, 0x3333)
        with tempfile.TemporaryDirectory(prefix="glow-test-") as scratch:
            frames = []
            for snap in (46, 66):
                path = os.path.join(scratch, f"snap{snap}.pcap")
                write_capture(path, [sync, write], snap=snap)
                frames += tshark(path)
        self.assertEqual([f["_ws.col.Info"] for f in frames],
                         ["sync [cut by the capture]", "write seq 0x0001 [cut by the capture]",
                          "sync [cut by the capture]", "write seq 0x0001 register 7 fast [cut by the capture]"])
        self.assertEqual([f["glowctl.sequence"] for f in frames], ["0xffff", "0x0001"] * 2)
        self.assertEqual(frames[0]["_ws.expert.message"],
                         "The capture kept 18 bytes of the datagram's 44 bytes; the fields past byte 17 are not shown")
        self.assertEqual([f["glowctl.cut"] for f in frames], ["00" * 10] * 2 + ["0008"] * 2)


if __name__ == "__main__":
    harness.main()
