#!/usr/bin/env python3
"""The /report document read back by a strict parser (UTF-8 without a mark,
no duplicate key, no NaN): hand-made findings written by
quorva_report_probe.exe, runs of quorva.exe at each display level checked
against their console output, and runs whose report cannot be written.
Usage: json_report.py BUILD_DIR"""
import json, os, re, sys, tempfile, unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
sys.dont_write_bytecode = True
from quorva_e2e import run as wine, windows


def pairs(items):
    if len({key for key, _ in items}) != len(items):
        raise ValueError("duplicate key")
    return dict(items)


def strict_load(path, accounted=True):
    """The document at path; unless told otherwise (a document made by hand),
    one whose every side accounts for each file listed in exactly one class."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        raise ValueError("byte-order mark")
    # decode() refuses a surrogate written as UTF-8 bytes.
    document = json.loads(data.decode("utf-8"), object_pairs_hook=pairs, parse_constant=refuse)
    for side, files in document["summary"]["files"].items() if accounted else ():
        for unit in ("count", "bytes"):
            if sum(files[c][unit] for c in FILE_CLASSES) != files["listed"][unit]:
                raise ValueError("%s: the classes' %s are not those listed: %r" % (side, unit, files))
    return document


def refuse(name):
    raise ValueError(name)


def facts(size, units, first_hash_byte=0):
    value = {"size": size, "lastWrite": "1601-01-01T00:00:00.%07dZ" % units}
    if first_hash_byte:
        value["hash"] = bytes(range(first_hash_byte, first_hash_byte + 20)).hex()
    return value


def finding(path, kind, source, destination, type="file", side=None, error=None, reason=None):
    value = {"path": path, "type": type, "kind": kind}
    if side:
        value["side"] = side
    if kind == "inaccessible":
        value.update(error=error, reason=reason)
    return dict(value, source=source, destination=destination)


# The console's finding texts by kind: (pattern, type, kind, side group).
KINDS = [(r"(file|folder) not found in destination", "missing-in-destination"),
         (r"(file|folder) not found in source", "missing-in-source"),
         (r"file in (source|destination) is more recent", "date"),
         (r"(file sizes are different|(source|destination) file size is null)", "size"),
         (r"file contents are different! \((\w+) != (\w+)\)", "contents"),
         (r"(file|folder) inaccessible in (source|destination|both)", "inaccessible"),
         (r"file does not have any owner or DACL in (source|destination|both)", "security"),
         (r"files are identical( \((\w+)\))?", "identical")]


def console_findings(lines):
    """The findings of the console's lines as (path, type, kind, side,
    [source hash, destination hash], the reason on the next line of one
    inaccessible); other lines are left out."""
    findings = []
    for n, line in enumerate(lines):
        match = re.match(r"^(\\[^:]*): (.*)\.$", line)
        if not match:
            continue
        path, text = match.groups()
        for pattern, kind in KINDS:
            found = re.match(pattern, text)
            if found:
                break
        else:
            raise AssertionError("not a finding: " + line)
        type = "folder" if text.startswith("folder") else "file"
        side = {"both": "both", "source": "source", "destination": "destination"}.get(
            found.groups()[-1]) if kind in ("inaccessible", "security") else None
        hashes = list(found.groups()) if kind == "contents" else \
            [found.group(2)] * 2 if kind == "identical" else [None, None]
        reason = lines[n + 1] if kind == "inaccessible" else None
        findings.append((path, type, kind, side, hashes, reason))
    return findings


def console_summary(lines):
    """The counters of the console's summary block, named as the document
    names them."""
    text = "\n".join(lines)
    number = lambda label, block=text: int(re.search(re.escape(label) + r"\s+(\d+)", block).group(1))
    source, destination = text.split("- Source:")[1].split("- Destination:")
    side = lambda block: {"tested": number("Tested file(s):", block),
                          "missingFiles": number("Missing file(s):", block),
                          "inaccessibleFiles": number("Inaccessible file(s):", block),
                          "missingFolders": number("Missing folder(s):", block),
                          "inaccessibleFolders": number("Inaccessible folder(s):", block)}
    summary = {"identical": number("Identical file(s):"),
               "sizeMismatches": number("File size mismatch(es):"),
               "dateMismatches": number("File date mismatch(es):"),
               "hashMismatches": number("File hash mismatch(es):"),
               "movedFiles": number("Moved file(s):") if "Moved file(s):" in text else 0,
               "movedFolders": number("Moved folder(s):") if "Moved folder(s):" in text else 0,
               "source": side(source), "destination": side(destination)}
    # The console shows no excluded files or folders and no security issues
    # without their options: the document counts none.
    for counts in (summary["source"], summary["destination"]):
        counts.update(excludedFiles=0, securityIssues=0, excludedFolders=0)
    summary["verdict"] = {"line": re.search(r"^Verdict: .*$", text, re.M).group(0)}
    return summary


FILE_CLASSES = ["identical", "moved", "different", "missing", "notVerified", "excluded"]
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
        document = strict_load(self.report, accounted=False)
        self.assertEqual(["program", "version", "source", "destination", "options", "findings",
                          "errors", "summary", "elapsedSeconds", "exitCode", "interrupted"],
                         list(document))
        self.assertRegex(document["version"], r"^\d+\.\d+\.\d+\.\d+$")
        self.assertEqual("\\\\server\\share\\\u00e9t\u00e9", document["destination"])
        self.assertEqual({"date": 2000, "dateShiftHours": 1, "hash": "sha1", "moves": True,
                          "oneway": False, "content": False,
                          "security": False, "strict": True, "subdir": True,
                          "fileExclusions": "C:\\x\\ex.txt", "folderExclusions": None},
                         document["options"])
        folder = {"lastWrite": facts(0, 5)["lastWrite"]}
        expected = [
            finding("\\a\x01\t\"\\b", "missing-in-destination", facts(5, 0), None),
            finding("\\dir\ud800", "missing-in-source", None,
                    {"lastWrite": "1600-12-31T23:59:59.9999999Z"}, "folder"),
            finding("\\\udc00z", "date", facts(1, 1), facts(1, 2)),
            finding("\\\U0001f600", "size", facts(1, 3), facts(2, 3)),
            finding("\\c", "contents", facts(3, 4, 1), facts(3, 4, 2)),
            finding("\\i", "inaccessible", facts(3, 4), facts(3, 4), side="both",
                    reason="The file changed while it was being read."),
            finding("\\f", "inaccessible", folder, folder, "folder", "source", 5, "denied"),
            finding("\\s", "security", facts(3, 4), facts(3, 4), side="destination"),
            finding("\\=", "identical", facts(3, 4, 1), facts(3, 4, 1)),
            {"path": "\\m", "type": "file", "kind": "moved", "to": "\\n\\m2",
             "source": facts(3, 4, 1), "destination": facts(3, 6, 1)},
        ]
        # The system's text of a denial, with the code, as the console shows it.
        denied = document["findings"][6]["reason"]
        self.assertRegex(denied, r"^[^\n]+ \(5\)$")
        expected[6]["reason"] = denied
        # Compared as dumped text, so that the order of the fields counts too.
        self.assertEqual(json.dumps(expected), json.dumps(document["findings"]))
        first, second, *more = document["errors"]
        self.assertEqual([{"path": "\\e%d" % i, "message": "one of many", "code": 0, "text": None}
                          for i in range(2000)], more)
        self.assertEqual(["path", "message", "code", "text"], list(first))
        self.assertEqual(("\\c", "could not compute source file hash.", 32),
                         (first["path"], first["message"], first["code"]))
        self.assertRegex(first["text"], r"[^)]$")  # the system's text, without the code
        self.assertEqual({"path": "\\", "message": "no text", "code": 0x8FFF0001, "text": None},
                         second)
        summary = {"identical": 1, "sizeMismatches": 2, "dateMismatches": 4, "hashMismatches": 3,
                   "movedFiles": 5, "movedFolders": 0, "source": dict(zip(COUNTERS, range(6, 14))),
                   "destination": dict(zip(COUNTERS, range(14, 22)))}
        none = {"count": 0, "bytes": 0}
        files = {side: dict.fromkeys(["listed"] + FILE_CLASSES, none)
                 for side in ("source", "destination")}
        files["source"].update(listed={"count": 7, "bytes": 70}, moved={"count": 3, "bytes": 30})
        files["destination"].update(excluded={"count": 1, "bytes": 5000000000})
        summary["files"] = files
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

    def test_every_kind_of_finding_at_each_display_level(self):
        # A file of each kind, folders on one side, a named pipe on both
        # sides (held open here, so that it has a writer), a name Windows
        # forbids and a subfolder.
        trees = {"src": {"same": "x", "only-src": "s", "date": "d", "size": "1", "contents": "a",
                         "sub/deep": "y", "sub/deep-size": "1", "dir-src/f": "f", "why?": "w"},
                 "dst": {"same": "x", "only-dst": "dd", "date": "d", "size": "22", "contents": "b",
                         "sub/deep": "y", "sub/deep-size": "333", "dir-dst/f": "f", "why?": "w"}}
        pipes = []
        for tree, files in trees.items():
            for name, text in files.items():
                path = os.path.join(self.root, tree, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as f:
                    f.write(text)
                os.utime(path, (1700000000, 1700000000 + (10 if name == "date" and tree == "dst"
                                                          else 0)))
            pipe = os.path.join(self.root, tree, "pipe")
            os.mkfifo(pipe)
            os.utime(pipe, (1700000000, 1700000000))
            pipes.append(os.open(pipe, os.O_RDWR))
        self.addCleanup(lambda: [os.close(fd) for fd in pipes])
        arguments = [windows(self.root + "/src"), windows(self.root + "/dst"), "/report",
                     windows(self.report), "/hash", "/date:0", "/subdir"]
        documents = {}
        for level in ["normal", "verbose", "none"]:
            with self.subTest(level):
                result = wine("quorva.exe", *arguments, "/display:" + level)
                document = documents[level] = strict_load(self.report)
                self.assertEqual((4, 4), (result.returncode, document["exitCode"]))
                if level == "none":
                    self.assertEqual(b"", result.stdout)
                    self.assertEqual(documents["normal"]["findings"], document["findings"])
                    self.assertEqual(documents["normal"]["summary"], document["summary"])
                    continue
                console = result.stdout.decode("latin-1").split("\r\n")
                # The line of a folder of the source only stands for its files
                # but at the verbose level.
                self.assertEqual(console_findings(console), [
                    (f["path"], f["type"], f["kind"], f.get("side"),
                     [(f[s] or {}).get("hash") for s in ("source", "destination")], f.get("reason"))
                    for f in document["findings"] if level == "verbose" or "folder" not in f])
                self.assertEqual([("\\dir-src\\f", "\\dir-src")],
                                 [(f["path"], f["folder"]) for f in document["findings"]
                                  if "folder" in f])
                self.assertEqual({"\\pipe": 1630, "\\why?": 123},
                                 {f["path"]: f["error"] for f in document["findings"]
                                  if f["kind"] == "inaccessible"})
                # The verdict's line is the console's, with what it rests on:
                # same, contents, sub/deep and date (its times differ, its
                # contents are compared all the same) were read on both sides.
                verdict = document["summary"]["verdict"]
                self.assertEqual({"extraInDestination": 1, "unlistedSourceFolders": 0,
                                  "bytesRead": 8},
                                 {k: v for k, v in verdict.items() if k != "line"})
                # The file accounts are the document's alone.
                counters = {k: v for k, v in document["summary"].items() if k != "files"}
                self.assertEqual(console_summary(console),
                                 dict(counters, verdict={"line": verdict["line"]}))
                kinds = {f["kind"] for f in document["findings"]}
                self.assertEqual({"missing-in-destination", "missing-in-source", "date", "size",
                                  "contents", "inaccessible"} | ({"identical"} if level == "verbose"
                                                                 else set()), kinds)

    def test_contents_compared_byte_by_byte(self):
        for tree, data in {"src": b"x" * 20000, "dst": b"x" * 12345 + b"y" + b"x" * 7654}.items():
            os.mkdir(os.path.join(self.root, tree))
            with open(os.path.join(self.root, tree, "f"), "wb") as f:
                f.write(data)
        result = wine("quorva.exe", windows(self.root + "/src"), windows(self.root + "/dst"),
                      "/report", windows(self.report), "/content")
        finding = strict_load(self.report)["findings"][0]
        self.assertIn(b"\\f: file contents are different! (first difference at byte 12,345).\r\n",
                      result.stdout)
        self.assertEqual((4, "contents", 12345, None), (result.returncode, finding["kind"],
                                                        finding["offset"], finding["source"].get("hash")))

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
