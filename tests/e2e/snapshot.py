#!/usr/bin/env python3
"""Snapshots: a tree with every kind of finding compared as folder/folder,
folder/snapshot, snapshot/snapshot and snapshot/folder (the source gone);
the snapshot read back with the json module; damaged snapshots refused with
exit 2 and their line; options that a snapshot cannot serve refused with
exit 1. Usage: snapshot.py BUILD_DIR"""
import itertools, json, os, re, shutil, sys, tempfile, unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
sys.dont_write_bytecode = True
from quorva_e2e import FIFO, make, quorva, windows


# Names that Windows forbids are listed, but neither opened nor searched.
SAME = {"same.txt": b"same", "date.txt": b"d", "sub/deep.txt": b"x", "sub/more/z.txt": b"z1",
        "empty/": None, "pipe": FIFO, "why?.txt": b"w", "q?dir/x.txt": b"q"}
SOURCE = {"size.txt": b"1", "content.txt": b"abc", "lost.txt": b"l", "only-src/f.txt": b"f"}
DESTINATION = {"size.txt": b"12", "content.txt": b"abd", "extra.txt": b"e", "only-dst/g.txt": b"g"}


def write_snapshot(path, entries):
    """A version-2 snapshot made with /subdir: the header, the entries (each
    given its time; any iterable, written as it comes) and the closing line
    that counts them."""
    time = "2026-12-07T00:00:00.0000000Z"
    header = {"format": "quorva-snapshot", "version": 2, "root": "C:\\t", "created": time,
              "options": {"subdir": True, "hash": None, "security": False, "fileExclusions": None,
                          "folderExclusions": None, "excludedFiles": [], "excludedFolders": []}}
    end = {"files": 0, "folders": 0, "bytes": 0}
    with open(path, "w", encoding="utf-8") as f:
        f.write(json.dumps(header, ensure_ascii=False) + "\n")
        for entry in entries:
            if entry["type"] == "file":
                end["files"] += 1
                end["bytes"] += entry["size"]
            else:
                end["folders"] += 1
            f.write(json.dumps(dict(entry, lastWrite=time), ensure_ascii=False) + "\n")
        f.write(json.dumps({"end": end}) + "\n")


