# SPDX-License-Identifier: MIT
"""A booted ARM Linux for glow_ctl: one of the Debian kernels that boards run
(KERNELS: the armhf kernel of this machine's Debian and Debian 11's 5.10 LTS
under qemu-system-arm, the arm64 kernels with 4 KiB and 16 KiB pages under
qemu-system-aarch64, running a 32-bit userland), on qemu's virt machine,
with an initramfs made from Debian packages alone (busybox-static as init
and shell, the kernel's virtio network modules, the armhf C library and
loader where a Debian armhf root has them) and the glow_ctl binaries given.
Its one network card is renamed to the build's interface and carries the
device's address; qemu joins it to a tap device in a network namespace of
the caller's, where the controller is.

The packages come from Debian's archive through debian_archive.py, kept in
a cache folder between runs.

The console is the guest's serial port: commands go in as shell lines, and
every answer the host waits for starts with "@@", which the echo of the
command itself never shows (the command writes it with printf).

    python3 arm_vm.py demo CACHE NAMESPACE TAP OWN INTERFACE CPU DEB -- GLOW_CTL_ARGS...
"""

import base64
import collections
import glob
import gzip
import lzma
import os
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import signal
import threading
import time
import traceback

from debian_archive import download, this_suite

# A kernel to boot: its Debian suite (None: this machine's own), its
# architecture and flavour (linux-image-FLAVOUR is its metapackage), the qemu
# that runs it, and the suite of the 32-bit userland (None: this machine's
# own). The booted tests' CPUs for each are listed in tests/system's
# CMakeLists.txt (GLOW_BOOTS). A 16 KiB-page kernel maps only
# files aligned to 16 KiB or more: Debian 13's busybox and C library are,
# Debian 12's are not.
Kernel = collections.namedtuple("Kernel", "suite architecture flavour qemu userland")
KERNELS = {
    "armmp": Kernel(None, "armhf", "armmp", "qemu-system-arm", None),
    "armmp-5.10": Kernel("bullseye", "armhf", "armmp", "qemu-system-arm", None),
    "arm64": Kernel(None, "arm64", "arm64", "qemu-system-aarch64", None),
    "arm64-16k": Kernel("trixie", "arm64", "arm64-16k", "qemu-system-aarch64", "trixie"),
}

# The kernel's modules that bring up a virtio network card, in load order;
# a kernel that has one built in has no file for it.
MODULES = ("kernel/drivers/virtio/virtio_mmio.ko", "kernel/net/core/failover.ko",
           "kernel/drivers/net/net_failover.ko", "kernel/drivers/net/virtio_net.ko")
BOOT_LIMIT_S = 120  # under TCG the guest reaches init in a few seconds

INIT = """#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in {modules}; do insmod "/modules/$module" || printf '@@%s\\n' "insmod $module failed"; done
ip link set eth0 name {interface}
ip addr add {own}/16 dev {interface}
ip link set lo up
ip link set {interface} up
printf '@@%s\\n' ready
exec sh
"""

# glow_case ID COMMAND... : runs COMMAND, then prints one line for the host:
# @@ID, the exit status, standard output and error in base64, and the run's
# time in ms on the guest's own clock (its uptime, in hundredths).
CASE = """#!/bin/sh
id=$1
shift
read -r started _ </proc/uptime
"$@" >/tmp/out 2>/tmp/err
status=$?
read -r ended _ </proc/uptime
printf '@@%s %s %s %s %s\\n' "$id" "$status" "=$(base64 -w0 /tmp/out)" "=$(base64 -w0 /tmp/err)" \\
	"$(awk "BEGIN { print int(($ended - $started) * 1000) }")"
"""

# glow_together ID N COMMAND... : starts N runs of COMMAND at once, waits for
# them all, prints @@ID and everything they printed, in base64.
TOGETHER = """#!/bin/sh
id=$1
count=$2
shift 2
rm -f /tmp/together.*
i=0
while [ "$i" -lt "$count" ]; do
	"$@" >"/tmp/together.$i" 2>&1 &
	i=$((i + 1))
done
wait
printf '@@%s %s\\n' "$id" "=$(cat /tmp/together.* | base64 -w0)"
"""


