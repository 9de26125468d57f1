#!/usr/bin/env python3
"""The list of files to copy again (/recopy, /recopy0) read back by a real
rsync (--files-from, --from0), after which the destination holds every
source file (/oneway exits 0) but for the name with a line feed, which
Windows cannot open. Usage: recopy.py BUILD_DIR"""
import os, subprocess, sys, tempfile, unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
sys.dont_write_bytecode = True
import quorva_e2e
from quorva_e2e import make, windows


def quorva(*arguments):
    return quorva_e2e.quorva(*arguments, "/display:,utf8")


SAME = {"same.txt": b"same", "sub/kept.txt": b"k", "changed.txt": b"abc"}
# "bad\udcff.txt" is the name of the bytes "bad\xff.txt", which Windows lists
# as "bad\ufffd.txt": a copy by that path would copy nothing.
SOURCE = {"with space.txt": b"s", "line\nfeed.txt": b"lf", "moved.txt": b"moved",
          "sub/deep.txt": b"deep", "empty": None, "bad\udcff.txt": b"b", "gone/a.txt": b"a",
          "gone/deep/b.txt": b"b"}
# One byte changed, size and time kept: rsync copies it only when told to.
DESTINATION = {"renamed.txt": b"moved", "extra.txt": b"e", "changed.txt": b"abd"}


class Recopy(unittest.TestCase):
    def test_the_list_repairs_the_destination(self):
        with tempfile.TemporaryDirectory() as root:
            src, dst = os.path.join(root, "src"), os.path.join(root, "dst")
            make(src, dict(SAME, **SOURCE), 1700000000)
            make(dst, dict(SAME, **DESTINATION), 1700000000)
            compare = (windows(src), windows(dst), "/subdir", "/hash", "/moves")
            another = "\\bad\ufffd.txt: left out of the recopy list: the system lists its name " \
                      "as another."
            rows = [
                # The line form leaves the name with a line feed out, and
                # names it; the NUL form then lists it alone.
                # A missing folder is its files; an empty one, itself.
                ("/recopy", [], b"changed.txt\nempty/\ngone/a.txt\ngone/deep/b.txt\nsub/deep.txt\n"
                 b"with space.txt\n",
                 [another, "\\line\u240afeed.txt: left out of the recopy list: its name holds a "
                  "line break."]),
                ("/recopy0", ["--from0"], b"line\nfeed.txt\0", [another]),
            ]
            # Without /moves a moved file is missing, and without /hash a file
            # that kept its size and time matches.
            target = os.path.join(root, "list")
            code, output = quorva(windows(src), windows(dst), "/subdir", "/recopy", windows(target))
            self.assertEqual(4, code, output)
            with open(target, "rb") as f:
                self.assertEqual([b"empty/", b"gone/a.txt", b"gone/deep/b.txt", b"moved.txt",
                                  b"sub/deep.txt", b"with space.txt"],
                                 sorted(f.read().split(b"\n")[:-1]))
            for option, rsync_options, listed, left_out in rows:
                with self.subTest(option):
                    target = os.path.join(root, "list")
                    code, output = quorva(*compare, option, windows(target))
                    self.assertEqual(4, code, output)
                    with open(target, "rb") as f:
                        self.assertEqual(listed, f.read())
                    self.assertEqual(left_out, [line for line in output.split("\n")
                                                if "left out of the recopy list" in line])
                    subprocess.run(["rsync", "-aI", *rsync_options, "--files-from=" + target,
                                    src + "/", dst + "/"], check=True)
            # A name with a line feed cannot be opened by Windows: rsync
            # copied it, but no comparison verifies it, so it is left out.
            with open(os.path.join(dst, "line\nfeed.txt"), "rb") as f:
                self.assertEqual(b"lf", f.read())
            exclusions = os.path.join(root, "x.txt")
            with open(exclusions, "w") as f:
                f.write("line*;bad*\n")
            # Nothing is left to copy: the list is written, and empty.
            code, output = quorva(*compare, "/oneway", "/exfile", windows(exclusions), "/recopy",
                                  windows(target))
            self.assertEqual(0, code, output)
            self.assertEqual(0, os.path.getsize(target))
            self.assertEqual(["dst", "list", "src", "x.txt"], sorted(os.listdir(root)))


if __name__ == "__main__":
    unittest.main()
