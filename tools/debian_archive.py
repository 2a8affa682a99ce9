# SPDX-License-Identifier: MIT
"""Debian packages of another suite or architecture than this machine's,
through a private apt configuration per suite and architecture: this
machine's own sources, the suite's name changed for another suite. No
foreign architecture is added to the host and its package database is not
touched; the lists and packages are kept in a cache folder between runs.

    python3 debian_archive.py has CACHE SUITE ARCHITECTURE PACKAGE
    python3 debian_archive.py download CACHE SUITE ARCHITECTURE FOLDER PACKAGE...

has: exits 0 when the suite has the package for that architecture, 1 when
not. download: downloads the packages once into FOLDER and prints the path
of each .deb. SUITE "this" is this machine's own.
"""

import fcntl
import glob
import os
import platform
import re
import subprocess
import sys


def this_suite():
    return platform.freedesktop_os_release().get("VERSION_CODENAME", "unknown")


def own_suite_names():
    """The names this machine's sources may give its suite: its codename, and
    for testing or unstable (which have no version number) those names too."""
    release = platform.freedesktop_os_release()
    names = [this_suite()]
    if "VERSION_ID" not in release:
        names += ["testing", "unstable", "sid"]
    return names


def apt_config(cache, suite, architecture):
    """A private apt configuration for one suite and architecture, from this
    machine's Debian sources with its suite's name replaced."""
    home = os.path.join(cache, "apt", f"{suite}-{architecture}")
    for folder in ("state/lists/partial", "archives/partial", "sources"):
        os.makedirs(os.path.join(home, folder), exist_ok=True)
    own = "|".join(re.escape(name) for name in own_suite_names())
    for source in glob.glob("/etc/apt/sources.list.d/*.sources") + glob.glob("/etc/apt/sources.list"):
        if os.path.isfile(source):
            with open(source, encoding="utf-8") as lines:
                text = lines.read()
            if "debian" not in text:
                continue
            name = os.path.basename(source).replace("sources.list", "main.list")
            if suite != this_suite():
                text = re.sub(rf"\b({own})\b", suite, text)
            with open(os.path.join(home, "sources", name), "w", encoding="utf-8") as copy:
                copy.write(text)
    path = os.path.join(home, "apt.conf")
    with open(path, "w", encoding="utf-8") as conf:
        conf.write(f'APT::Architecture "{architecture}";\nAPT::Architectures {{ "{architecture}"; }};\n'
                   f'Dir::State "{home}/state";\nDir::State::status "/dev/null";\n'
                   f'Dir::Cache "{home}";\nDir::Etc::SourceList "/dev/null";\n'
                   f'Dir::Etc::SourceParts "{home}/sources";\nDir::Etc::Preferences "/dev/null";\n'
                   f'Dir::Etc::PreferencesParts "/dev/null";\n')
    return {**os.environ, "APT_CONFIG": path}


def update(env):
    # An index of one suite (security, say) may fail to download now and
    # then, or be gone for an old release; what matters is that the
    # packages are found.
    subprocess.run(["apt-get", "update", "-q"], env=env, capture_output=True, check=False)


def has(cache, suite, architecture, package):
    """Whether the suite has the package for the architecture."""
    env = apt_config(cache, suite, architecture)
    update(env)
    return subprocess.run(["apt-cache", "show", "--no-all-versions", package], env=env, capture_output=True,
                          check=False).returncode == 0


def download(cache, suite, architecture, folder, wanted):
    """The packages wanted ({name: file pattern}) of one suite and
    architecture, downloaded once into folder: {name: path of the .deb}.
    A name given as linux-image-FLAVOUR is the kernel that metapackage
    depends on. Runs side by side take turns at one folder."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, ".lock"), "w", encoding="ascii") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not all(glob.glob(os.path.join(folder, pattern)) for pattern in wanted.values()):
            env = apt_config(cache, suite, architecture)
            update(env)
            subprocess.run(["apt-get", "download", "-q", *(package_name(name, env) for name in wanted)], env=env,
                           cwd=folder, capture_output=True, check=True)
        return {name: sorted(glob.glob(os.path.join(folder, pattern)))[-1] for name, pattern in wanted.items()}


def package_name(name, env):
    """name, or for linux-image-FLAVOUR the kernel package it depends on."""
    if not name.startswith("linux-image-"):
        return name
    flavour = name.removeprefix("linux-image-")
    depends = subprocess.run(["apt-cache", "depends", name], env=env, capture_output=True, text=True,
                             check=True).stdout
    return next(word for word in depends.split() if word.startswith("linux-image-") and
                word.endswith("-" + flavour) and word != name)


def main(argv):
    if len(argv) >= 5 and argv[0] in ("has", "download"):
        cache, suite, architecture = os.path.abspath(argv[1]), argv[2], argv[3]
        suite = this_suite() if suite == "this" else suite
        if argv[0] == "has" and len(argv) == 5:
            return 0 if has(cache, suite, architecture, argv[4]) else 1
        if argv[0] == "download" and len(argv) >= 6:
            wanted = {name: f"{name}_*_{architecture}.deb" for name in argv[5:]}
            for path in download(cache, suite, architecture, argv[4], wanted).values():
                print(path)
            return 0
    sys.exit(__doc__.rsplit("\n\n", 2)[-2])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
