# SPDX-License-Identifier: MIT
"""scripts/sbom.py check on variants of a bill of materials the release
made: the jsonschema installed here (Debian 12's 4.10 or Debian 13's 4.19)
must accept what is valid and refuse what is not, with a reason, and never
fail on the wording.

    python3 test_sbom_check.py SCHEMA_CACHE BILL.cdx.json
"""

import copy
import json
import os
import subprocess
import sys
import tempfile
import unittest

SBOM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sbom.py")
CACHE, BILL = sys.argv[1:3]
MIT, GPL = {"license": {"id": "MIT"}}, {"license": {"id": "GPL-2.0-only"}}


def check(component):
    """What the checker says of the release's bill with these component
    fields, written where no artefact lies beside it."""
    with open(BILL, encoding="utf-8") as bill:
        bom = json.load(bill)
    bom["metadata"]["component"].update(copy.deepcopy(component))
    with tempfile.TemporaryDirectory(prefix="glow-sbom-") as scratch:
        path = os.path.join(scratch, "variant.cdx.json")
        with open(path, "w", encoding="utf-8") as out:
            json.dump(bom, out)
        return subprocess.run([sys.executable, SBOM, "check", CACHE, path], capture_output=True, text=True,
                              check=False)


class Check(unittest.TestCase):
    def test_valid_variants_are_accepted(self):
        # Several licence objects fail the schema's one-expression form on
        # the way, whose message must not break the check (jsonschema 4.10
        # sorted them to word it).
        for licences in ([MIT], [MIT, GPL], [{"expression": "MIT OR GPL-2.0-only"}]):
            with self.subTest(licences=licences):
                result = check({"licenses": licences})
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, "variant.cdx.json: valid CycloneDX 1.5\n", ""))

    def test_invalid_variants_are_refused_with_a_reason(self):
        for name, component in (("two expressions", {"licenses": [{"expression": "MIT"}, {"expression": "GPL"}]}),
                                ("a licence and an expression", {"licenses": [MIT, {"expression": "MIT"}]}),
                                ("an unknown field", {"colour": "red"})):
            with self.subTest(name):
                result = check(component)
                self.assertEqual((result.returncode, result.stderr), (1, ""))
                self.assertRegex(result.stdout, r"^\S+: metadata/component\S*: .+\n(.*\n)*"
                                                r"variant\.cdx\.json: not valid CycloneDX 1\.5\n$")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