def fetch(cache, kernel="armmp"):
    """The kernel's packages and its userland's busybox and C library,
    downloaded once into cache: {"kernel": paths of the kernel's .debs,
    "busybox", "libc": path of the .deb}. Each suite's packages lie apart,
    so the guest boots the kernel of the Debian this machine runs, also
    after it was upgraded."""
    cache = os.path.abspath(cache)
    board = KERNELS[kernel]
    suite = board.suite or this_suite()
    userland = board.userland or this_suite()
    folder = os.path.join(cache, "debs", suite, board.architecture)
    image = download(cache, suite, board.architecture, folder,
                     {f"linux-image-{board.flavour}": f"linux-image-*-{board.flavour}_*.deb"}).popitem()[1]
    parts = download(cache, suite, board.architecture, folder, {name: f"{name}_*.deb" for name in kernel_parts(image)})
    packages = download(cache, userland, "armhf", os.path.join(cache, "debs", userland, "armhf"),
                        {"busybox-static": "busybox-static_*_armhf.deb", "libc6": "libc6_*_armhf.deb"})
    return {"kernel": [image, *parts.values()], "busybox": packages["busybox-static"], "libc": packages["libc6"]}


def kernel_parts(image):
    """The packages beside a kernel's image package that hold its kernel and
    its modules: none up to Debian 13; after it, the linux-binary-RELEASE and
    linux-modules-RELEASE it depends on."""
    release = os.path.basename(image).split("_")[0].removeprefix("linux-image-")
    depends = subprocess.run(["dpkg-deb", "-f", image, "Depends"], capture_output=True, text=True,
                             check=True).stdout
    named = {alternative.split()[0] for alternative in depends.replace("|", ",").split(",") if alternative.strip()}
    return [name for name in (f"linux-binary-{release}", f"linux-modules-{release}") if name in named]


def unpack(deb, root, *members):
    """Unpacks a package into root: all of it, or those of the members
    (wildcards) given that it holds."""
    if not members:
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        return
    os.makedirs(root, exist_ok=True)
    contents = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
    # tar ends with 2 when a member is not there, and says so for each.
    tar = subprocess.run(["tar", "-x", "--wildcards", "-C", root, *members], stdin=contents.stdout,
                         stderr=subprocess.PIPE, text=True, check=False)
    contents.stdout.close()
    missing = all(line.endswith("Not found in archive") or line.startswith("tar: Exiting")
                  for line in tar.stderr.splitlines())
    if contents.wait() != 0 or tar.returncode not in ((0, 2) if missing else (0,)):
        raise RuntimeError(f"cannot read {deb}: {tar.stderr.strip()}")


def write_cpio(root, out):
    """root as a gzipped newc cpio archive, owned by root, time 0."""
    entries = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in [*dirs, *sorted(files)]:
            entries.append(os.path.join(folder, name))
    with gzip.open(out, "wb", compresslevel=1) as archive:
        for number, path in enumerate(entries, start=1):
            info = os.lstat(path)
            name = os.path.relpath(path, root).encode() + b"\0"
            if stat.S_ISLNK(info.st_mode):
                data = os.readlink(path).encode()
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as member:
                    data = member.read()
            else:
                data = b""
            fields = (number, info.st_mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name), 0)
            archive.write(b"070701" + b"".join(b"%08X" % field for field in fields) + name)
            archive.write(b"\0" * (-(110 + len(name)) % 4) + data + b"\0" * (-len(data) % 4))
        trailer = b"TRAILER!!!\0"
        archive.write(b"070701" + b"".join(b"%08X" % f for f in (0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,
                                                                  len(trailer), 0)) + trailer)
        archive.write(b"\0" * (-(110 + len(trailer)) % 4))


def install_module(source, target):
    """Copies a kernel module, uncompressed: busybox's insmod takes plain
    ones, and Debian 13 ships them xz-compressed."""
    opener = {".xz": lzma.open, ".gz": gzip.open}.get(os.path.splitext(source)[1], open)
    with opener(source, "rb") as module, open(target, "wb") as out:
        shutil.copyfileobj(module, out)


