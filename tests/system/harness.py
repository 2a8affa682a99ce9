# SPDX-License-Identifier: MIT
"""Test bed for glow_ctl's system tests: two network namespaces joined by a
veth pair, glow_emu on the controller side, glow_ctl on the device side.

Every test bed gets namespace names of its own (test process id and a
counter), creates the veth ends directly inside the namespaces, ends only the
processes it started, by PID, and deletes its namespaces however the test
ends. Run as root; without root the tests report themselves skipped (exit 77),
except under CI=true, where that is a failure.
"""

import json
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import time
import unittest

CTL = os.environ.get("GLOW_CTL", "")
EMU = os.environ.get("GLOW_EMU", "")
NO_SOCKET = os.environ.get("GLOW_NO_SOCKET", "")
# The program runner for a cross build (qemu-user), empty for a native one.
RUNNER = shlex.split(os.environ.get("GLOW_RUNNER", ""))
# The build's constants, passed in by CTest.
INTERFACE = os.environ.get("GLOW_INTERFACE", "")
PORT = int(os.environ.get("GLOW_PORT", "0"))
OWN = os.environ.get("GLOW_OWN_ADDRESS", "")
CONTROLLER = os.environ.get("GLOW_CONTROLLER_ADDRESS", "")
# The test network's set-up, shared with the demo and the benchmark.
TESTNET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "testnet.sh")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import listening  # noqa: E402  # the one wait for glow_emu, shared with the scripts
# How long glow_ctl waits for its own port while something else holds it.
BIND_WAIT_MS = int(os.environ.get("GLOW_BIND_WAIT_MS", "0"))
# The project's version, as the build states it.
VERSION = os.environ.get("GLOW_VERSION", "")

# glow_ctl prints two kinds of text that belong to the C library it is linked
# with: strerror's wording, and getopt_long's diagnostics. Everything else it
# prints is its own and the same everywhere.
LIBC = os.environ.get("GLOW_LIBC", "glibc")
_STRERROR = {
    "glibc": {11: "Resource temporarily unavailable", 34: "Numerical result out of range",
              101: "Network is unreachable"},
    "musl": {11: "Resource temporarily unavailable", 34: "Result not representable",
             101: "Network unreachable"},
}
_GETOPT = {
    "glibc": {"short": "invalid option -- '{}'", "short_argument": "option requires an argument -- '{}'",
              "long": "unrecognized option '--{}'", "long_argument": "option '--{}' requires an argument"},
    "musl": {"short": "unrecognized option: {}", "short_argument": "option requires an argument: {}",
             "long": "unrecognized option: {}", "long_argument": "option requires an argument: {}"},
}

SKIP = 77
HARD_LIMIT_S = 15  # no glow_ctl run may take longer than this
PREFIX = "glwt"


def poll(ready, timeout, failure, interval=0.01, going=lambda: True):
    """Waits until ready() is true; raises AssertionError(failure()) when
    timeout seconds pass or going() turns false first."""
    deadline = time.monotonic() + timeout
    while not ready():
        if time.monotonic() > deadline or not going():
            raise AssertionError(failure())
        time.sleep(interval)


def packet(sequence, led, red=0, green=0, blue=0):
    """A register-write datagram, built from the format table."""
    first = 3 * led + 4
    words = [first, red, first + 1, green, first + 2, blue]
    return (bytes([0x00, 0x2C, 0x40, 0x20, 0, 0]) + (sequence & 0xFFFF).to_bytes(2, "big")
            + bytes(20) + bytes([0x02, 0, 0, 0])
            + b"".join((w & 0xFFFF).to_bytes(2, "big") for w in words))


def sibling(address, last):
    """address with its last octet replaced."""
    return ".".join(address.split(".")[:3] + [str(last)])


def ip(*args, check=True):
    return subprocess.run(["ip", *args], check=check, capture_output=True, text=True)


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def sweep_stale_namespaces():
    """Deletes namespaces left by test processes that no longer exist."""
    for line in ip("netns", "list", check=False).stdout.splitlines():
        name = line.split()[0] if line.split() else ""
        parts = name.split("-")
        if len(parts) >= 3 and parts[0] == PREFIX and parts[1].isdigit():
            if not _pid_alive(int(parts[1])):
                ip("netns", "del", name, check=False)


class Result:
    def __init__(self, completed):
        self.status = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr


