#!/usr/bin/env python3
"""The /report document read back by a strict parser (UTF-8 without a mark,
no duplicate key, no NaN): hand-made findings written by
quorva_report_probe.exe, a silent run of quorva.exe, and runs whose report
cannot be written.  Usage: json_report.py BUILD_DIR"""
import json, os, subprocess, sys, tempfile, unittest

BUILD = os.path.abspath(sys.argv.pop(1))


def wine(program, *arguments):
    return subprocess.run(["wine", os.path.join(BUILD, program), *arguments],
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)


def windows(path):
    return "Z:" + path.replace("/", "\\")


def pairs(items):
    if len({key for key, _ in items}) != len(items):
        raise ValueError("duplicate key")
    return dict(items)


def strict_load(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        raise ValueError("byte-order mark")
    # decode() refuses a surrogate written as UTF-8 bytes.
    return json.loads(data.decode("utf-8"), object_pairs_hook=pairs, parse_constant=refuse)


def refuse(name):
    raise ValueError(name)


def facts(size, units, first_hash_byte=0):
    value = {"size": size, "lastWrite": "1601-01-01T00:00:00.%07dZ" % units}
    if first_hash_byte:
        value["hash"] = bytes(range(first_hash_byte, first_hash_byte + 20)).hex()
    return value


def finding(path, kind, source, destination, type="file", side=None):
    value = {"path": path, "type": type, "kind": kind}
    return dict(value, **({"side": side} if side else {}), source=source, destination=destination)


COUNTERS = ["tested", "missingFiles", "excludedFiles", "inaccessibleFiles", "securityIssues",
            "missingFolders", "excludedFolders", "inaccessibleFolders"]


class JsonReport(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        self.report = os.path.join(self.root, "r.json")

    def tearDown(self):
        self.folder.cleanup()

    def test_hand_made_findings(self):
        self.assertEqual(0, wine("quorva_report_probe.exe", windows(self.report)).returncode)
        document = strict_load(self.report)
        self.assertEqual(["program", "version", "source", "destination", "options", "findings",
                          "errors", "summary", "elapsedSeconds", "exitCode", "interrupted"],
                         list(document))
        self.assertRegex(document["version"], r"^\d+\.\d+\.\d+\.\d+$")
        self.assertEqual("\\\\server\\share\\\u00e9t\u00e9", document["destination"])
        self.assertEqual({"date": 2000, "hash": "sha1", "security": False, "subdir": True,
                          "fileExclusions": "C:\\x\\ex.txt", "folderExclusions": None},
                         document["options"])
        folder = {"lastWrite": facts(0, 5)["lastWrite"]}
        expected = [
            finding("\\a\x01\t\"\\b", "missing-in-destination", facts(5, 0), None),
            finding("\\dir\ud800", "missing-in-source", None,
                    {"lastWrite": "60056-05-28T05:36:10.9551615Z"}, "folder"),
            finding("\\\udc00z", "date", facts(1, 1), facts(1, 2)),
            finding("\\\U0001f600", "size", facts(1, 3), facts(2, 3)),
            finding("\\c", "contents", facts(3, 4, 1), facts(3, 4, 2)),
            finding("\\i", "inaccessible", facts(3, 4), facts(3, 4), side="both"),
            finding("\\f", "inaccessible", folder, folder, "folder", "source"),
            finding("\\s", "security", facts(3, 4), facts(3, 4), side="destination"),
            finding("\\=", "identical", facts(3, 4, 1), facts(3, 4, 1)),
        ]
        # Compared as dumped text, so that the order of the fields counts too.
        self.assertEqual(json.dumps(expected), json.dumps(document["findings"]))
        first, second = document["errors"]
        self.assertEqual(["path", "message", "code", "text"], list(first))
        self.assertEqual(("\\c", "could not compute source file hash.", 32),
                         (first["path"], first["message"], first["code"]))
        self.assertRegex(first["text"], r"[^)]$")  # the system's text, without the code
        self.assertEqual({"path": "\\", "message": "no text", "code": 0x8FFF0001, "text": None},
                         second)
        summary = {"identical": 1, "sizeMismatches": 2, "dateMismatches": 4, "hashMismatches": 3,
                   "source": dict(zip(COUNTERS, range(5, 13))),
                   "destination": dict(zip(COUNTERS, range(13, 21)))}
        self.assertEqual(json.dumps(summary), json.dumps(document["summary"]))
        self.assertEqual([1.5, 4, True], list(document.values())[-3:])

    def run_quorva(self, *arguments):
        for tree, files in {"src": {"a": "1", "b": "2"}, "dst": {"a": "11"}}.items():
            os.mkdir(os.path.join(self.root, tree))
            for name, text in files.items():
                with open(os.path.join(self.root, tree, name), "w") as f:
                    f.write(text)
        return wine("quorva.exe", windows(self.root + "/src"), windows(self.root + "/dst"),
                    "/report", windows(self.report), *arguments)

    def test_silent_run(self):
        result = self.run_quorva("/display:none")
        self.assertEqual((4, b""), (result.returncode, result.stdout))
        document = strict_load(self.report)
        self.assertEqual([windows(self.root + "/src"), windows(self.root + "/dst")],
                         [document["source"], document["destination"]])
        self.assertEqual(result.returncode, document["exitCode"])
        self.assertEqual([0, 1, 2, 1], [document["summary"]["identical"],
                                        document["summary"]["sizeMismatches"],
                                        document["summary"]["source"]["tested"],
                                        document["summary"]["destination"]["missingFiles"]])
        self.assertEqual(["dst", "r.json", "src"], sorted(os.listdir(self.root)))

    def test_report_that_cannot_be_written(self):
        for target in ["a folder", "a read-only earlier report"]:
            with self.subTest(target), tempfile.TemporaryDirectory() as self.root:
                self.report = os.path.join(self.root, "r.json")
                if target == "a folder":
                    os.mkdir(self.report)
                else:
                    with open(self.report, "w") as f:
                        f.write("earlier")
                    os.chmod(self.report, 0o444)  # Wine's read-only attribute
                result = self.run_quorva()
                self.assertEqual(2, result.returncode)
                self.assertRegex(result.stdout, rb"\.\r\n\r\nERROR: report file could not be "
                                 rb"written\.\r\n[^\r\n]+ \(5\)\r\n$")
                self.assertEqual(["dst", "r.json", "src"], sorted(os.listdir(self.root)))
                if target != "a folder":
                    with open(self.report) as f:
                        self.assertEqual("earlier", f.read())


if __name__ == "__main__":
    unittest.main()
