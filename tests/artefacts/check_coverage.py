# SPDX-License-Identifier: MIT
"""The coverage build's verdict, run by CTest after every other test of the
run: gcovr reads the counters, and every line and every branch of src/ must
have run. Each one that did not is named as FILE:LINE, the form an IDE or
an editor jumps to. A run of part of the suite (ctest -R, -L, a test run
from an IDE) cannot speak for src/ as a whole: it is skipped, saying so.

    check_coverage.py GCOVR SOURCE BUILD
"""

import json
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77


def tests_run(build):
    """(tests this ctest run has finished, tests the build has), read from
    the log CTest writes as it goes; None where there is none."""
    try:
        with open(os.path.join(build, "Testing", "Temporary", "LastTest.log.tmp"), encoding="utf-8") as log:
            finished = re.findall(r"^[0-9]+/([0-9]+) Testing: ", log.read(), re.M)
    except OSError:
        return None
    return (len(finished), int(finished[0])) if finished else None


def missing(report, source):
    """FILE:LINE for each line of src/ that did not run and each branch not
    taken. gcovr 5 lists every line, marking those without code or left out;
    later ones leave them out, and may list a line once per function that
    holds it, which counts as one line, run where any of them ran. gcovr 8
    keeps the branches of a line marked GCOVR_EXCL_BR_LINE, so the markers
    on the line itself are read here too."""
    found = {"lines": [0, 0], "branches": [0, 0]}
    gaps = []
    for entry in report["files"]:
        path = os.path.join(source, entry["file"])
        name = os.path.relpath(path, os.getcwd())
        with open(path, encoding="utf-8") as text:
            code = [""] + text.read().splitlines()
        lines = {}
        for line in entry["lines"]:
            marked = code[line["line_number"]] if line["line_number"] < len(code) else ""
            if line.get("gcovr/noncode") or line.get("gcovr/excluded") or "GCOVR_EXCL_LINE" in marked:
                continue
            run, taken = lines.get(line["line_number"], (False, []))
            branches = [] if "GCOVR_EXCL_BR_LINE" in marked else line["branches"]
            hits = [branch["count"] > 0 for branch in branches]
            if len(hits) == len(taken):
                hits = [a or b for a, b in zip(hits, taken)]
            elif taken:
                hits = taken + hits
            lines[line["line_number"]] = (run or line["count"] > 0, hits)
        for number, (run, taken) in sorted(lines.items()):
            found["lines"][0] += run
            found["lines"][1] += 1
            found["branches"][0] += sum(taken)
            found["branches"][1] += len(taken)
            if not run:
                gaps.append(f"{name}:{number}: line not run")
            gaps += [f"{name}:{number}: branch {index} of {len(taken)} not taken"
                     for index, hit in enumerate(taken, 1) if not hit]
    return found, gaps


def main(gcovr, source, build):
    counted = tests_run(build)
    if counted and counted[0] < counted[1] - 1:
        print(f"SKIPPED: this run has {counted[0] + 1} of the build's {counted[1]} tests; only the whole "
              "suite speaks for every line of src/ (ctest --preset coverage)")
        return SKIP
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "coverage.json")
        # Exceptions are off in glow_ctl's code: the branches g++ adds for a
        # throw and those it proves unreachable are no branches of the program.
        subprocess.run([gcovr, "--root", source, "--filter", os.path.join(source, "src", ""),
                        "--exclude-throw-branches", "--exclude-unreachable-branches", "--json", path, build],
                       check=True)
        with open(path, encoding="utf-8") as report:
            found, gaps = missing(json.load(report), source)
    for gap in gaps:
        print(gap)
    for kind, (hit, total) in found.items():
        print(f"{kind}: {hit} of {total} run")
    return 1 if gaps or not found["lines"][1] else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
