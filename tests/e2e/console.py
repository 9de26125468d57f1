#!/usr/bin/env python3
"""The program on a console: the progress line, and Ctrl+C.  Wine gives a
program a console only when its standard output is a terminal, so the
program runs on a pseudo-terminal here, where the byte 0x03 is Ctrl+C, and
what Wine's console draws there is read back as the lines a person sees.
Usage: console.py BUILD_DIR"""
import fcntl, json, os, pty, re, select, struct, subprocess, sys, tempfile, termios
import time, unittest

BUILD = os.path.abspath(sys.argv.pop(1))
QUORVA = os.path.join(BUILD, "quorva.exe")
os.environ.setdefault("WINEDEBUG", "-all")
os.environ["WINEDLLOVERRIDES"] = "winedbg.exe=d;mscoree,mshtml="
PROGRESS = re.compile(r"\\[^\r\n]*: [\d,]+ files?(, [\d.]+ \w+ hashed)?")


def windows(path):
    return "Z:" + path.replace("/", "\\")


def on_console(arguments, interrupt=None):
    """Runs the program on a pseudo-terminal wide enough that no line wraps;
    sends Ctrl+C once interrupt(output so far) is true.  Returns the exit
    code and everything the terminal received."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp("wine", ["wine", QUORVA, *arguments])
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
    received = b""
    deadline = time.monotonic() + 240
    while time.monotonic() < deadline:
        if interrupt is not None and interrupt(received):
            os.write(fd, b"\x03")
            interrupt = None
        if select.select([fd], [], [], 0.05)[0]:
            try:
                data = os.read(fd, 65536)
            except OSError:  # the program has ended: the terminal is gone
                break
            if not data:
                break
            received += data
    else:
        os.kill(pid, 9)
    os.close(fd)
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), received


def screen(received):
    """The lines that the terminal shows in the end: what a carriage return
    or an erasure (ESC [K) took back is gone, other controls are dropped."""
    lines, line, column = [], [], 0
    for token in re.findall(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07|.",
                            received.decode("utf-8", "replace"), re.S):
        if token == "\x1b[K":
            del line[column:]
        elif token == "\r":
            column = 0
        elif token == "\n":
            lines.append("".join(line).rstrip(" "))
            line, column = [], 0
        elif not token.startswith("\x1b"):
            line[column:column + 1] = [token]
            column += 1
    return "\n".join(lines + ["".join(line).rstrip(" ")])


def redirected(arguments):
    result = subprocess.run(["wine", QUORVA, *arguments], stdout=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)
    return result.returncode, result.stdout.decode("latin-1").replace("\r\n", "\n")


def timeless(text):
    return re.sub(r"(completed in|interrupted after) [^\n]*\.", r"\1 <time>.", text)


def cache_files():
    temp = subprocess.run(["wine", "cmd.exe", "/c", "echo %TEMP%"], stdout=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, text=True).stdout.strip()
    folder = subprocess.run(["winepath", "-u", temp], stdout=subprocess.PIPE,
                            text=True).stdout.strip()
    return {name for name in os.listdir(folder) if re.match(r"(?i)quo.*\.tmp$", name)}


def counter(text, label, after=""):
    return int(re.search(re.escape(after) + r"[\s\S]*?" + re.escape(label) + r"\s+(\d+)",
                         text).group(1))


class Console(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        self.trees = [windows(self.root + "/src"), windows(self.root + "/dst")]

    def tearDown(self):
        self.folder.cleanup()

    def make(self, files):
        for path, (source, destination) in files.items():
            for tree, data in (("src", source), ("dst", destination)):
                full = os.path.join(self.root, tree, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                if data is not None:
                    with open(full, "w") as f:
                        if isinstance(data, int):  # a sparse file of that size
                            f.truncate(data)
                        else:
                            f.write(data)

    def test_progress_line_gives_way_to_every_message(self):
        self.make({"a": ("1", "1"), "b": ("22", "2"), "c": ("3", "4"), "d": ("5", None),
                   "e/f": ("6", "6")})
        for options, shown in [(["/hash", "/subdir"], True), (["/display:verbose"], True),
                               (["/display:none", "/hash"], False)]:
            with self.subTest(options=options):
                code, received = on_console(self.trees + options)
                expected = redirected(self.trees + options)
                self.assertEqual(expected[0], code)
                self.assertEqual(shown, PROGRESS.search(received.decode("utf-8")) is not None)
                self.assertEqual(timeless(expected[1]), timeless(screen(received)))
                self.assertNotRegex(expected[1], PROGRESS)

    def test_ctrl_c_stops_the_comparison_and_reports_what_was_compared(self):
        # Small pairs, compared first, then a pair of sparse files of 1 TiB
        # that would take half an hour to hash: Ctrl+C, two seconds after
        # the first file, most likely finds the hashing threads reading it.
        files = {"%04d" % i: ("x" * (i % 50) + "a", "x" * (i % 50) + ["ab", "b", "a"][i % 3])
                 for i in range(500)}
        files.update({"z/big": (1 << 40, 1 << 40)})
        self.make(files)
        report = os.path.join(self.root, "r.json")
        before = cache_files()
        started = []

        def two_seconds_after_the_first_file(text):
            if not started and re.search(rb": [1-9][\d,]* files?", text):
                started.append(time.monotonic())
            return started and time.monotonic() - started[0] > 2

        code, received = on_console(self.trees + ["/hash", "/subdir", "/report", windows(report)],
                                    two_seconds_after_the_first_file)
        shown = screen(received).replace("^C", "")
        self.assertEqual(3, code, shown)
        self.assertNotIn("could not", shown)
        self.assertRegex(shown, r"\nERROR: the comparison was interrupted\.\n\n-{66}\nSummary:\n\n"
                         r"Comparison interrupted after [^\n]+ second\(s\)\.\n\nIdentical file\(s\)")
        # The counters add up, and match the findings shown.
        tested = counter(shown, "Tested file(s):", "- Source:")
        identical = counter(shown, "Identical file(s):")
        sizes = counter(shown, "File size mismatch(es):")
        hashes = counter(shown, "File hash mismatch(es):")
        self.assertLess(0, tested)
        self.assertEqual(tested, identical + sizes + hashes)
        self.assertEqual(sizes, shown.count(": file sizes are different!"))
        self.assertEqual(hashes, shown.count(": file contents are different!"))
        # The report says so, with the same counters; nothing temporary is left.
        with open(report, "rb") as f:
            document = json.loads(f.read().decode("utf-8"))
        self.assertEqual((True, 3), (document["interrupted"], document["exitCode"]))
        self.assertEqual([tested, identical, sizes, hashes],
                         [document["summary"]["source"]["tested"],
                          document["summary"]["identical"],
                          document["summary"]["sizeMismatches"],
                          document["summary"]["hashMismatches"]])
        self.assertEqual(sizes + hashes, len(document["findings"]))
        self.assertEqual(["dst", "r.json", "src"], sorted(os.listdir(self.root)))
        self.assertEqual(before, cache_files())


if __name__ == "__main__":
    unittest.main()