class Snapshot(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        self.src, self.dst = os.path.join(self.root, "src"), os.path.join(self.root, "dst")
        for tree, own in ((self.src, SOURCE), (self.dst, DESTINATION)):
            make(tree, {k: v for k, v in dict(SAME, **own).items() if not k.endswith("/")},
                 1700000000)
            os.makedirs(os.path.join(tree, "empty"))
            # Links to folders: one on both sides, one in the source only.
            for link in ["alias"] + (["src-link"] if tree == self.src else []):
                os.symlink("sub", os.path.join(tree, link))
        os.utime(os.path.join(self.dst, "date.txt"), (1700003600, 1700003600))

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.root, name)

    def snapshot(self, tree, name, *options):
        code, output = quorva(windows(tree), "/snapshot", windows(self.path(name)), *options)
        self.assertEqual(0, code, output)
        return output

    def test_four_forms_give_the_same_findings(self):
        with open(self.path("xf.txt"), "w") as f:
            f.write("lost.*\n")
        with open(self.path("xd.txt"), "w") as f:
            f.write("only-*\n")
        lists = ["/exfile", windows(self.path("xf.txt")), "/exfolder", windows(self.path("xd.txt"))]
        for tree, name, options in ((self.src, "s.json", []), (self.dst, "d.json", []),
                                    (self.src, "sx.json", lists)):
            self.snapshot(tree, name, "/subdir", "/hash", *options)
        s, d, sx, s1 = (windows(self.path(n)) for n in ("s.json", "d.json", "sx.json", "s1.json"))
        # The same snapshot as version 1 wrote it: its names need no escape.
        with open(self.path("s.json"), encoding="utf-8") as f:
            lines = f.read().split("\n")
        lines[0] = lines[0].replace('"version": 3', '"version": 1').replace(
            ', "excludedFiles": [], "excludedFolders": []', "")
        with open(self.path("s1.json"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        # Saved again by an editor that adds a byte-order mark.
        with open(self.path("s.json"), encoding="utf-8") as f, \
                open(self.path("sb.json"), "w", encoding="utf-8-sig") as b:
            b.write(f.read())
        sb = windows(self.path("sb.json"))
        # Rows of one group give the same findings; a snapshot made with
        # exclusions excludes them from the other side too.
        rows = [("folder/folder", windows(self.src), windows(self.dst), []),
                ("folder/snapshot", windows(self.src), d, []),
                ("snapshot/snapshot", s, d, []),
                ("version-1 snapshot/folder", s1, windows(self.dst), []),
                ("snapshot with a byte-order mark/folder", sb, windows(self.dst), []),
                ("folder/folder, exclusions", windows(self.src), windows(self.dst), lists),
                ("snapshot made with exclusions/folder", sx, windows(self.dst), []),
                ("snapshot/folder, the source gone", s, windows(self.dst), [])]
        expected = {}
        for name, source, destination, options in rows:
            with self.subTest(name):
                if "gone" in name:
                    shutil.rmtree(self.src)
                report = self.path(name.replace("/", "-") + ".json")
                code, output = quorva(source, destination, "/subdir", "/hash", "/date:0",
                                      "/display", "verbose", "/report", windows(report), *options)
                self.assertEqual(4, code, output)
                with open(report, encoding="utf-8") as f:
                    document = json.load(f)
                self.assertEqual(windows(self.src), document["source"])
                self.assertEqual(source if source in (s, s1, sx, sb) else None,
                                 document.get("sourceSnapshot"))
                self.assertEqual(d if destination == d else None,
                                 document.get("destinationSnapshot"))
                excluded = "exclusions" in name
                if source == sx:
                    self.assertIn("Excluding the source snapshot's files: lost.*.\n"
                                  "Excluding the source snapshot's folders: only-*.\n", output)
                    self.assertEqual({"files": ["lost.*"], "folders": ["only-*"]},
                                     document["sourceSnapshotExclusions"])
                # The start lines name the sides and the exclusions.
                output = output[output.index("Destination path"):]
                output = re.sub(r" \(snapshot (\S+), \d{4}-\d\d-\d\d \d\d:\d\d UTC\)", "", output)
                # The contents of a folder side are read, a snapshot's values
                # are not: 11 bytes a side (a pair whose times differ too).
                self.assertEqual(11 * ((source not in (s, s1, sx, sb)) + (destination != d)),
                                 document["summary"]["verdict"].pop("bytesRead"))
                result = (re.sub(r"completed in .*", "", output), document["findings"],
                          document["summary"])
                if not expected:
                    kinds = {f["kind"] for f in document["findings"]}
                    self.assertEqual({"missing-in-destination", "missing-in-source", "date",
                                      "size", "contents", "inaccessible", "identical"}, kinds)
                if excluded not in expected:
                    expected[excluded] = result
                self.assertEqual(expected[excluded], result)

    def test_the_file_read_back(self):
        output = self.snapshot(self.src, "s.json", "/subdir", "/hash:sha256", "/security")
        self.assertIn("\\pipe: file inaccessible in source.\n", output)
        self.assertIn("\\why?.txt: file inaccessible in source.\nInvalid name. (123)\n", output)
        self.assertTrue(output.endswith(
            "Recorded file(s):       10\nRecorded folder(s):     7\n"
            "Recorded byte(s):       15\nInaccessible item(s):   3\n\n"
            "The snapshot is incomplete: 3 item(s) could not be recorded.\n"), output)
        # With /strict an incomplete snapshot fails; a complete one does not.
        for tree, code, end in ((self.src, 4, "recorded.\n"),
                                (os.path.join(self.src, "sub"), 0, "item(s):   0\n")):
            strict = quorva(windows(tree), "/snapshot", windows(self.path("t.json")), "/hash",
                            "/strict")
            self.assertEqual((code, True), (strict[0], strict[1].endswith(end)), strict[1])
        with open(self.path("s.json"), "rb") as f:
            data = f.read()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        lines = [json.loads(line) for line in data.decode("utf-8").split("\n")[:-1]]
        header, entries, end = lines[0], lines[1:-1], lines[-1]
        self.assertEqual({"format": "quorva-snapshot", "version": 3, "root": windows(self.src),
                          "options": {"subdir": True, "hash": "sha256", "security": True,
                                      "fileExclusions": None, "folderExclusions": None,
                                      "excludedFiles": [], "excludedFolders": []}},
                         {k: v for k, v in header.items() if k != "created"})
        self.assertRegex(header["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{7}Z$")
        self.assertRegex(end["end"].pop("checksum"), "^[0-9a-f]{16}$")
        self.assertEqual({"end": {"files": 10, "folders": 7, "bytes": 15}}, end)
        expected = {p for k in dict(SAME, **SOURCE) for p in
                    ["\\" + "\\".join(k.strip("/").split("/")[:i + 1])
                     for i in range(k.strip("/").count("/") + 1)]}
        self.assertEqual(expected - {"\\q?dir\\x.txt"} | {"\\alias", "\\src-link"},
                         {e["path"] for e in entries})
        self.assertEqual({"\\alias", "\\src-link"}, {e["path"] for e in entries if e.get("link")})
        # Each folder's entries together, after the entry of the folder.
        parents = [e["path"].rsplit("\\", 1)[0] for e in entries]
        seen = [""]
        for i, (entry, parent) in enumerate(zip(entries, parents)):
            if i > 0 and parent != parents[i - 1]:
                self.assertNotIn(parent, seen[1:])
                self.assertIn(parent, [e["path"] for e in entries[:i] if e["type"] == "folder"])
                seen.append(parent)
            if entry["path"] == "\\why?.txt":
                # Neither its contents nor its owner and DACL can be read.
                self.assertEqual((123, -2147024773), (entry["error"], entry["securityError"]))
            elif entry["type"] == "file":
                self.assertIsInstance(entry["security"], bool)
                if entry["path"] == "\\pipe":
                    self.assertEqual(1630, entry["error"])
                else:
                    self.assertEqual(64, len(entry["hash"]))

    def test_damaged_snapshots_are_refused_with_their_line(self):
        self.snapshot(self.src, "s.json", "/subdir", "/hash")
        with open(self.path("s.json"), encoding="utf-8") as f:
            good = f.read().split("\n")[:-1]
        last = len(good)
        files = [i for i, line in enumerate(good) if '"type": "file"' in line and "hash" in line]
        deep = max(files, key=lambda i: good[i].count("\\\\"))
        end = json.loads(good[-1])
        count = dict(end["end"], files=end["end"]["files"] + 1)
        big = 9223372036854775807

        def with_path(i, path):
            return re.sub(r'"path": "(?:[^"\\]|\\.)*"', lambda m: '"path": ' + json.dumps(path),
                          good[i])

        sizes = {i: re.sub(r'"size": \d+', '"size": %d' % big, good[i]) for i in files[:3]}
        first = good[files[0]]
        twin = first[:-1] + ', "twin": 1}'
        folder = json.loads(first)["path"].rsplit("\\", 1)[0]
        cases = [
            ("a line that is not JSON", {2: "{oops"}, 3),
            ("a name ..", {files[0]: with_path(files[0], "\\..")}, files[0] + 1),
            ("a name .", {files[0]: with_path(files[0], "\\.")}, files[0] + 1),
            ("a / in a name", {files[0]: with_path(files[0], "\\a/b.txt")}, files[0] + 1),
            ("a key twice", {files[0]: good[files[0]].replace('"size": ', '"size": 6, "size": ')},
             files[0] + 1),
            ("a size of 2^63", {files[0]: re.sub(r'"size": \d+', '"size": %d' % (big + 1),
                                                 good[files[0]])}, files[0] + 1),
            ("sizes adding up to 2^64", sizes, files[2] + 1),
            ("a 3 GB file that is not a snapshot", lambda f: f.truncate(3 << 30), 1),
            ("a line of 768 MB", lambda f: (f.write(good[0] + "\n"), f.truncate(768 << 20)), 2),
            ("no header", {0: None}, 1),
            ("another format", {0: good[0].replace("quorva-snapshot", "other")}, 1),
            ("another version", {0: good[0].replace('"version": 3', '"version": 4')}, 1),
            ("no closing line", {last - 1: None}, last),
            ("a line after the closing line", {last - 1: good[-1] + "\n" + good[1]}, last + 1),
            ("an entry twice", {1: good[1] + "\n" + good[1]}, 3),
            ("an entry out of order", {1: good[deep] + "\n" + good[1], deep: None}, 2),
            ("a size of the wrong type",
             {files[0]: re.sub(r'"size": (\d+)', r'"size": "\1"', good[files[0]])}, files[0] + 1),
            ("a hash of the wrong length",
             {files[0]: re.sub(r'("hash": "\w+)\w\w"', r'\1"', good[files[0]])}, files[0] + 1),
            ("a count that does not match", {last - 1: json.dumps({"end": count})}, last),
            ("a twin without an earlier entry", {files[0]: twin}, files[0] + 1),
            ("a name listed twice, both addressable", {files[0]: first + "\n" + twin},
             files[0] + 1),
            ("an excluded count without wildcards",
             {1: json.dumps({"folder": "", "excludedFiles": 1}) + "\n" + good[1]}, 2),
            ("a wildcard that is not a text",
             {0: good[0].replace('"excludedFiles": []', '"excludedFiles": [1]')}, 1),
            ("a path longer than 32,767 characters",
             {files[0]: with_path(files[0], folder + "\\" + "x" * (32767 - len(folder)))},
             files[0] + 1),
            ("a digit of a hash value changed",
             {files[0]: re.sub(r'("hash": "\w*?)(\w)"', lambda m: m.group(1) + "0f"[m.group(2) == "0"]
                               + '"', good[files[0]])}, last),
            ("a line end changed", {1: good[1] + "\r"}, last),
            ("no checksum", {last - 1: json.dumps({"end": dict(end["end"], checksum=None)})}, last),
        ]
        for name, changes, line in cases:
            with self.subTest(name):
                damaged = self.path("damaged.json")
                with open(damaged, "w", encoding="utf-8") as f:
                    if callable(changes):
                        changes(f)  # sparse: nothing but its end is written
                    else:
                        lines = [changes.get(i, text) for i, text in enumerate(good)]
                        f.write("".join(text + "\n" for text in lines if text is not None))
                for arguments in ((windows(damaged), windows(self.dst)),
                                  (windows(self.dst), windows(damaged))):
                    peak = []
                    code, output = quorva(*arguments, "/subdir", peak=peak)
                    self.assertEqual(2, code, output)
                    self.assertRegex(output, r"\nERROR: snapshot file could not be read\.\n" +
                                     re.escape(windows(damaged)) + ", line %d: [^\n]+\.\n$" % line)
                    # Whatever the file, the reader holds no more than the
                    # longest line a writer writes.
                    self.assertLess(peak[0], 64 << 10)

    def test_a_tree_deeper_than_the_stack_ever_was(self):
        # 16,000 folders deep, by snapshot (about 32,000 characters of path,
        # as deep as a Windows path goes; a walk on the stack ended at about
        # 5,000): the one file that differs is found and the run ends with 4.
        depth = 16000
        for name, size in (("s.json", 1), ("d.json", 2)):
            # Written as made: no list of the paths grows the test's memory,
            # which the program started from it would inherit as its peak.
            write_snapshot(self.path(name), itertools.chain(
                ({"path": "\\a" * level, "type": "folder"} for level in range(1, depth + 1)),
                [{"path": "\\a" * depth + "\\f", "type": "file", "size": size}]))
        peak = []
        code, output = quorva(windows(self.path("s.json")), windows(self.path("d.json")), "/subdir",
                              peak=peak)
        self.assertEqual(4, code, output[-300:])
        self.assertIn("\n" + "\\a" * depth + "\\f: file sizes are different! (1 bytes != 2 bytes).\n",
                      output)
        # The walks keep one path of each side, not one a level: a copy a
        # level took 3.6 GB at this depth.
        self.assertLess(peak[0], 128 << 10)

    def test_folders_whose_keys_are_equal_are_told_apart_by_their_paths(self):
        # Two names whose paths have the same 64-bit FNV-1a key: one folder
        # could not be read when it was recorded, the other was, and holds a
        # file.
        unread, read = "\u6552\u6ba7\u5ab5\u616a\u5180", "\u4ff0\u6a1a\u56c9\u4f58\u55bb"
        for name in ("s.json", "d.json"):
            write_snapshot(self.path(name), [
                {"path": "\\" + unread, "type": "folder", "error": 5},
                {"path": "\\" + read, "type": "folder"},
                {"path": "\\" + read + "\\f", "type": "file", "size": 1}])
        code, output = quorva(windows(self.path("s.json")), windows(self.path("d.json")),
                              "/subdir", "/display:verbose,utf8")
        self.assertIn("\n\\" + read + "\\f: files are identical.\n", output)
        self.assertNotIn("\\" + read + ": folder", output)

    def test_options_a_snapshot_cannot_serve_are_refused(self):
        self.snapshot(self.src, "s.json", "/hash")
        s = windows(self.path("s.json"))
        cases = [
            ((s, windows(self.dst), "/hash:sha256"), "the source snapshot holds no SHA256 values."),
            ((windows(self.dst), s, "/hash:sha1"),
             "the destination snapshot holds no SHA1 values."),
            ((s, windows(self.dst), "/subdir"),
             "the source snapshot holds no subfolders: it was made without /subdir."),
            ((s, windows(self.dst), "/security"), "the source snapshot holds no owners and "
             "DACLs: it was made without /security."),
            ((windows(self.dst), s, "/content"), "a snapshot cannot be compared by content; use /hash."),
            ((windows(self.src + "/pipe"), windows(self.dst)),
             "the source path is not a folder, a snapshot or a manifest."),
            ((windows(self.src), "/snapshot", windows(self.src + "/in.json")),
             "the snapshot file must not be inside the folder it records."),
        ]
        for arguments, message in cases:
            with self.subTest(message):
                code, output = quorva(*arguments)
                self.assertEqual(1, code, output)
                self.assertTrue(output.endswith("\nERROR: " + message + "\n\n"), output)
        # A snapshot that cannot be written leaves nothing behind.
        os.mkdir(self.path("taken.json"))
        code, output = quorva(windows(self.src), "/snapshot", windows(self.path("taken.json")))
        self.assertEqual(2, code, output)
        self.assertIn("ERROR: snapshot file could not be written.\n", output)
        self.assertEqual(["dst", "s.json", "src", "taken.json"], sorted(os.listdir(self.root)))


if __name__ == "__main__":
    unittest.main()