class Emulator:
    """A glow_emu process in the controller namespace."""

    def __init__(self, bed, args, count):
        self.bed = bed
        self.count = count
        self.final_output = None
        self.log_path = os.path.join(bed.scratch, f"emu{len(bed.processes)}.jsonl")
        self.out_path = os.path.join(bed.scratch, f"emu{len(bed.processes)}.out")
        argv = [EMU, "--address", CONTROLLER, "--port", str(PORT), "--log", self.log_path, *args]
        if count:
            argv += ["--count", str(count)]
        with open(self.out_path, "wb") as out:
            self.process = bed.start("controller", argv, stdout=out, stderr=subprocess.STDOUT)
        self._wait_listening()

    def _wait_listening(self):
        problem = listening.wait(self.bed.namespace("controller"), PORT, self.alive)
        if problem:
            raise AssertionError(f"glow_emu did not start: {problem}: {self.output_bytes()!r}")

    def output_bytes(self):
        with open(self.out_path, "rb") as out:
            return out.read()

    def output(self):
        """What the emulator printed; after finish(), all of it."""
        if self.final_output is not None:
            return self.final_output
        return self.output_bytes().decode()

    def finish(self):
        """Waits for the emulator to reach its datagram count (or stops it at
        once when it has none) and returns every datagram it logged."""
        if not self.count:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError(f"glow_emu did not finish; it logged {len(self.datagrams())} "
                                 f"datagrams, expected {self.count}") from None
        self.final_output = self.output_bytes().decode()
        if self.process.returncode != 0:
            raise AssertionError(f"glow_emu ended with status {self.process.returncode}: "
                                 f"{self.final_output}")
        return self.datagrams()

    def wait_for(self, text, timeout=10):
        """Waits until the emulator has printed text."""
        poll(lambda: text in self.output(), timeout, lambda: f"glow_emu never printed {text!r}: {self.output()!r}",
             going=self.alive)

    def datagrams(self):
        with open(self.log_path, encoding="ascii") as log:
            return [json.loads(line) for line in log if line.strip()]

    def alive(self):
        return self.process.poll() is None


