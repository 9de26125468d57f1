#!/usr/bin/env python3
"""The program on a console: the progress line, and Ctrl+C.  Wine gives a
program a console only on a terminal, so it runs on a pseudo-terminal here
(where the byte 3 is Ctrl+C), and what the terminal shows in the end is
compared with the output of the same run redirected.  Usage: console.py BUILD_DIR"""
import fcntl, json, os, pty, re, select, struct, subprocess, sys, tempfile, termios, time
import unittest

QUORVA = os.path.join(os.path.abspath(sys.argv.pop(1)), "quorva.exe")
os.environ.update(WINEDEBUG="-all", WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml=")
PROGRESS = re.compile(r"\\[^\r\n]*: [\d,]+ files?(, [\d.]+ \w+ hashed)?")


def on_console(arguments, interrupt=lambda received: False, columns=400):
    """The exit code and what a terminal of that many columns (wide enough for
    every line by default) received; Ctrl+C is sent once interrupt(what was
    received so far) is true."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.execvp("wine", ["wine", QUORVA, *arguments])
        finally:
            os._exit(127)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, columns, 0, 0))
    received, sent, deadline = b"", False, time.monotonic() + 240
    while time.monotonic() < deadline:
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
    result = subprocess.run(["wine", QUORVA, *arguments], stdout=subprocess.PIPE)
    return result.returncode, result.stdout.decode("latin-1").replace("\r\n", "\n")


def timeless(text):
    return re.sub(r"(completed in|interrupted after) [^\n]*\.", r"\1 <time>.", text)


def cache_files():
    run = lambda *command: subprocess.run(command, capture_output=True, text=True).stdout.strip()
    folder = run("winepath", "-u", run("wine", "cmd.exe", "/c", "echo %TEMP%"))
    return [name for name in os.listdir(folder) if re.match(r"(?i)quo.*\.tmp$", name)]


class Console(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        self.trees = [self.windows(tree) for tree in ("src", "dst")]

    def windows(self, name):
        return "Z:" + os.path.join(self.root, name).replace("/", "\\")

    def tearDown(self):
        self.folder.cleanup()

    def make(self, files):  # path: (source, destination): text, None (absent) or a size
        for path, sides in files.items():
            for tree, data in zip(("src", "dst"), sides):
                full = os.path.join(self.root, tree, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                if data is not None:
                    with open(full, "w") as f:
                        f.truncate(data) if isinstance(data, int) else f.write(data)

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
        # an hour to hash: Ctrl+C two seconds after the first file most likely finds them read.
        files = {"%03d" % i: ("x" * i + "a", "x" * i + ["ab", "b", "a"][i % 3])
                 for i in range(500)}
        self.make(dict(files, **{"z/big": (1 << 40, 1 << 40)}))
        # Hashed, then compared byte by byte: a large file is given up within one read.
        for option in ["/hash", "/content"]:
            with self.subTest(option):
                self.interrupt(option)

    def interrupt(self, option):
        before, started = cache_files(), []

        def two_seconds_after_the_first_file(received):
            if not started and re.search(rb": [1-9][\d,]* files?", received):
                started.append(time.monotonic())
            return started and time.monotonic() - started[0] > 2

        code, received = on_console(self.trees + [option, "/subdir", "/report",
                                                  self.windows("r.json")],
                                    two_seconds_after_the_first_file)
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
        self.assertEqual((["dst", "r.json", "src"], before),
                         (sorted(os.listdir(self.root)), cache_files()))


if __name__ == "__main__":
    unittest.main()
