"""What the end-to-end scripts share: the build folder named first on their
command line, the programs of the build run under Wine, Windows paths, and
trees of files made for a test."""
import os, subprocess, sys

# The build folder, taken off the command line before unittest reads it.
BUILD = os.path.abspath(sys.argv.pop(1))
os.environ.update(WINEDEBUG="-all", WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml=")


def run(program, *arguments, peak=None):
    """A program of the build run under Wine with no input: the completed
    process, its standard output as bytes; with peak (a list), the run's
    largest resident set in KB appended to it."""
    command = ["wine", os.path.join(BUILD, program), *arguments]
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    output = child.stdout.read()
    child.stdout.close()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
    if peak is not None:
        peak.append(usage.ru_maxrss)
    return subprocess.CompletedProcess(command, child.returncode, output)


def quorva(*arguments, peak=None, encoding="utf-8"):
    """quorva.exe's exit code and output, its lines ending with a line feed."""
    result = run("quorva.exe", *arguments, peak=peak)
    return result.returncode, result.stdout.decode(encoding).replace("\r\n", "\n")


def windows(path):
    """The path under which Wine sees an absolute Linux path."""
    return "Z:" + path.replace("/", "\\")


# A named pipe, as the value of a path in make's files.
FIFO = "fifo"


def make(root, files, mtime=None):
    """Makes each path of files below root: bytes or a text make a file of
    that content, a number a sparse file of that size, None a folder, FIFO a
    named pipe; with mtime, each file and pipe gets it as its times."""
    for relative, data in files.items():
        path = os.path.join(root, relative)
        os.makedirs(path if data is None else os.path.dirname(path), exist_ok=True)
        if data is None:
            continue
        if data is FIFO:
            os.mkfifo(path)
        else:
            with open(path, "wb") as f:
                if isinstance(data, int):
                    f.truncate(data)
                else:
                    f.write(data.encode() if isinstance(data, str) else data)
        if mtime is not None:
            os.utime(path, (mtime, mtime))