def build_image(packages, work, own, interface, deb=None, tarball=None):
    """Writes work/initrd.gz and returns (kernel, initrd). The guest has the
    package's glow_ctl at /usr/bin/glow_ctl (unpacked from the .deb, beside
    Debian's armhf C library) and the tarball's under /opt."""
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    kernel_tree = os.path.join(work, "kernel")
    if not os.path.isdir(kernel_tree):
        # Modules lie in /lib or /usr/lib, compressed or not, by release;
        # after Debian 13 the kernel lies beside them, as vmlinuz.
        for part in packages["kernel"]:
            unpack(part, kernel_tree, "./boot/vmlinuz-*", "./usr/lib/modules/*/vmlinuz",
                   *(f"*/modules/*/{module}*" for module in MODULES))
        for image in glob.glob(os.path.join(kernel_tree, "usr", "lib", "modules", "*", "vmlinuz")):
            os.makedirs(os.path.join(kernel_tree, "boot"), exist_ok=True)
            os.replace(image, os.path.join(kernel_tree, "boot", "vmlinuz-" + os.path.basename(os.path.dirname(image))))
    for folder in ("bin", "proc", "sys", "dev", "tmp", "modules", "opt"):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    # Debian 13 merged /usr: its busybox lies in /usr/bin and its C library
    # in /usr/lib alone, where the loader's path, /lib/ld-linux-armhf.so.3,
    # reaches it through /lib.
    unpack(packages["busybox"], root, "*bin/busybox")
    if os.path.exists(os.path.join(root, "usr", "bin", "busybox")):
        os.replace(os.path.join(root, "usr", "bin", "busybox"), os.path.join(root, "bin", "busybox"))
    unpack(packages["libc"], root)
    if not os.path.exists(os.path.join(root, "lib")):
        os.symlink("usr/lib", os.path.join(root, "lib"))
    shutil.rmtree(os.path.join(root, "usr", "share"), ignore_errors=True)  # documents and locales
    modules = []
    for module in MODULES:
        files = glob.glob(os.path.join(kernel_tree, "**", "modules", "*", module + "*"), recursive=True)
        if files:
            install_module(files[0], os.path.join(root, "modules", os.path.basename(module)))
            modules.append(os.path.basename(module))
    if deb:
        unpack(deb, root)
    if tarball:
        subprocess.run(["tar", "-xzf", tarball, "-C", os.path.join(root, "opt")], check=True)
    scripts = {"init": INIT.format(modules=" ".join(modules),
                                   interface=interface, own=own),
               "bin/glow_case": CASE, "bin/glow_together": TOGETHER}
    for name, text in scripts.items():
        path = os.path.join(root, name)
        with open(path, "w", encoding="utf-8") as script:
            script.write(text)
        os.chmod(path, 0o755)
    initrd = os.path.join(work, "initrd.gz")
    write_cpio(root, initrd)
    kernels = glob.glob(os.path.join(kernel_tree, "boot", "vmlinuz-*"))
    if not kernels:
        raise RuntimeError(f"no kernel in {' '.join(packages['kernel'])}")
    return kernels[0], initrd


