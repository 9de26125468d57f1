#!/usr/bin/env python3
"""The JSON report read back by a strict parser: UTF-8 without a mark, no
duplicate key, no NaN: a document of hand-made findings written by
quorva_report_probe.exe, and the report of a silent run of quorva.exe.
    tests/e2e/json_report.py BUILD_DIR"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

BUILD = os.path.abspath(sys.argv.pop(1))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def wine(program, *arguments):
    return subprocess.run(["wine", os.path.join(BUILD, program), *arguments],
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)


def strict_load(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        raise ValueError("byte-order mark")

    def pairs(items):
        if len({key for key, _ in items}) != len(items):
            raise ValueError("duplicate key")
        return dict(items)

    def constant(name):
        raise ValueError(name)

    # decode() refuses a surrogate written as UTF-8 bytes.
    return json.loads(data.decode("utf-8"), object_pairs_hook=pairs, parse_constant=constant)


def time(units):
    return "1601-01-01T00:00:00.%07dZ" % units


def side(size, units, first_hash_byte=0):
    facts = {"size": size, "lastWrite": time(units)}
    if first_hash_byte:
        facts["hash"] = bytes(range(first_hash_byte, first_hash_byte + 20)).hex()
    return facts


def finding(path, kind, source, destination, type="file", side=None):
    value = {"path": path, "type": type, "kind": kind}
    if side:
        value["side"] = side
    return dict(value, source=source, destination=destination)


COUNTERS = ["tested", "missingFiles", "excludedFiles", "inaccessibleFiles", "securityIssues",
            "missingFolders", "excludedFolders", "inaccessibleFolders"]


class JsonReport(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.report = os.path.join(self.folder.name, "r.json")

    def tearDown(self):
        self.folder.cleanup()

    def test_hand_made_findings(self):
        self.assertEqual(0, wine("quorva_report_probe.exe", windows_path(self.report)).returncode)
        document = strict_load(self.report)
        self.assertEqual(["program", "version", "source", "destination", "options", "findings",
                          "errors", "summary", "elapsedSeconds", "exitCode", "interrupted"],
                         list(document))
        self.assertRegex(document["version"], r"^\d+\.\d+\.\d+\.\d+$")
        self.assertEqual("\\\\server\\share\\\u00e9t\u00e9", document["destination"])
        self.assertEqual(
            {"date": 2000, "hash": "sha1", "security": False, "subdir": True,
             "fileExclusions": "C:\\x\\ex.txt", "folderExclusions": None}, document["options"])
        folder = {"lastWrite": time(5)}
        expected = [
            finding("\\a\x01\t\"\\b", "missing-in-destination", side(5, 0), None),
            finding("\\dir\ud800", "missing-in-source", None,
                    {"lastWrite": "60056-05-28T05:36:10.9551615Z"}, "folder"),
            finding("\\\udc00z", "date", side(1, 1), side(1, 2)),
            finding("\\\U0001f600", "size", side(1, 3), side(2, 3)),
            finding("\\c", "contents", side(3, 4, 1), side(3, 4, 2)),
            finding("\\i", "inaccessible", side(3, 4), side(3, 4), side="both"),
            finding("\\f", "inaccessible", folder, folder, "folder", "source"),
            finding("\\s", "security", side(3, 4), side(3, 4), side="destination"),
            finding("\\=", "identical", side(3, 4, 1), side(3, 4, 1)),
        ]
        # Dumped, so that the order of the fields counts as well.
        self.assertEqual(json.dumps(expected), json.dumps(document["findings"]))
        first, second = document["errors"]
        self.assertEqual(["path", "message", "code", "text"], list(first))
        self.assertEqual(("\\c", "could not compute source file hash.", 32),
                         (first["path"], first["message"], first["code"]))
        self.assertNotRegex(first["text"], r"^$|\(32\)$")
        self.assertEqual({"path": "\\", "message": "no text", "code": 0x8FFF0001, "text": None},
                         second)
        summary = {"identical": 1, "sizeMismatches": 2, "dateMismatches": 4, "hashMismatches": 3,
                   "source": dict(zip(COUNTERS, range(5, 13))),
                   "destination": dict(zip(COUNTERS, range(13, 21)))}
        self.assertEqual(json.dumps(summary), json.dumps(document["summary"]))
        self.assertEqual((1.5, 4, True), (document["elapsedSeconds"], document["exitCode"],
                                          document["interrupted"]))

    def test_silent_run(self):
        trees = {"src": {"a.txt": "1", "b.txt": "2"}, "dst": {"a.txt": "11"}}
        for tree, files in trees.items():
            os.mkdir(os.path.join(self.folder.name, tree))
            for name, text in files.items():
                with open(os.path.join(self.folder.name, tree, name), "w") as f:
                    f.write(text)
        source, destination = (windows_path(os.path.join(self.folder.name, tree))
                               for tree in trees)
        result = wine("quorva.exe", source, destination, "/display:none", "/report",
                      windows_path(self.report))
        self.assertEqual((4, b""), (result.returncode, result.stdout))
        document = strict_load(self.report)
        self.assertEqual((source, destination), (document["source"], document["destination"]))
        self.assertEqual(result.returncode, document["exitCode"])
        summary = document["summary"]
        self.assertEqual((0, 1), (summary["identical"], summary["sizeMismatches"]))
        self.assertEqual((2, 1), (summary["source"]["tested"],
                                  summary["destination"]["missingFiles"]))
        self.assertEqual(["dst", "r.json", "src"], sorted(os.listdir(self.folder.name)))


if __name__ == "__main__":
    unittest.main()
