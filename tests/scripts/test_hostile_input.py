# SPDX-License-Identifier: MIT
"""The scripts that run as root cost nobody a file. Each is handed hostile
paths and values against a canary tree of files the scripts did not make:
every refusal is one line, exits 1 and creates nothing; the one release that
is accepted writes its own files alone. Afterwards every byte, link, mode
and owner in the canary tree, and the checkout's state, is as it was. Needs
root (the scripts install what they use, the demo makes namespaces).

    python3 test_hostile_input.py
"""

import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SCRIPTS = os.path.join(ROOT, "scripts")
NOBODY = 65534


def snapshot(top):
    """Every entry below top: its kind, mode, owner and bytes or link target."""
    entries = {}
    for folder, dirs, files in os.walk(top):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                what = os.readlink(path)
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as content:
                    what = content.read()
            else:
                what = None
            entries[os.path.relpath(path, top)] = (info.st_mode, info.st_uid, what)
    return entries


def checkout_state():
    return subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--ignored=no"], capture_output=True,
                          text=True, check=True).stdout


def make_canary(top):
    """Files no script made, in the shapes a path can take."""
    files = {"notes.txt": "keep\n", "spaced name/keep": "keep\n", "-dash/keep": "keep\n",
             "home/.profile": "keep\n", "elsewhere/keep": "keep\n", "a-file": "keep\n",
             "not-a-release/SHA256SUMS": f"{'0' * 64}  glow.deb\n", "not-a-release/glow.deb": "x",
             "not-a-release/notes.txt": "keep\n",
             "earlier-release/SHA256SUMS": f"{'0' * 64}  glow_ctl-0.9.tar.gz\n",
             "earlier-release/glow_ctl-0.9.tar.gz": "x"}
    for name, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(top, name)), exist_ok=True)
        with open(os.path.join(top, name), "w", encoding="utf-8") as out:
            out.write(text)
    os.symlink("elsewhere", os.path.join(top, "link"))
    os.symlink("earlier-release", os.path.join(top, "release-link"))
    os.symlink("nowhere", os.path.join(top, "dangling"))
    # A checkout whose build/ is another user's, for the test command.
    tree = os.path.join(top, "tree")
    shutil.copytree(SCRIPTS, os.path.join(tree, "scripts"))
    shutil.copy(os.path.join(ROOT, "CMakePresets.json"), tree)
    os.makedirs(os.path.join(tree, "build"))
    os.chown(os.path.join(tree, "build"), NOBODY, NOBODY)


# (what, argv, environment, what the one line names): each is refused.
# Relative paths are in the canary tree; CANARY and ROOT are replaced.
REFUSED = [
    ("a folder of someone's files", ["release.sh", "--dist", "CANARY"], {}, ["CANARY", "-dash, a-file"]),
    ("the working folder", ["release.sh", "--dist", "."], {}, ["CANARY/.", "a-file"]),
    ("a home folder", ["release.sh", "--dist", "CANARY/home"], {"HOME": "CANARY/home"}, ["home", ".profile"]),
    ("the root folder", ["release.sh", "--dist", "/"], {}, ["--dist / "]),
    ("the checkout", ["release.sh", "--dist", "ROOT"], {}, ["ROOT", ".git"]),
    ("a link to a folder of files", ["release.sh", "--dist", "link"], {}, ["CANARY/link", "keep"]),
    ("a link to nothing", ["release.sh", "--dist", "dangling"], {}, ["CANARY/dangling"]),
    ("a name with a blank", ["release.sh", "--dist", "spaced name"], {}, ["CANARY/spaced name", "keep"]),
    ("a name with a leading dash", ["release.sh", "--dist", "-dash"], {}, ["CANARY/-dash", "keep"]),
    ("a file", ["release.sh", "--dist", "a-file"], {}, ["CANARY/a-file"]),
    ("a release and a file beside it", ["release.sh", "--dist", "not-a-release"], {}, ["notes.txt"]),
    ("seconds with a fraction", ["demo.sh", "--show", "-l", "1"], {"GLOW_DEMO_SECONDS": "2.5"},
     ["GLOW_DEMO_SECONDS='2.5'"]),
    ("seconds that are no number", ["demo.sh", "-l", "1"], {"GLOW_DEMO_SECONDS": "abc"}, ["GLOW_DEMO_SECONDS"]),
    ("no seconds", ["demo.sh", "--show"], {"GLOW_DEMO_SECONDS": "0"}, ["GLOW_DEMO_SECONDS"]),
    ("a build folder that is a file", ["demo.sh", "-l", "1"], {"GLOW_BUILD": "CANARY/a-file"}, ["GLOW_BUILD"]),
    ("jobs that are no number", ["test.sh", "host"], {"GLOW_JOBS": "two"}, ["GLOW_JOBS"]),
    ("no jobs", ["test.sh", "host"], {"GLOW_JOBS": "0"}, ["GLOW_JOBS"]),
    ("a benchmark of no runs", ["../bench/run.sh", "--runs", "-5"], {}, ["--runs"]),
    ("musl for armel in a folder of files", ["release.sh"], {"GLOW_MUSL_ROOT": "CANARY"}, ["='CANARY'", "musl-dev"]),
    ("musl for armel at a relative path", ["test.sh", "arm-static"], {"GLOW_MUSL_ROOT": "usr"}, ["='usr'", "musl-dev"]),
]


