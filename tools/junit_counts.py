# SPDX-License-Identifier: MIT
"""Adds up CTest's JUnit files: "PASSED FAILED SKIPPED" on one line. A
skipped test is CTest's notrun (exit 77, a skip expression) or disabled.

    python3 junit_counts.py FILE...
"""

import sys
import xml.etree.ElementTree as tree

counts = {"run": 0, "fail": 0, "notrun": 0, "disabled": 0}
for path in sys.argv[1:]:
    for case in tree.parse(path).iter("testcase"):
        counts[case.get("status")] += 1
print(counts["run"], counts["fail"], counts["notrun"] + counts["disabled"])