class Guest:
    """qemu (qemu-system-arm, or qemu-system-aarch64 for a 64-bit kernel) in
    a network namespace, its card on a tap device there, driven over its
    serial console. Ends its qemu by PID."""

    def __init__(self, kernel, initrd, namespace, tap, cpu="cortex-a15", qemu="qemu-system-arm"):
        self.output = b""
        self.lock = threading.Lock()
        self.started = time.monotonic()
        argv = ["ip", "netns", "exec", namespace, qemu, "-M", "virt", "-cpu", cpu, "-m", "512",
                "-display", "none", "-monitor", "none", "-serial", "stdio", "-no-reboot",
                "-kernel", kernel, "-initrd", initrd, "-append", "console=ttyAMA0 quiet loglevel=1 panic=-1",
                "-netdev", f"tap,id=net0,ifname={tap},script=no,downscript=no",
                "-device", "virtio-net-device,netdev=net0"]
        self.process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        threading.Thread(target=self._read, daemon=True).start()
        self.counter = 0

    def _read(self):
        while True:
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                return
            with self.lock:
                self.output += chunk

    def wait_for(self, marker, timeout):
        """The rest of the first console line starting with @@marker."""
        needle = b"@@" + marker.encode()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                at = self.output.find(needle)
                end = self.output.find(b"\n", at)
                if at >= 0 and end >= 0:
                    line = self.output[at + len(needle):end].strip()
                    self.output = self.output[end + 1:]
                    return line.decode()
            if self.process.poll() is not None:
                break
            time.sleep(0.005)
        raise AssertionError(f"the guest never said {needle!r}; its console:\n{self.console()}")

    def console(self):
        with self.lock:
            return self.output.decode(errors="replace")[-3000:]

    def boot_seconds(self):
        """Waits for init to report the network up; the time since qemu started."""
        self.wait_for("ready", BOOT_LIMIT_S)
        return time.monotonic() - self.started

    def send(self, line):
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()

    def command(self, *argv, timeout=60):
        """Runs a shell command in the guest and waits for it to end."""
        self.counter += 1
        marker = f"done{self.counter}"
        self.send(f"{shlex.join(argv)}; printf '@@%s\\n' {marker}")
        self.wait_for(marker, timeout)

    def run(self, *argv, timeout=60, merged=False):
        """Runs argv in the guest: (status, stdout, stderr, milliseconds).
        merged: standard error goes to standard output, the two in the
        order the program wrote them."""
        self.counter += 1
        marker = f"case{self.counter}"
        if merged:
            argv = ("sh", "-c", 'exec "$0" "$@" 2>&1', *argv)
        self.send(shlex.join(["glow_case", marker, *argv]))
        status, out, err, ms = self.wait_for(marker, timeout).split()
        return int(status), base64.b64decode(out[1:]), base64.b64decode(err[1:]), int(ms)

    def together(self, count, *argv, timeout=60):
        """Starts count runs of argv at once; what they printed, together."""
        self.counter += 1
        marker = f"together{self.counter}"
        self.send(shlex.join(["glow_together", marker, str(count), *argv]))
        return base64.b64decode(self.wait_for(marker, timeout)[1:])

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def end_on_signals():
    """Ends the process through its finally blocks (which end qemu) when it is
    told to stop, its terminal closes or Ctrl-C is pressed."""
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, lambda received, _: sys.exit(128 + received))


# The launcher's own failure (no boot, no package), told apart from any
# status glow_ctl gives.
LAUNCH_FAILED = 125


def demo(cache, namespace, tap, own, interface, cpu, deb, args):
    """Boots the guest and runs the package's glow_ctl there once with args;
    prints what it printed, as it printed it, and its exit status, which it
    returns."""
    end_on_signals()
    work = tempfile.mkdtemp(prefix="glow-arm-vm-")
    guest = None
    try:
        kernel, initrd = build_image(fetch(cache), work, own, interface, deb=deb)
        guest = Guest(kernel, initrd, namespace, tap, cpu, KERNELS["armmp"].qemu)
        print(f"ARM guest ({cpu}, {os.path.basename(kernel)}) up in {guest.boot_seconds():.1f} s",
              flush=True)
        status, out, _, ms = guest.run("/usr/bin/glow_ctl", *args, merged=True)
        sys.stdout.write(out.decode(errors="replace"))
        print(f"(exit status {status}; {ms} ms on the guest's clock)")
        return status
    except Exception:  # pylint: disable=broad-except # said, then a status glow_ctl never gives
        traceback.print_exc()
        return LAUNCH_FAILED
    finally:
        if guest:
            guest.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) < 10 or sys.argv[1] != "demo" or sys.argv[9:10] != ["--"]:
        sys.exit(__doc__.rsplit("\n\n", 1)[-1])
    sys.exit(demo(*sys.argv[2:9], sys.argv[10:]))
