# SPDX-License-Identifier: MIT
"""Packages taken from another suite or architecture, apart from the system
(musl for armel on a Debian without armel, the booted guests' kernels):

- the bills of materials name a file unpacked into a folder with a package
  database of its own by that folder's package, version and licences, and
  the licence file by its path in the package, not in this machine's cache;
- the private apt sources of another suite have this machine's suite name
  replaced however the sources name it (testing's say "testing", its
  os-release "forky");
- a booted guest's image finds the kernel and its network modules in one
  package (up to Debian 13) or in the linux-binary and linux-modules
  packages its image package depends on (after).
"""

import lzma
import os
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "scripts"), os.path.join(HERE, "..", "..", "tools")]
import arm_vm  # noqa: E402 # pylint: disable=wrong-import-position
import debian_archive  # noqa: E402 # pylint: disable=wrong-import-position
import sbom  # noqa: E402 # pylint: disable=wrong-import-position

CONTROL = """Package: glow-fake
Version: 2.4-1~deb13u1
Architecture: armel
Multi-Arch: same
Source: glow-fake-src
Maintainer: nobody <nobody@invalid>
Description: a package for this test
"""
COPYRIGHT = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n" \
            "Files: *\nCopyright: nobody\nLicense: MIT\n\nFiles: debian/*\nLicense: GPL-2+\n"


def built_package(scratch, name, files, depends=""):
    """A .deb of name built in scratch holding files ({path: text or bytes})."""
    tree = os.path.join(scratch, name)
    files = {"DEBIAN/control": CONTROL.replace("glow-fake", name) + (f"Depends: {depends}\n" if depends else ""),
             **files}
    for path, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
        with open(os.path.join(tree, path), "wb") as out:
            out.write(text if isinstance(text, bytes) else text.encode())
    deb = os.path.join(scratch, f"{name}_2.4-1_armel.deb")
    subprocess.run(["dpkg-deb", "--root-owner-group", "-b", tree, deb], check=True, capture_output=True)
    return deb


def unpacked_package(scratch):
    """A package built here and unpacked into scratch/root with a package
    database of its own: the root and the path of its one library."""
    deb = built_package(scratch, "glow-fake", {"usr/share/doc/glow-fake/copyright": COPYRIGHT,
                                               "usr/lib/arm-linux-musleabi/libfake.a": "!<arch>\n"})
    root = os.path.join(scratch, "root")
    os.makedirs(os.path.join(root, "var", "lib", "dpkg", "info"))
    os.makedirs(os.path.join(root, "var", "lib", "dpkg", "updates"))
    open(os.path.join(root, "var", "lib", "dpkg", "status"), "w", encoding="ascii").close()
    for step in (["--add-architecture", "armel"], ["--unpack", deb]):
        subprocess.run(["dpkg", f"--root={root}", "--force-not-root", *step], check=True, capture_output=True)
    return root, os.path.join(root, "usr", "lib", "arm-linux-musleabi", "libfake.a")


class Bills(unittest.TestCase):
    def test_a_file_in_a_package_root_is_named_by_that_root_s_package(self):
        with tempfile.TemporaryDirectory(prefix="glow-packages-") as scratch:
            root, library = unpacked_package(scratch)
            self.assertEqual(sbom.package_of(library), (root, "glow-fake:armel"))
            part = sbom.component(root, "glow-fake:armel", [library], False)
        self.assertEqual(part["purl"], "pkg:deb/debian/glow-fake@2.4-1~deb13u1?arch=armel")
        self.assertEqual(part["licenses"], [{"license": {"id": "MIT"}}])
        properties = {p["name"]: p["value"] for p in part["properties"]}
        self.assertEqual(properties["glow_ctl:source-package"], "glow-fake-src")
        self.assertEqual(properties["glow_ctl:licence-from"], "/usr/share/doc/glow-fake/copyright")
        self.assertEqual(properties["glow_ctl:linked"], "inside the binary: libfake.a")

    def test_a_system_file_is_named_by_the_system_s_package(self):
        self.assertEqual(sbom.package_of("/usr/bin/dpkg-query"), ("/", "dpkg"))
        with tempfile.TemporaryDirectory(prefix="glow-packages-") as scratch:
            # A folder with no database of its own, under one that has one.
            root, _ = unpacked_package(scratch)
            self.assertEqual(sbom.package_root(os.path.join(root, "usr", "lib", "x", "y.a")), root)
            self.assertEqual(sbom.package_root(os.path.join(scratch, "glow-fake", "usr", "y.a")), "/")


class Sources(unittest.TestCase):
    def copied(self, release, text, suite):
        """The private sources of suite made from one sources file of this
        machine's, whose os-release is release."""
        with tempfile.TemporaryDirectory(prefix="glow-packages-") as scratch:
            source = os.path.join(scratch, "debian.sources")
            with open(source, "w", encoding="utf-8") as out:
                out.write(text)
            with mock.patch("platform.freedesktop_os_release", return_value=release), \
                    mock.patch("glob.glob", side_effect=lambda pattern: [source] if pattern.endswith(".sources")
                               else []):
                debian_archive.apt_config(scratch, suite, "armhf")
            with open(os.path.join(scratch, "apt", f"{suite}-armhf", "sources", "debian.sources"),
                      encoding="utf-8") as copy:
                return copy.read()

    def test_the_suite_is_replaced_however_the_sources_name_it(self):
        testing = {"VERSION_CODENAME": "forky"}
        bookworm = {"VERSION_CODENAME": "bookworm", "VERSION_ID": "12"}
        text = "Types: deb\nURIs: http://archive.invalid/debian\nSuites: {0} {0}-updates\nComponents: main\n"
        for release, named in ((testing, "testing"), (testing, "forky"), (testing, "sid"), (bookworm, "bookworm")):
            with self.subTest(release=release, named=named):
                self.assertEqual(self.copied(release, text.format(named), "bullseye"), text.format("bullseye"))
        # This machine's own suite is copied as it is named, and a stable
        # release's sources keep a "testing" they name beside it.
        self.assertEqual(self.copied(testing, text.format("testing"), "forky"), text.format("testing"))
        both = "URIs: http://archive.invalid/debian\nSuites: {} testing\n"
        self.assertEqual(self.copied(bookworm, both.format("bookworm"), "trixie"), both.format("trixie"))


class Kernels(unittest.TestCase):
    def booted_image(self, scratch, kernel):
        """The guest's image built from these kernel packages: its kernel's
        name and its modules; the package's glow_ctl alone beside the C
        library, and nothing of the kernel's but its network modules."""
        userland = {"busybox": built_package(scratch, "busybox-static", {"bin/busybox": "#!/bin/sh\n"}),
                    "libc": built_package(scratch, "libc6", {"usr/lib/arm-linux-gnueabihf/libc.so.6": ""})}
        glow = built_package(scratch, "glow-ctl", {"usr/bin/glow_ctl": ""})
        work = tempfile.mkdtemp(dir=scratch)
        image, _ = arm_vm.build_image({"kernel": kernel, **userland}, work, "169.254.100.1", "eth1", deb=glow)
        root = os.path.join(work, "root")
        self.assertEqual(sorted(os.listdir(os.path.join(root, "usr", "bin"))), ["glow_ctl"])
        self.assertEqual(sorted(os.listdir(os.path.join(root, "usr", "lib"))), ["arm-linux-gnueabihf"])
        return os.path.basename(image), sorted(os.listdir(os.path.join(root, "modules")))

    def test_the_kernel_and_its_modules_are_found_in_either_layout(self):
        modules = {f"lib/modules/6.1.0-9-armmp/{module}": "" for module in arm_vm.MODULES[1:]}
        with tempfile.TemporaryDirectory(prefix="glow-packages-") as scratch:
            whole = built_package(scratch, "linux-image-6.1.0-9-armmp",
                                  {"boot/vmlinuz-6.1.0-9-armmp": "", **modules}, "linux-base, kmod")
            self.assertEqual(arm_vm.kernel_parts(whole), [])
            self.assertEqual(self.booted_image(scratch, [whole]),
                             ("vmlinuz-6.1.0-9-armmp", ["failover.ko", "net_failover.ko", "virtio_net.ko"]))
        release = "7.2.12+deb14-armmp"
        with tempfile.TemporaryDirectory(prefix="glow-packages-") as scratch:
            image = built_package(scratch, f"linux-image-{release}", {"usr/share/doc/x/README": ""},
                                  f"dracut | initramfs-tools, linux-binary-{release} (= 7.2.12-1), "
                                  f"linux-modules-{release} (= 7.2.12-1)")
            parts = arm_vm.kernel_parts(image)
            self.assertEqual(parts, [f"linux-binary-{release}", f"linux-modules-{release}"])
            binary = built_package(scratch, parts[0], {f"usr/lib/modules/{release}/vmlinuz": ""})
            named = {f"usr/lib/modules/{release}/{module}.xz": lzma.compress(b"module") for module in arm_vm.MODULES}
            with_modules = built_package(scratch, parts[1], named)
            self.assertEqual(self.booted_image(scratch, [image, binary, with_modules]),
                             (f"vmlinuz-{release}", sorted(os.path.basename(m) for m in arm_vm.MODULES)))
            # A kernel package without a kernel is said so, not booted.
            with self.assertRaisesRegex(RuntimeError, "no kernel in"):
                self.booted_image(scratch, [image])


if __name__ == "__main__":
    unittest.main()
