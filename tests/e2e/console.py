#!/usr/bin/env python3
"""The program on a console: the progress line, and Ctrl+C.  Wine gives a
program a console only on a terminal, so it runs on a pseudo-terminal here
(where the byte 3 is Ctrl+C), and what the terminal shows in the end is
compared with the output of the same run redirected.  Usage: console.py BUILD_DIR"""
import fcntl, json, os, pty, re, select, signal, struct, subprocess, sys, tempfile, termios
import time, unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
sys.dont_write_bytecode = True
from quorva_e2e import BUILD, make, quorva, windows

QUORVA = os.path.join(BUILD, "quorva.exe")
# Each run ends well before ctest gives up on the whole script (300 s).
DEADLINE = 60
PROGRESS = re.compile(r"\\[^\r\n]*: [\d,]+ files?(, [\d.]+ \w+ hashed)?")


def on_console(arguments, interrupt=lambda received: False, columns=400):
    """The exit code and what a terminal of that many columns (wide enough for
    every line by default) received; Ctrl+C is sent once interrupt(what was
    received so far) is true. A program still running after DEADLINE
    seconds is killed and the test fails."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.execvp("wine", ["wine", QUORVA, *arguments])
        finally:
            os._exit(127)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, columns, 0, 0))
    received, sent, deadline = b"", False, time.monotonic() + DEADLINE
    while True:
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            os.close(fd)
            raise AssertionError("the program had not ended after %d s (Ctrl+C %s) and was "
                                 "killed; it had shown:\n%s"
                                 % (DEADLINE, "sent" if sent else "not sent", screen(received)))
        if not sent and interrupt(received):
            sent = os.write(fd, b"\x03")
        if select.select([fd], [], [], 0.05)[0]:
            try:
                received += os.read(fd, 65536)
            except OSError:  # the program has ended and the terminal with it
                break
    os.close(fd)
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), received


def screen(received):
    """The lines left on the terminal: what a carriage return or an erasure
    (ESC [K) took back is gone, other terminal controls are dropped."""
    lines, line, column = [], [], 0
    controls = r"\x1b\[[\d;?]*[A-Za-z]|\x1b\][^\x07]*\x07|."
    for token in re.findall(controls, received.decode(), re.S):
        if token == "\n":
            lines.append("".join(line).rstrip(" "))
            line, column = [], 0
        elif token == "\r":
            column = 0
        elif token == "\x1b[K":
            del line[column:]
        elif token[0] != "\x1b":
            line[column:column + 1], column = [token], column + 1
    return "\n".join(lines + ["".join(line).rstrip(" ")])


def redirected(arguments):
    return quorva(*arguments, encoding="latin-1")


def timeless(text):
    return re.sub(r"(completed in|interrupted after) [^\n]*\.", r"\1 <time>.", text)


def cache_files(marker):
    """The program's cache files in the prefix's temporary folder that hold
    the name marker: those of runs on this test's trees (other programs of
    the prefix may make and remove theirs meanwhile)."""
    run = lambda *command: subprocess.run(command, capture_output=True, text=True).stdout.strip()
    folder = run("winepath", "-u", run("wine", "cmd.exe", "/c", "echo %TEMP%"))
    found = []
    for name in filter(re.compile(r"(?i)quo.*\.tmp$").match, os.listdir(folder)):
        try:
            with open(os.path.join(folder, name), "rb") as f:
                if marker.encode("utf-16-le") in f.read():
                    found.append(name)
        except OSError:  # gone meanwhile
            pass
    return found


class Console(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        self.trees = [self.windows(tree) for tree in ("src", "dst")]

    def windows(self, name):
        return windows(os.path.join(self.root, name))

    def tearDown(self):
        self.folder.cleanup()

    def make(self, files):  # path: (source, destination): text, None (absent) or a size
        for i, tree in enumerate(("src", "dst")):
            make(os.path.join(self.root, tree),
                 {path: sides[i] for path, sides in files.items() if sides[i] is not None})

    def test_progress_line_gives_way_to_every_message(self):
        self.make({"a": ("1", "1"), "b": ("22", "2"), "c": ("3", "4"), "d": ("5", None),
                   "e/f": ("6", "6")})
        for options, shown in [(["/hash", "/subdir"], True), (["/content", "/subdir"], True),
                               (["/display:verbose"], True), (["/display:none", "/hash"], False)]:
            with self.subTest(options=options):
                code, received = on_console(self.trees + options)
                expected = redirected(self.trees + options)
                self.assertEqual((expected[0], shown),
                                 (code, PROGRESS.search(received.decode()) is not None))
                self.assertEqual(timeless(expected[1]), timeless(screen(received)))
                self.assertNotRegex(expected[1], PROGRESS)

    def test_progress_line_fits_a_narrow_console(self):
        # A long folder name, and a large file whose hashing the line follows: on 50 columns the
        # console wraps each line the program writes, the progress line never.
        folder = "a-rather-long-folder-name-" + "x" * 30
        self.make({folder + "/big": (300 << 20, 300 << 20), folder + "/f": ("1", "22")})
        options = self.trees + ["/hash", "/subdir"]
        code, received = on_console(options, columns=50)
        expected = redirected(options)
        wrapped = "\n".join(line[i:i + 50].rstrip(" ") for line in expected[1].split("\n")
                            for i in range(0, max(len(line), 1), 50))
        self.assertRegex(received.decode(), folder[:10] + r"[^\r\n]*: 0 files, [\d.]+ MB hashed")
        self.assertEqual((expected[0], timeless(wrapped)), (code, timeless(screen(received))))

    def test_ctrl_c_stops_the_comparison_and_reports_what_was_compared(self):
        # Small pairs, compared first, then a pair of sparse files of 1 TiB that would take half
        # an hour to hash: Ctrl+C once the progress line shows the large pair being read.
        files = {"%03d" % i: ("x" * i + "a", "x" * i + ["ab", "b", "a"][i % 3])
                 for i in range(500)}
        # A name of this run beside the large pair, to know the cache file by.
        self.marker = "marker-%d-%d" % (os.getpid(), time.time_ns())
        self.make(dict(files, **{"z/big": (1 << 40, 1 << 40), "z/" + self.marker: ("m", "m")}))
        # Hashed, then compared byte by byte: a large file is given up within one read.
        for option in ["/hash", "/content"]:
            with self.subTest(option):
                self.interrupt(option)

    def interrupt(self, option):

        def reading_the_large_pair(received):
            return re.search(rb"\\z: [\d,]+ files?, [\d.]+ [MGT]B (hashed|compared)", received)

        code, received = on_console(self.trees + [option, "/subdir", "/report",
                                                  self.windows("r.json")],
                                    reading_the_large_pair)
        shown = screen(received).replace("^C", "")
        self.assertEqual(3, code, shown)
        self.assertNotIn("could not", shown)
        self.assertRegex(shown, r"\nERROR: the comparison was interrupted\.\n\n-{66}\n"
                         r"Summary:\n\nComparison interrupted after [^\n]+ second\(s\)\.\n\n"
                         r"Identical file\(s\)")
        # The counters add up and match the findings shown, and the report's.
        counts = [int(re.search(label + r"\(\w+\):\s+(\d+)", shown).group(1))
                  for label in ("Tested file", "Identical file", "size mismatch", "hash mismatch")]
        self.assertEqual(counts[0], sum(counts[1:]))
        self.assertEqual(counts[2:], [shown.count(": file sizes are different!"),
                                      shown.count(": file contents are different!")])
        with open(os.path.join(self.root, "r.json"), encoding="utf-8") as f:
            document = json.load(f)
        summary = document["summary"]
        self.assertEqual([True, 3, counts, counts[2] + counts[3]],
                         [document["interrupted"], document["exitCode"],
                          [summary["source"]["tested"], summary["identical"],
                           summary["sizeMismatches"], summary["hashMismatches"]],
                          len(document["findings"])])
        # No cache file of the run is left.
        self.assertEqual((["dst", "r.json", "src"], []),
                         (sorted(os.listdir(self.root)), cache_files(self.marker)))


if __name__ == "__main__":
    unittest.main()
