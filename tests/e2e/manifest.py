#!/usr/bin/env python3
"""Checksum manifests: one tree with a damaged, a missing, an added and a
moved file compared as manifest/folder, folder/manifest, manifest/snapshot
and manifest/manifest; manifests that quorva writes verified by the real
sha256sum -c, md5sum -c and sha1sum -c in the tree's root, through the
wrapper; manifests that sha256sum writes read back; damaged manifests
refused with their line, options a manifest cannot serve refused.
Usage: manifest.py BUILD_DIR"""
import hashlib, os, subprocess, sys, tempfile, unittest

BUILD = os.path.abspath(sys.argv.pop(1))
WRAPPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "quorva.sh")


def run(arguments, cwd=None):
    """The exit code and the output, without the banner's three lines."""
    done = subprocess.run(arguments, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, cwd=cwd,
                          env=dict(os.environ, QUORVA_BUILD=BUILD))
    output = done.stdout.decode("utf-8").replace("\r\n", "\n")
    return done.returncode, output.split("\n", 4)[-1]


def quorva(*arguments):
    return run(["wine", os.path.join(BUILD, "quorva.exe"), *arguments])


def windows(path):
    return "Z:" + path.replace("/", "\\")


def make(root, files):
    for relative, data in files.items():
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


SOURCE = {"a.txt": b"alpha", "keep.txt": b"kept", "sub/gone.txt": b"gone",
          "sub/moveme.txt": b"moving", "empty": b"", "deep/er/x.txt": b"x"}
DESTINATION = {"a.txt": b"alphA", "keep.txt": b"kept", "new.txt": b"added",
               "other/moved.txt": b"moving", "empty": b"", "deep/er/x.txt": b"x",
               "empty2": b""}