class Testbed:
    """Two fresh namespaces: "device" holds the interface named INTERFACE
    (or device_interface) with the own address, "controller" holds its veth
    peer with the controller's address and any extra addresses given."""

    counter = 0

    def __init__(self, device_interface=INTERFACE, device_address=OWN, controller_addresses=()):
        Testbed.counter += 1
        stem = f"{PREFIX}-{os.getpid()}-{Testbed.counter}"
        self.device = stem + "-dev"
        self.controller = stem + "-ctl"
        self.device_interface = device_interface
        self.device_address = device_address
        self.controller_addresses = [CONTROLLER, *controller_addresses]
        self.processes = []
        self.scratch = None

    def __enter__(self):
        self.scratch = tempfile.mkdtemp(prefix="glow-test-")
        try:
            self._create()
        except BaseException:
            self._destroy()
            raise
        return self

    def __exit__(self, *exc):
        self._destroy()
        return False

    def _create(self):
        subprocess.run([TESTNET, "create", self.device, self.controller, self.device_interface,
                        self.device_address or "", *self.controller_addresses], check=True,
                       capture_output=True)

    def _delete_network(self):
        subprocess.run([TESTNET, "delete", self.device, self.controller], check=False)

    def _destroy(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()
            if process.stdout:
                process.stdout.close()
        self.processes = []
        self._delete_network()
        if self.scratch:
            subprocess.run(["rm", "-rf", self.scratch], check=False)

    def namespace(self, side):
        return self.device if side == "device" else self.controller

    def start(self, side, argv, **popen):
        """Starts argv in a namespace; ip netns exec execs it, so the PID
        kept is the program's own."""
        process = subprocess.Popen(["ip", "netns", "exec", self.namespace(side), *argv], **popen)
        self.processes.append(process)
        return process

    def run(self, side, argv, timeout=HARD_LIMIT_S):
        completed = subprocess.run(["ip", "netns", "exec", self.namespace(side), *argv],
                                   capture_output=True, timeout=timeout)
        return Result(completed)

    def emulator(self, *args, count=2):
        return Emulator(self, list(args), count)

    def glow_ctl(self, *args, no_socket=False, program=CTL, wrapper=()):
        """Runs glow_ctl in the device namespace, under the hard time limit;
        wrapper (valgrind, say) goes in front of it."""
        argv = ([NO_SOCKET] if no_socket else []) + list(wrapper) + RUNNER + [program, *args]
        return self.run("device", argv)

    def python(self, side, code, *args):
        """Starts a Python helper in a namespace; waits for its "ready" line."""
        process = self.start(side, [sys.executable, "-c", code, *args], stdout=subprocess.PIPE)
        line = process.stdout.readline()
        if line.strip() != b"ready":
            raise AssertionError(f"helper did not start: {line!r}")
        return process


class Terminal:
    """A detached tmux session on a server of our own. The command runs under
    a shell that stays after it, so the screen (cursor included) is the one
    the command left, and its exit status is printed there."""

    def __init__(self, command, environment=None, columns=150, rows=16):
        self.tmux = ["tmux", "-L", f"{PREFIX}-{os.getpid()}-{time.monotonic_ns()}", "-f", "/dev/null"]
        self.env = {key: value for key, value in os.environ.items() if key != "NO_COLOR"}
        self.env["TERM"] = "xterm-256color"
        command = ["env", *(f"{k}={v}" for k, v in (environment or {}).items()), *command]
        shell = f'{shlex.join(command)}; echo "[exit status $?]"; exec sleep 300'
        self.rows = rows
        self.run("new-session", "-d", "-x", str(columns), "-y", str(rows), shlex.join(["sh", "-c", shell]))
        shell_pid = int(self.run("display", "-p", "#{pane_pid}"))
        self.pid = self._child_of(shell_pid)

    @staticmethod
    def _child_of(pid):
        """The command's PID: the shell's one child (ip netns exec execs it)."""
        def children():
            with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as listed:
                return listed.read().split()
        poll(children, 10, lambda: "the command in the terminal did not start")
        return int(children()[0])

    def run(self, *args):
        return subprocess.run(self.tmux + list(args), check=True, capture_output=True, text=True,
                              env=self.env, timeout=10).stdout.strip()

    def screen(self, escapes=False):
        return self.run("capture-pane", "-p", *(["-e"] if escapes else []))

    def wait_for(self, text, timeout=10):
        poll(lambda: text in self.screen(), timeout, lambda: f"the screen never showed {text!r}:\n{self.screen()}",
             interval=0.05)

    def wait_for_screen(self, text, timeout=10):
        """Waits until the whole screen, trimmed, is text."""
        poll(lambda: self.screen().strip() == text, timeout, lambda: f"the screen is not {text!r}:\n{self.screen()}",
             interval=0.05)

    def resize(self, columns):
        """Changes the terminal's width, as dragging its window's edge does."""
        self.run("resize-window", "-x", str(columns), "-y", str(self.rows))

    def hang_up(self):
        """Closes the terminal, as closing its window does: everything in it
        gets SIGHUP."""
        subprocess.run(self.tmux + ["kill-server"], capture_output=True, env=self.env, check=False)

    def close(self):
        # The tmux server, its shell and the command are all this test's own.
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.hang_up()


def emulator_command(bed, *args):
    return ["ip", "netns", "exec", bed.controller, EMU, "--address", CONTROLLER, "--port", str(PORT), *args]


def hex_of(datagram):
    return bytes.fromhex(datagram["hex"])


class SystemTest(unittest.TestCase):
    """Checks shared by the system tests, and what they run: the test bed,
    the program and its C library. The booted ARM guest runs the same cases
    with its own (tests/system/test_booted.py)."""

    maxDiff = None
    bed = Testbed
    program = CTL
    libc = LIBC

    def strerror(self, number):
        """The C library's text for an errno value."""
        return _STRERROR[self.libc][number]

    def getopt_says(self, kind, option):
        """getopt_long's diagnostic line for an unknown option or a missing
        argument (kind: short, short_argument, long, long_argument)."""
        return f"{self.program}: {_GETOPT[self.libc][kind].format(option)}\n".encode()

    def timed_out(self):
        """What a run prints when no reply came in time."""
        return f"recvfrom error: 11 - {self.strerror(11)}\n".encode()

    def unreachable(self):
        """What a run prints for each send on a link that is down."""
        return f"sendto error: 101 - {self.strerror(101)}\n".encode()

    def assertQuietSuccess(self, result):
        self.assertEqual((result.status, result.stdout, result.stderr), (0, b"", b""))

    def assertDatagrams(self, datagrams, expected, source=(OWN, PORT)):
        """The controller received exactly these datagrams, in this order,
        every one from source (address, port); port None accepts any port
        as long as all datagrams share it."""
        self.assertEqual([hex_of(d) for d in datagrams], expected)
        ports = {d["port"] for d in datagrams}
        for datagram in datagrams:
            self.assertEqual(datagram["from"], source[0])
            if source[1] is not None:
                self.assertEqual(datagram["port"], source[1])
        self.assertLessEqual(len(ports), 1)


def main():
    """Runs the tests of the calling module; exit 77 when the test bed
    cannot be built here and this is not CI."""
    problem = None
    if os.geteuid() != 0:
        problem = "system tests need root (network namespaces)"
    elif not (CTL and EMU and INTERFACE and PORT and OWN and CONTROLLER):
        problem = "GLOW_CTL, GLOW_EMU and the build's constants are not set (CTest sets them)"
    else:
        probe = f"{PREFIX}-{os.getpid()}-probe"
        if ip("netns", "add", probe, check=False).returncode != 0:
            problem = "cannot create network namespaces here"
        ip("netns", "del", probe, check=False)
    if problem:
        print(f"SKIPPED: {problem}", file=sys.stderr)
        sys.exit(1 if os.environ.get("CI") == "true" else SKIP)
    # ctest's timeout ends a test with SIGTERM: turn it into an exception so
    # that every open test bed still deletes its namespaces.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sweep_stale_namespaces()
    unittest.main(module="__main__", verbosity=2)