class HostileInput(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.canary = tempfile.mkdtemp(prefix="glow-canary-")
        self.addCleanup(shutil.rmtree, self.canary)
        make_canary(self.canary)
        self.before = snapshot(self.canary), checkout_state()

    def assertUntouched(self):
        self.assertEqual((snapshot(self.canary), checkout_state()), self.before)

    def place(self, text):
        return text.replace("CANARY", self.canary).replace("ROOT", ROOT)

    def run_script(self, argv, environment):
        env = {**os.environ, "GLOW_BUILD": os.path.join(self.canary, "never-made"),
               **{name: self.place(value) for name, value in environment.items()}}
        return subprocess.run(["bash", os.path.join(SCRIPTS, argv[0]), *map(self.place, argv[1:])],
                              cwd=self.canary, env=env, capture_output=True, text=True, timeout=1800)

    def test_refusals_are_one_line_and_touch_nothing(self):
        for what, argv, environment, names in REFUSED:
            with self.subTest(what):
                run = self.run_script(argv, environment)
                said = (run.stdout + run.stderr).strip()
                self.assertEqual(run.returncode, 1, said)
                self.assertEqual(len(said.splitlines()), 1, said)
                for name in names:
                    self.assertIn(self.place(name), said)
                self.assertUntouched()

    def test_refused_build_folder_closes_with_the_counts(self):
        run = subprocess.run(["bash", os.path.join(self.canary, "tree", "scripts", "test.sh"), "host"],
                             capture_output=True, text=True, timeout=600)
        lines = run.stdout.strip().splitlines()
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertEqual(lines[-1], "0 passed, 1 failed, 0 skipped")
        self.assertIn("build/ belongs to nobody", run.stdout)
        if not shutil.which("sudo"):
            self.assertNotIn("sudo", run.stdout + run.stderr)
        self.assertUntouched()

    def test_release_through_a_link_replaces_the_earlier_release_alone(self):
        run = self.run_script(["release.sh", "--dist", "release-link"], {})
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        made = snapshot(self.canary)
        written = {name for name in made if name.startswith("earlier-release/")}
        with open(os.path.join(self.canary, "earlier-release", "SHA256SUMS"), encoding="utf-8") as listed:
            named = {"earlier-release/" + line.split("  ", 1)[1].strip() for line in listed}
        self.assertEqual(written, named | {"earlier-release/SHA256SUMS"})
        self.assertNotIn("earlier-release/glow_ctl-0.9.tar.gz", written)
        # Everything else, the link itself included, is as it was.
        self.assertEqual({name: entry for name, entry in made.items() if name not in written},
                         {name: entry for name, entry in self.before[0].items()
                          if not name.startswith("earlier-release/")})
        self.assertEqual(checkout_state(), self.before[1])


if __name__ == "__main__":
    if os.geteuid() != 0:
        print("SKIPPED: the scripts need root", file=sys.stderr)
        sys.exit(1 if os.environ.get("CI") == "true" else 77)
    unittest.main(verbosity=2)