class Manifest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        self.src, self.dst = self.path("src"), self.path("dst")
        make(self.src, SOURCE)
        make(self.dst, DESTINATION)

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.root, name)

    def test_four_pairings_give_the_same_findings(self):
        for tree, name, options in ((self.src, "s.sha256", []), (self.dst, "d.sha256", [])):
            code, output = quorva(windows(tree), "/manifest", windows(self.path(name)),
                                  "/subdir", *options)
            self.assertEqual(0, code, output)
        code, output = quorva(windows(self.dst), "/snapshot", windows(self.path("d.json")),
                              "/subdir", "/hash:sha256")
        self.assertEqual(0, code, output)
        s, d, dj = (windows(self.path(n)) for n in ("s.sha256", "d.sha256", "d.json"))
        a = "\\a.txt: file contents are different! (%s != %s).\n"
        moved = "\\sub\\moveme.txt: file moved to \\other\\moved.txt.\n"
        # A file missing on a manifest's side has no size to expect; an
        # empty file's value never pairs as a move.
        manifest_findings = (a % (sha256(b"alpha"), sha256(b"alphA")) +
                             "\\empty2: file not found in source.\n"
                             "\\new.txt: file not found in source.\n"
                             "\\sub\\gone.txt: file not found in destination.\n" + moved)
        rows = [
            ("manifest/folder", s, windows(self.dst),
             "Source manifest: %s (SHA-256, 6 files).\nDestination path: %s.\n\n"
             % (s, windows(self.dst)),
             a % (sha256(b"alpha"), sha256(b"alphA")) +
             "\\empty2: file not found in source, 0 bytes expected.\n"
             "\\new.txt: file not found in source, 5 bytes expected.\n"
             "\\sub\\gone.txt: file not found in destination.\n" + moved),
            ("folder/manifest", windows(self.src), d,
             "Source path: %s.\nDestination manifest: %s (SHA-256, 7 files).\n\n"
             % (windows(self.src), d),
             a % (sha256(b"alpha"), sha256(b"alphA")) +
             "\\empty2: file not found in source.\n\\new.txt: file not found in source.\n"
             "\\sub\\gone.txt: file not found in destination, 4 bytes expected.\n" + moved),
            ("manifest/snapshot", s, dj, None,
             a % (sha256(b"alpha"), sha256(b"alphA")) +
             "\\empty2: file not found in source, 0 bytes expected.\n"
             "\\new.txt: file not found in source, 5 bytes expected.\n"
             "\\sub\\gone.txt: file not found in destination.\n" + moved),
            ("manifest/manifest", s, d,
             "Source manifest: %s (SHA-256, 6 files).\nDestination manifest: %s (SHA-256, "
             "7 files).\n\n" % (s, d), manifest_findings),
        ]
        for name, source, destination, start, findings in rows:
            with self.subTest(name):
                code, output = quorva(source, destination, "/subdir", "/moves")
                self.assertEqual(4, code, output)
                head, rest = output.split("\n\n", 1)
                if start is not None:
                    self.assertEqual(start, head + "\n\n")
                self.assertEqual(findings, rest[:len(findings)], output)
                self.assertIn("Moved file(s):                          1\n", rest)
                # A manifest's files count no bytes: it records no sizes.
                self.assertIn("\nVerdict: 3 source file(s) (%d bytes) verified in place, 1 moved, "
                              "1 different, 1 missing, 0 not verified; 2 extra in the destination.\n"
                              % (5 if name == "folder/manifest" else 0), rest)
        # Exclusions apply to the manifest's names as to a listing.
        with open(self.path("xf.txt"), "w") as f:
            f.write("a.txt\n")
        with open(self.path("xd.txt"), "w") as f:
            f.write("\\deep\n")
        code, output = quorva(s, windows(self.dst), "/subdir", "/moves", "/exfile",
                              windows(self.path("xf.txt")), "/exfolder", windows(self.path("xd.txt")))
        self.assertEqual(4, code, output)
        findings = ("\\empty2: file not found in source, 0 bytes expected.\n"
                    "\\new.txt: file not found in source, 5 bytes expected.\n"
                    "\\sub\\gone.txt: file not found in destination.\n" + moved + "\n")
        self.assertIn("Destination path: %s.\n\n%s" % (windows(self.dst), findings), output)
        # Without /subdir only the names of the root are compared.
        code, output = quorva(s, d)
        self.assertEqual(4, code, output)
        self.assertEqual(a % (sha256(b"alpha"), sha256(b"alphA")) +
                         "\\empty2: file not found in source.\n"
                         "\\new.txt: file not found in source.\n\n", output.split("\n\n", 1)[1]
                         .split("---")[0])

    def test_the_standard_tools_verify_what_quorva_writes(self):
        names = dict(SOURCE, **{"with space/caf\u00e9 \u00e9t\u00e9.txt": b"u",
                                "back\\slash": b"b"})
        make(self.src, names)
        for option, tool in (("", "sha256sum"), ("/hash:md5", "md5sum"), ("/hash:sha1", "sha1sum")):
            with self.subTest(tool):
                code, output = run(["bash", WRAPPER, ".", "/manifest", "SUMS", "/subdir", "/strict",
                                    *([option] if option else [])], cwd=self.src)
                # A name that holds a backslash cannot be opened here: it is
                # left out, named, and makes the manifest incomplete.
                self.assertEqual(4, code, output)
                self.assertIn("\\back\\slash: file inaccessible in source.\n", output)
                self.assertIn("\nThe manifest is incomplete: 1 item(s) could not be recorded.\n",
                              output)
                with open(os.path.join(self.src, "SUMS"), "rb") as f:
                    lines = f.read().decode("utf-8").split("\n")
                names_written = [line.split("  ", 1)[1] for line in lines[:-1]]
                self.assertEqual(sorted(n for n in names if "\\" not in n),
                                 sorted(names_written))
                self.assertEqual(sorted(names_written, key=lambda n: n.encode()), names_written)
                checked = subprocess.run([tool, "-c", "--strict", "SUMS"], cwd=self.src,
                                         stdout=subprocess.PIPE)
                self.assertEqual(0, checked.returncode, checked.stdout)
                self.assertEqual(len(names_written), checked.stdout.count(b": OK\n"))
                # The manifest kept in the tree leaves itself out.
                code, output = run(["bash", WRAPPER, "SUMS", ".", "/subdir"], cwd=self.src)
                self.assertEqual(0, code, output)
        os.remove(os.path.join(self.src, "back\\slash"))
        os.remove(os.path.join(self.src, "SUMS"))
        code, output = run(["bash", WRAPPER, ".", "/manifest", "SUMS"], cwd=self.path("dst"))
        self.assertEqual(0, code, output)
        # An empty tree gives an empty file, as sha256sum does.
        os.mkdir(self.path("none"))
        code, output = quorva(windows(self.path("none")), "/manifest", windows(self.path("n.sum")))
        self.assertEqual(0, code, output)
        self.assertEqual(0, os.path.getsize(self.path("n.sum")))

    def test_quorva_reads_what_sha256sum_writes(self):
        listing = subprocess.run("find . -type f -print0 | xargs -0 sha256sum", shell=True,
                                 cwd=self.src, stdout=subprocess.PIPE, check=True).stdout
        tagged = subprocess.run("find . -type f -print0 | xargs -0 sha256sum --tag", shell=True,
                                cwd=self.src, stdout=subprocess.PIPE, check=True).stdout
        md5 = subprocess.run("find . -type f -print0 | xargs -0 md5sum -b", shell=True,
                             cwd=self.src, stdout=subprocess.PIPE, check=True).stdout
        forms = [("GNU", listing), ("BSD tag", tagged), ("MD5, binary mode", md5),
                 ("byte order mark and CRLF", b"\xef\xbb\xbf" + listing.replace(b"\n", b"\r\n")),
                 ("upper-case hex", b"\n".join(l[:64].upper() + l[64:]
                                                for l in listing.split(b"\n")))]
        for name, data in forms:
            with self.subTest(name):
                with open(self.path("m.sum"), "wb") as f:
                    f.write(data)
                code, output = quorva(windows(self.path("m.sum")), windows(self.src), "/subdir")
                self.assertEqual(0, code, output)
                self.assertIn("The source and the destination are identical.\n", output)

    def test_damaged_manifests_and_options_are_refused(self):
        good = "%s  a.txt\n%s  keep.txt\n" % (sha256(b"alpha"), sha256(b"kept"))
        md5 = hashlib.md5(b"x").hexdigest()
        cases = [
            ("empty file", "", 1, "the file is empty."),
            ("not a manifest", "Some text\n", 1,
             "the file is not a quorva snapshot or a checksum manifest."),
            ("blank line", good + "\n", 3, "the line is not a checksum line."),
            ("two algorithms", good + md5 + "  x\n", 3,
             "the value is MD5, line 1's SHA-256: a manifest holds one algorithm."),
            ("a name twice", good + sha256(b"") + "  ./keep.txt\n", 3,
             "the name comes twice."),
            ("absolute", good + sha256(b"") + "  /etc/passwd\n", 3,
             "the name is absolute."),
            ("parent", good + sha256(b"") + "  a/../../b\n", 3,
             "the name leads out of the tree (\"..\")."),
        ]
        for name, data, line, message in cases:
            with self.subTest(name):
                with open(self.path("bad.sum"), "w") as f:
                    f.write(data)
                code, output = quorva(windows(self.path("bad.sum")), windows(self.dst))
                expected = ("ERROR: manifest file could not be read.\n%s, line %d: %s\n"
                            % (windows(self.path("bad.sum")), line, message))
                if name == "empty file":
                    expected = expected.replace("manifest file", "snapshot file")
                self.assertEqual(2, code, output)
                self.assertEqual(expected, output)
        with open(self.path("good.sum"), "w") as f:
            f.write(good)
        refused = [
            (["/hash:md5"], "the source manifest holds no MD5 values."),
            (["/date"], "/date, /content and /security cannot be used with a manifest."),
            (["/content"], "/date, /content and /security cannot be used with a manifest."),
            (["/security"], "/date, /content and /security cannot be used with a manifest."),
        ]
        for options, message in refused:
            with self.subTest(message):
                code, output = quorva(windows(self.path("good.sum")), windows(self.dst), *options)
                self.assertEqual(1, code, output)
                self.assertTrue(output.endswith("ERROR: " + message + "\n\n"), output)


if __name__ == "__main__":
    unittest.main()
