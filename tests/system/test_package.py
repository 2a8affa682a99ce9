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
from harness import SystemTest, Terminal, Testbed, packet  # noqa: E402

PACKAGE = os.environ.get("GLOW_PACKAGE", "")
ARCHITECTURE = os.environ.get("GLOW_DEB_ARCHITECTURE", "")
STATIC = os.environ.get("GLOW_STATIC", "OFF") in ("ON", "1", "TRUE", "YES")
FILES = {"./usr/bin/glow_ctl", "./usr/share/man/man1/glow_ctl.1.gz",
         "./usr/share/bash-completion/completions/glow_ctl", "./usr/share/doc/glow-ctl/copyright",
         "./usr/share/doc/glow-ctl/changelog.gz",
         *(["./usr/share/lintian/overrides/glow-ctl"] if STATIC else [])}
ELF_MACHINE = {"armhf": "ARM", "amd64": "Advanced Micro Devices X86-64", "arm64": "AArch64"}


def run(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def version_key(text):
    return tuple(int(part) for part in text.split("."))


def glibc_versions(binary):
    """The glibc symbol versions the binary's calls are bound to."""
    return set(re.findall(r"@GLIBC_([0-9.]+)", run("readelf", "--dyn-syms", "-W", binary)))


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
        # Depends asks for the newest glibc symbol version the binary calls:
        # no older C library can run it, and any newer one can.
        newest = max((version_key(v) for v in glibc_versions(self.binary)), default=None)
        depends = {} if STATIC else {"Depends": "libc6 (>= %s)" % ".".join(map(str, newest))}
        self.assertEqual(dict(line.split(": ", 1) for line in fields.splitlines()),
                         {"Package": "glow-ctl", "Version": harness.VERSION, "Architecture": ARCHITECTURE,
                          **depends})
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
        # The C library alone: libc.so.6, and on ARM its loader too, which
        # holds the stack protector's guard there (both from libc6).
        loader = re.findall(r"Requesting program interpreter: /lib/(.*)\]", run("readelf", "-l", self.binary))
        self.assertEqual(sorted(needed), [] if STATIC else sorted(["libc.so.6", *(
            loader if ARCHITECTURE == "armhf" else [])]))
        self.assertNotIn(".debug", run("readelf", "-S", "-W", self.binary))  # stripped
        self.assertEqual(glibc_versions(self.binary) == set(), STATIC)

    def test_packaged_binary_runs_an_exchange(self):
        with Testbed() as bed:
            emu = bed.emulator("--sequence", "0x2468")
            result = bed.glow_ctl("-l", "1", "-g", "ultra", program=self.binary)
            datagrams = emu.finish()
        self.assertQuietSuccess(result)
        self.assertDatagrams(datagrams, [packet(0xFFFF, 1), packet(0x2468, 1, green=0x5555)])

    @unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
    def test_bash_completion_as_typed_in_an_interactive_bash(self):
        # Typed into a real bash, where readline splits words at "=" before
        # the completion sees them; Tab twice lists what is ambiguous.
        completion = os.path.join(self.root, "usr/share/bash-completion/completions/glow_ctl")
        cases = (("glow_ctl --red=fa\t", "$ glow_ctl --red=fast"), ("glow_ctl --gr sl\t", "$ glow_ctl --gr slow"),
                 ("glow_ctl -r F\t", "$ glow_ctl -r fast"), ("glow_ctl -b u\t", "$ glow_ctl -b ultra"),
                 ("glow_ctl --green=SL\t", "$ glow_ctl --green=slow"),
                 ("glow_ctl --bl=no\t", "$ glow_ctl --bl=norm"), ("glow_ctl --l\t", "$ glow_ctl --led"),
                 ("glow_ctl --le=\t\t", "0  1  2"), ("glow_ctl --red=\t\t", "fast   norm   off    on     slow   ultra"),
                 ("glow_ctl --help x\t", "$ glow_ctl --help x"))
        terminal = Terminal(["bash", "--norc", "--noprofile", "-i"], columns=100)
        try:
            terminal.run("send-keys", "-l", f"PS1='$ '; source {completion}; clear\n")
            for typed, shown in cases:
                with self.subTest(typed=typed):
                    terminal.run("send-keys", "C-u", "C-l")
                    terminal.wait_for_screen("$")
                    terminal.run("send-keys", "-l", typed)
                    terminal.wait_for(shown)
        finally:
            terminal.close()


if __name__ == "__main__":
    harness.main()
