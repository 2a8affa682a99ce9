# SPDX-License-Identifier: MIT
"""The release binaries on a booted ARM Linux: one of the Debian kernels
boards run (tools/arm_vm.py's KERNELS: armhf, or arm64 with a 32-bit
userland) under qemu, its virtio card named as the device's interface,
joined to a tap device in the controller's namespace, where glow_emu answers.

The guest runs the system suite's own cases (the exchange and the command
line modules, unchanged: each case class is handed the guest's test bed,
binary and C library in a subclass), on the
armhf package's glow_ctl and on the static tarball's, in one boot; then
what only a booted system shows: every run ends within the reply bound plus
0.5 s on the guest's clock, the interface taken down and up again in the
guest, and runs started together in the guest.

Run by CTest (label booted, tests booted.KERNEL.CPU of the host build),
with GLOW_ARM_VM_DEB, _TARBALL, _CACHE, _KERNEL and _CPU set beside the
system suite's environment."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import arm_vm  # noqa: E402
import harness  # noqa: E402
import test_command_line  # noqa: E402
import test_exchange  # noqa: E402

REUSED = (test_exchange, test_command_line)
REPLY_TIMEOUT_MS = int(os.environ.get("GLOW_REPLY_TIMEOUT_MS", "0"))
TAP = "glwtap0"


def guest_bed(guest, namespace, binary):
    """The system suite's test bed with the guest as the device side, running
    binary there: the controller side is the namespace holding the guest's
    tap device."""

    class GuestBed(harness.Testbed):
        # What the guest cannot stand in for is skipped, not faked.
        def __init__(self, device_interface=harness.INTERFACE, device_address=harness.OWN,
                     controller_addresses=()):
            if (device_interface, device_address) != (harness.INTERFACE, harness.OWN):
                raise unittest.SkipTest("the guest's interface and address are set at boot")
            super().__init__(controller_addresses=controller_addresses)
            self.device, self.controller, self.guest = None, namespace, guest

        def _create(self):
            for address in self.controller_addresses[1:]:
                harness.ip("-n", namespace, "addr", "add", f"{address}/16", "dev", TAP)

        def _delete_network(self):
            for address in self.controller_addresses[1:]:
                harness.ip("-n", namespace, "addr", "del", f"{address}/16", "dev", TAP, check=False)

        def namespace(self, side):
            if side != "controller":
                raise unittest.SkipTest("no host programs run in the guest")
            return namespace

        def glow_ctl(self, *args, no_socket=False, program=None, wrapper=()):
            if no_socket or wrapper:
                raise unittest.SkipTest("no test helpers in the guest")
            status, out, err, ms = guest.run(program or binary, *args)
            # On the device, no run outlasts one wait for the reply by more
            # than half a second (runs waiting for the port aside).
            if ms > REPLY_TIMEOUT_MS + 500:
                raise AssertionError(f"glow_ctl {' '.join(args)} took {ms} ms in the guest")
            return harness.Result(subprocess.CompletedProcess(args, status, out, err))

    return GuestBed


class Booted(harness.SystemTest):
    """Cases only a booted system shows; run bound to the guest (bound())."""

    def test_interface_down_fails_each_send_and_up_again_applies_the_next_run(self):
        with self.bed() as bed:
            emu = bed.emulator(count=2)
            bed.guest.command("ip", "link", "set", harness.INTERFACE, "down")
            try:
                down = bed.glow_ctl("-r", "on")
            finally:  # the cases after this one need the link
                bed.guest.command("ip", "link", "set", harness.INTERFACE, "up")
            up = bed.glow_ctl("-l", "1", "-g", "fast")
            datagrams = emu.finish()
        self.assertEqual((down.status, down.stdout, down.stderr),
                         (0, self.unreachable() + self.timed_out() + self.unreachable(), b""))
        self.assertQuietSuccess(up)
        self.assertDatagrams(datagrams, [harness.packet(0xFFFF, 1), harness.packet(1, 1, green=0x3333)])

    def test_runs_started_together_take_turns_and_all_apply(self):
        count = 5
        with self.bed() as bed:
            emu = bed.emulator(count=2 * count)
            printed = bed.guest.together(count, self.program, "-l", "2", "-b", "ultra")
            datagrams = emu.finish()
        self.assertEqual(printed, b"")
        expected = []
        for sequence in range(1, count + 1):
            expected += [harness.packet(0xFFFF, 2), harness.packet(sequence, 2, blue=0x5555)]
        self.assertDatagrams(datagrams, expected)


def bound(case, bed, binary, libc):
    """case with the guest's test bed, its binary and that binary's C
    library (whose texts the expected messages carry)."""
    return type(case.__name__, (case,), {"bed": bed, "program": binary, "libc": libc,
                                         "__module__": case.__module__})


def suite_for(binary, libc, guest, namespace):
    """The reused modules' cases and Booted, bound to one binary in the guest."""
    bed = guest_bed(guest, namespace, binary)
    loader = unittest.TestLoader()
    suite = unittest.TestSuite()
    cases = [case for module in REUSED for case in vars(module).values()
             if isinstance(case, type) and issubclass(case, harness.SystemTest)
             and case.__module__ == module.__name__]
    for case in cases + [Booted]:
        suite.addTests(loader.loadTestsFromTestCase(bound(case, bed, binary, libc)))
    return suite


def main():
    env = os.environ
    cpu = env["GLOW_ARM_VM_CPU"]
    board = env.get("GLOW_ARM_VM_KERNEL", "armmp")
    tarball = env["GLOW_ARM_VM_TARBALL"]
    static = "/opt/" + os.path.basename(tarball).removesuffix(".tar.gz") + "/bin/glow_ctl"
    namespace = f"{harness.PREFIX}-{os.getpid()}-vm-ctl"
    work = tempfile.mkdtemp(prefix="glow-arm-vm-")
    guest = None
    failed = 0
    arm_vm.end_on_signals()
    try:
        kernel, initrd = arm_vm.build_image(arm_vm.fetch(env["GLOW_ARM_VM_CACHE"], board), work, harness.OWN,
                                            harness.INTERFACE, deb=env["GLOW_ARM_VM_DEB"], tarball=tarball)
        subprocess.run([harness.TESTNET, "tap", namespace, TAP, harness.CONTROLLER], check=True)
        guest = arm_vm.Guest(kernel, initrd, namespace, TAP, cpu, arm_vm.KERNELS[board].qemu)
        print(f"{os.path.basename(kernel)} on {cpu}: init reached in {guest.boot_seconds():.1f} s", flush=True)
        for binary, libc in (("/usr/bin/glow_ctl", "glibc"), (static, "musl")):
            print(f"== {binary} ({libc})", flush=True)
            result = unittest.TextTestRunner(verbosity=2).run(suite_for(binary, libc, guest, namespace))
            failed += len(result.failures) + len(result.errors)
    finally:
        if guest:
            guest.stop()
        subprocess.run([harness.TESTNET, "delete", namespace], check=False)
        subprocess.run(["rm", "-rf", work], check=False)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
