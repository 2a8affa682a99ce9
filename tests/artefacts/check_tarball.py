# SPDX-License-Identifier: MIT
"""The static tarball, as cpack made it: it holds the program, its man page,
completion, licence and changelog under one folder named after it, and the
glow_ctl it holds runs and states the version.

  check_tarball.py TARBALL VERSION [RUNNER...]
"""

import os
import subprocess
import sys
import tarfile
import tempfile


def main(tarball, version, *runner):
    name = os.path.basename(tarball).removesuffix(".tar.gz")
    wanted = sorted(f"{name}/{path}" for path in (
        "bin/glow_ctl", "share/bash-completion/completions/glow_ctl", "share/doc/glow-ctl/changelog.gz",
        "share/doc/glow-ctl/copyright", "share/man/man1/glow_ctl.1.gz"))
    with tempfile.TemporaryDirectory() as scratch, tarfile.open(tarball) as archive:
        listing = sorted(member.name for member in archive.getmembers() if not member.isdir())
        print(f"{os.path.basename(tarball)}: {' '.join(listing)}")
        if listing != wanted:
            print(f"wanted: {' '.join(wanted)}")
            return 1
        archive.extractall(scratch)
        usage = subprocess.run([*runner, os.path.join(scratch, name, "bin", "glow_ctl"), "-h"],
                               capture_output=True, text=True, check=False)
    print(f"its glow_ctl -h: exit {usage.returncode}, last line {usage.stdout.splitlines()[-1:]}")
    return 0 if usage.returncode == 0 and f"Version {version}" in usage.stdout.splitlines() else 1


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
