# SPDX-License-Identifier: MIT
"""scripts/sbom.py check, judged on variants of a bill of materials that the
release made: the jsonschema installed here (Debian 12's 4.10 or Debian
13's 4.19) must accept what is valid, refuse what is not, with a message,
and never fail on the wording.

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


def check(bom):
    """What the checker says of bom, written where no artefact lies beside it."""
    with tempfile.TemporaryDirectory(prefix="glow-sbom-") as scratch:
        path = os.path.join(scratch, "variant.cdx.json")
        with open(path, "w", encoding="utf-8") as out:
            json.dump(bom, out)
        return subprocess.run([sys.executable, SBOM, "check", CACHE, path], capture_output=True, text=True,
                              check=False)


class Check(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(BILL, encoding="utf-8") as bill:
            cls.bill = json.load(bill)

    def variant(self, licences):
        bom = copy.deepcopy(self.bill)
        bom["metadata"]["component"]["licenses"] = licences
        return bom

    def test_valid_variants_are_accepted(self):
        # Several licences, each an object: the schema's one-expression form
        # fails on them, and the message of that failure must not break the
        # check (jsonschema 4.10 sorted them to word it).
        for licences in ([{"license": {"id": "MIT"}}],
                         [{"license": {"id": "MIT"}}, {"license": {"id": "GPL-2.0-only"}}],
                         [{"expression": "MIT OR GPL-2.0-only"}]):
            with self.subTest(licences=licences):
                result = check(self.variant(licences))
                self.assertEqual((result.returncode, result.stdout), (0, "variant.cdx.json: valid CycloneDX 1.5\n"),
                                 result.stderr)

    def test_invalid_variants_are_refused_with_a_reason(self):
        unknown_field = copy.deepcopy(self.bill)
        unknown_field["metadata"]["component"]["colour"] = "red"
        cases = {"two expressions": self.variant([{"expression": "MIT"}, {"expression": "GPL-2.0-only"}]),
                 "a licence and an expression": self.variant([{"license": {"id": "MIT"}}, {"expression": "MIT"}]),
                 "an unknown field": unknown_field}
        for name, bom in cases.items():
            with self.subTest(name):
                result = check(bom)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn("metadata/component", result.stdout)
                self.assertTrue(result.stdout.endswith("variant.cdx.json: not valid CycloneDX 1.5\n"), result.stdout)
                self.assertEqual(result.stderr, "")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
