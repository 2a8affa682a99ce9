# SPDX-License-Identifier: MIT
"""A firmware's build of glow_ctl takes the firmware's flags alone: every
compile command carries them, and no compile or link command carries the
project's own hardening, build type or path maps, which a firmware decides
for itself.

    check_firmware_flags.py BUILD "FIRMWARE FLAGS"
"""

import glob
import json
import os
import re
import shlex
import sys

# The project's own choices, which a build for a firmware leaves out.
OWN = re.compile(r"-fstack-protector[a-z-]*|-fstack-clash-protection|-fcf-protection|-D_FORTIFY_SOURCE=2"
                 r"|-ffile-prefix-map=\S*|-Os\b|-Wl,-z,(relro|now)")


def main(build, flags):
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as listed:
        compiles = [entry["command"] for entry in json.load(listed)]
    links = []
    for name in [os.path.join(build, "build.ninja"), *glob.glob(os.path.join(build, "**", "link.txt"),
                                                                 recursive=True)]:
        if os.path.exists(name):
            with open(name, encoding="utf-8") as text:
                links.append(text.read())
    own = sorted({match.group(0) for text in compiles + links for match in OWN.finditer(text)})
    wanted = shlex.split(flags)
    without = [command for command in compiles if not set(wanted) <= set(shlex.split(command))]
    print(f"{len(compiles)} compile commands; the project's own flags: {' '.join(own) or 'none'}; "
          f"without the firmware's ({flags}): {len(without)}")
    return 0 if compiles and wanted and not own and not without else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
