# SPDX-License-Identifier: MIT
"""The project's lint checks, each a CTest test of the host build (label lint):

  lint.py SOURCE format CLANG_FORMAT          clang-format finds nothing to change
  lint.py SOURCE tidy CLANG_TIDY BUILD JOBS   clang-tidy, with the build's compile commands
  lint.py SOURCE spdx                         every file of the project's own has its SPDX line
  lint.py SOURCE man MAN PAGE                 the man page renders without a warning at 80 columns
  lint.py SOURCE lua LUACHECK                 the dissector: Lua 5.2, Wireshark's globals alone
  lint.py SOURCE shell SHELLCHECK             the scripts, by shellcheck, and no early-quitting pipe
  lint.py SOURCE keywords                     the dissector names every keyword of the table

The files are the ones git tracks or would track, as they are now.
"""

import concurrent.futures
import os
import re
import subprocess
import sys


def files(source, *patterns):
    listed = subprocess.run(["git", "-C", source, "ls-files", "-co", "--exclude-standard", "--", *patterns],
                            check=True, capture_output=True, text=True).stdout.split()
    return [name for name in listed if os.path.exists(os.path.join(source, name))]


def run(argv, source, **kwargs):
    return subprocess.run(argv, cwd=source, capture_output=True, text=True, check=False, **kwargs)


def report(result):
    sys.stdout.write(result.stdout + result.stderr)
    return result.returncode == 0


def lint_format(source, clang_format):
    return report(run([clang_format, "--dry-run", "-Werror", *files(source, "*.cpp", "*.h")], source))


def lint_tidy(source, clang_tidy, build, jobs):
    # The fuzz targets are built by clang with libFuzzer alone: they are not
    # in the host build's compile commands.
    sources = [name for name in files(source, "*.cpp") if not name.startswith("fuzz/")]
    with concurrent.futures.ThreadPoolExecutor(int(jobs)) as pool:
        results = list(pool.map(lambda name: run([clang_tidy, "-p", build, "--quiet", name], source), sources))
    findings = [line for result in results for line in result.stdout.splitlines()
                if re.search(r"(warning|error):", line)]
    print("\n".join(findings) or f"clang-tidy: {len(sources)} files, nothing found")
    return not findings and all(result.returncode == 0 for result in results)


def lint_spdx(source):
    # JSON has no comments: CMakePresets.json cannot carry the line.
    own = [name for name in files(source)
           if not re.search(r"(^|/)corpus/|\.md$|^LICENSE$|(^|/)\.|\.json$", name)]
    missing = []
    for name in own:
        with open(os.path.join(source, name), encoding="utf-8", errors="replace") as text:
            if "SPDX-License-Identifier: MIT" not in text.read():
                missing.append(name)
    print(f"no SPDX line: {' '.join(missing)}" if missing else f"{len(own)} files, each with its SPDX line")
    return not missing


def lint_man(source, man, page):
    """No warning, no line over 80 columns, and no word hyphenated at a
    line's end (man renders that hyphen as U+2010): a message or a value
    must read as the program prints it."""
    result = run([man, "--warnings", "-l", page], source, env={**os.environ, "MANWIDTH": "80", "LC_ALL": "C.UTF-8"})
    sys.stdout.write(result.stderr)
    lines = result.stdout.splitlines()
    wide = [line for line in lines if len(line) > 80]
    hyphenated = [line for line in lines if re.search("\\w\u2010$", line)]
    for line in wide + hyphenated:
        print(f"{'over 80 columns' if line in wide else 'hyphenated'}: {line}")
    return result.returncode == 0 and not result.stderr and bool(lines) and not wide and not hyphenated


def lint_lua(source, luacheck):
    return report(run([luacheck, "--no-color", "--std", "lua52", "--read-globals", "Proto", "ProtoField",
                       "ProtoExpert", "expert", "base", "Pref", "DissectorTable", "--",
                       "contrib/wireshark/glowctl.lua"], source))


# A pipe into a reader that may quit before the writer is done (grep -q,
# grep -m, head): under pipefail the writer's SIGPIPE fails such a pipe
# whenever the reader is the quicker, so its result would depend on timing.
EARLY_READER = re.compile(r"\|\s*(grep\s+-[a-zA-Z]*[qm]|head\b)")


def lint_shell(source, shellcheck):
    scripts = [*files(source, "scripts/*.sh"), "bench/run.sh", ".ci/run"]
    ok = report(run([shellcheck, "--severity=warning", "--external-sources", "--source-path=SCRIPTDIR",
                     "--source-path=SCRIPTDIR/../scripts", *scripts], source))
    for name in scripts:
        with open(os.path.join(source, name), encoding="utf-8") as script:
            for number, line in enumerate(script, 1):
                if EARLY_READER.search(line):
                    print(f"{name}:{number}: a pipe into a reader that quits early: {line.strip()}")
                    ok = False
    return ok


def lint_keywords(source):
    """The dissector is a file users copy as it stands, so it keeps its own
    copy of the table; it must give each keyword its pattern."""
    with open(os.path.join(source, "src/frontend/value_keywords.h"), encoding="utf-8") as header:
        table = re.findall(r'\{"([a-z]+)", (0x[0-9A-F]{4})\}', header.read())
    with open(os.path.join(source, "contrib/wireshark/glowctl.lua"), encoding="utf-8") as lua:
        dissector = lua.read()
    missing = [f"{name} {pattern}" for name, pattern in table if f'[{pattern}] = "{name}"' not in dissector]
    print(f"the dissector lacks: {', '.join(missing)}" if missing else f"the dissector names all {len(table)} keywords")
    return bool(table) and not missing


CHECKS = {"format": lint_format, "tidy": lint_tidy, "spdx": lint_spdx, "man": lint_man, "lua": lint_lua,
          "shell": lint_shell, "keywords": lint_keywords}

if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[2] not in CHECKS:
        sys.exit(__doc__)
    sys.exit(0 if CHECKS[sys.argv[2]](sys.argv[1], *sys.argv[3:]) else 1)
