# SPDX-License-Identifier: MIT
"""The device package: what it holds, what it asks of the device, that
lintian finds nothing wrong with it, and that the binary it installs runs a
full exchange."""

import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import SystemTest, Testbed, packet  # noqa: E402

PACKAGE = os.environ.get("GLOW_PACKAGE", "")
ARCHITECTURE = os.environ.get("GLOW_DEB_ARCHITECTURE", "")
STATIC = os.environ.get("GLOW_STATIC", "OFF") in ("ON", "1", "TRUE", "YES")
DEPENDS = "" if STATIC else "libc6 (>= 2.34)"
FILES = {"./usr/bin/glow_ctl", "./usr/share/man/man1/glow_ctl.1.gz",
         "./usr/share/bash-completion/completions/glow_ctl", "./usr/share/doc/glow-ctl/copyright",
         "./usr/share/doc/glow-ctl/changelog.gz",
         *(["./usr/share/lintian/overrides/glow-ctl"] if STATIC else [])}
ELF_MACHINE = {"armhf": "ARM", "amd64": "Advanced Micro Devices X86-64", "arm64": "AArch64"}


def run(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def version_key(text):
    return tuple(int(part) for part in text.split("."))


class Package(SystemTest):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="glow-package-")
        run("dpkg-deb", "-x", PACKAGE, cls.root)
        cls.binary = os.path.join(cls.root, "usr/bin/glow_ctl")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["rm", "-rf", cls.root], check=False)

    def test_control_fields_and_file_list(self):
        fields = run("dpkg-deb", "-f", PACKAGE, "Package", "Version", "Architecture", "Depends")
        self.assertEqual(dict(line.split(": ", 1) for line in fields.splitlines()),
                         {"Package": "glow-ctl", "Version": harness.VERSION, "Architecture": ARCHITECTURE,
                          **({"Depends": DEPENDS} if DEPENDS else {})})
        listing = run("dpkg-deb", "-c", PACKAGE).splitlines()
        files = {line.split()[-1] for line in listing if not line.startswith("d")}
        self.assertEqual(files, FILES)  # no glow_emu, no test helpers

    @unittest.skipUnless(shutil.which("lintian"), "lintian is not installed")
    def test_lintian_finds_no_error_or_warning(self):
        checked = subprocess.run(["lintian", "--tag-display-limit", "0", PACKAGE], capture_output=True,
                                 text=True, check=False)
        self.assertEqual([line for line in checked.stdout.splitlines() if line[:2] in ("E:", "W:")], [])
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_licence_and_changelog_name_this_version(self):
        doc = os.path.join(self.root, "usr/share/doc/glow-ctl")
        with open(os.path.join(doc, "copyright"), encoding="utf-8") as copyright_file:
            self.assertIn("Copyright: 2026 the glow_ctl authors\nLicense: Expat\n", copyright_file.read())
        with gzip.open(os.path.join(doc, "changelog.gz"), "rt", encoding="utf-8") as changelog:
            self.assertTrue(changelog.readline().startswith(f"glow-ctl ({harness.VERSION}) unstable;"))

    def test_binary_suits_the_device(self):
        header = run("readelf", "-h", self.binary)
        self.assertRegex(header, rf"Machine:\s+{re.escape(ELF_MACHINE[ARCHITECTURE])}\n")
        dynamic = run("readelf", "-d", self.binary)
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*)\]", dynamic)
        self.assertEqual(needed, [] if STATIC else ["libc.so.6"])
        self.assertNotIn(".debug", run("readelf", "-S", "-W", self.binary))  # stripped
        if not STATIC:
            # Depends promises a C library at least this new; nothing newer is used.
            symbols = run("readelf", "--dyn-syms", "-W", self.binary)
            versions = set(re.findall(r"@GLIBC_([0-9.]+)", symbols))
            self.assertTrue(versions)
            self.assertLessEqual(max(version_key(v) for v in versions), version_key("2.34"))

    def test_packaged_binary_runs_an_exchange(self):
        with Testbed() as bed:
            emu = bed.emulator("--sequence", "0x2468")
            result = bed.glow_ctl("-l", "1", "-g", "ultra", program=self.binary)
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 1), packet(0x2468, 1, green=0x5555)])

    def test_bash_completion_offers_options_and_keywords(self):
        completion = os.path.join(self.root, "usr/share/bash-completion/completions/glow_ctl")
        script = ('source "$1"; COMP_WORDS=(glow_ctl "${@:2}"); COMP_CWORD=$(($# - 1)); '
                  '_glow_ctl; echo "${COMPREPLY[*]}"')
        cases = ((["-r", "f"], "fast"), (["--gr"], "--green"), (["--blue=u"], "--blue=ultra"),
                 (["-b", ""], "off slow norm fast ultra on"), (["--l"], "--led"))
        for words, expected in cases:
            with self.subTest(words=words):
                out = run("bash", "-c", script, "completion", completion, *words)
                self.assertEqual(out.strip(), expected)


if __name__ == "__main__":
    harness.main()
