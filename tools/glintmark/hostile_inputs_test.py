#!/usr/bin/env python3
"""Every glintmark command under hostile input, as one table: pages that try
to gain markup, outputs that are devices, links or full disks, inputs that
are FIFOs, folders or endless devices, bad option values, and control bytes
for the terminal. Each row gives the exit status, a fragment of the message
and the files left behind; a property test then fails writes at every size
and checks that nothing but the target could ever change.

Usage: hostile_inputs_test.py GLINTMARK WORKDIR
"""
import os
import resource
import signal
import stat
import subprocess
import sys
import unittest

GLINTMARK, WORK = sys.argv[1:3]
OK, FAILURE, USAGE = 0, 1, 2
BOM = b"\xef\xbb\xbf"
SEARCH = "https://s.example/search?q=snow"

FIXTURE = {
    "deep.html": b"<div>" * 600 + b"snow",
    "page.html": b"<html><head><title>t</title></head><body><p>Snow here.</p></body></html>",
    # UTF-7 and EBCDIC are not encodings to a browser: both pages are inert text.
    "utf7.html": b'<meta charset="utf-7"><p>+ADw-script+AD4-alert(1)+ADw-/script+AD4- snow</p>',
    "ebcdic.html": b"<meta charset=ibm037><p>\x4c\xa2\x83\x99\x89\x97\xa3\x6e snow</p>",
    "win1252.html": b"<meta charset=windows-1252><p>caf\xe9 snow \x93q\x94</p>",
    "sjis.html": (b'<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">'
                  b"<p>\x93\x8c\x8b\x9e snow</p>"),
    "foreign.html": (b"<p>snow</p><svg><text>snow</text><foreignObject><p>snow</p></foreignObject>"
                     b"</svg><math><mi>snow</mi></math>"),
    "script.rgs": b"HKCU\n{\n  Software\n  {\n    Glintmark = s 'x'\n  }\n}\n",
    "nul.rgs": b"HKCU\n{\n  A = s 'x'\n}\n\0HKCU\n{\n  B = s 'y'\n}\n",
    "steps.txt": b"page.html https://a.example/ " + SEARCH.encode() + b"\n",
    "esc-steps.txt": b"page.html https://a.example/\x1b[2J " + SEARCH.encode() + b"\x1b]0;pwned\x07\n",
    "fifo-steps.txt": b"fifo https://a.example/\n",
    "nul-steps.txt": b"page.html https://a.example/ " + SEARCH.encode() + b"\npage.html\0x https://a.example/\n",
    "victim.html": b"victim",
    "ab.html": b"<p>" + b"ab " * 2000 + b"</p>",
}


def setup_work():
    subprocess.run(["rm", "-rf", WORK], check=True)
    os.makedirs(os.path.join(WORK, "dir"))
    os.chmod(WORK, 0o755)
    for name, data in FIXTURE.items():
        with open(os.path.join(WORK, name), "wb") as f:
            f.write(data)
    os.mkfifo(os.path.join(WORK, "fifo"))
    os.symlink("victim.html", os.path.join(WORK, "link.html"))
    os.makedirs(os.path.join(WORK, "trap"))
    os.symlink("../victim.html", os.path.join(WORK, "trap", "01-page.html"))
    os.symlink("dir", os.path.join(WORK, "linkdir"))
    # A link in a folder anyone may write in: anyone could have swapped it.
    os.makedirs(os.path.join(WORK, "shared"))
    os.chmod(os.path.join(WORK, "shared"), 0o777)
    os.symlink("../dir", os.path.join(WORK, "shared", "linkdir"))


def listing():
    """Every file under WORK with its bytes (links as their target)."""
    found = {}
    for folder, folders, files in os.walk(WORK):
        for name in files + [f for f in folders if os.path.islink(os.path.join(folder, f))]:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, WORK)
            if os.path.islink(path):
                found[rel] = "-> " + os.readlink(path)
            elif stat.S_ISREG(os.lstat(path).st_mode):
                with open(path, "rb") as f:
                    found[rel] = f.read()
            else:
                found[rel] = "special"
    return found


def run(args, stdout=None, limit=None, killed=False):
    """Runs glintmark in WORK. With a file size limit, a write beyond it fails
    (a full disk), or with `killed` ends the process there (an interruption)."""
    def prepare():
        if limit is not None:
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL if killed else signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    out = open(stdout, "wb") if stdout else subprocess.PIPE
    try:
        return subprocess.run([GLINTMARK, *args], stdout=out, stderr=subprocess.PIPE, cwd=WORK,
                              timeout=60, preexec_fn=prepare)
    finally:
        if stdout:
            out.close()


def w(name):
    return os.path.join(WORK, name)


HIGHLIGHT = ["highlight", "--url", "https://a.example/p.html", "--referrer", SEARCH]

# (name, arguments, standard output or None, exit status, message fragment,
#  files added or changed: {name: check(bytes) or None for "absent"})
ROWS = [
    # Pages never gain markup; what they say in one encoding they say in the written one.
    ("utf-7 stays text", HIGHLIGHT + ["utf7.html", "-o", "out.html"], None, OK, "",
     {"out.html": lambda b: b"<script" not in b and b"+ADw-script+AD4-" in b}),
    ("ebcdic stays text", HIGHLIGHT + ["ebcdic.html", "-o", "out.html"], None, OK, "",
     {"out.html": lambda b: b"<script" not in b and b"L\xc2\xa2" in b}),
    ("windows-1252 rewritten as declared utf-8", HIGHLIGHT + ["win1252.html", "-o", "out.html"],
     None, OK, "",
     {"out.html": lambda b: b.startswith(BOM) and b'charset="utf-8"' in b
      and "caf\u00e9".encode() in b and "\u201cq\u201d".encode() in b and b"windows-1252" not in b}),
    ("shift_jis http-equiv rewritten", HIGHLIGHT + ["sjis.html", "-o", "out.html"], None, OK, "",
     {"out.html": lambda b: b.startswith(BOM) and b'content="text/html; charset=utf-8"' in b
      and "\u6771\u4eac".encode() in b}),
    ("utf-8 page unchanged in kind", HIGHLIGHT + ["page.html", "-o", "out.html"], None, OK, "",
     {"out.html": lambda b: not b.startswith(BOM) and b"charset" not in b}),
    ("svg and math left alone", HIGHLIGHT + ["foreign.html", "-o", "out.html", "--json"], None, OK,
     "", {"out.html": lambda b: b.count(b"<span") == 1 and b"<svg><text>snow</text>" in b}),
    # A page nested deeper than gumbo reads in bounded time is refused, nothing written.
    ("deep page refused", HIGHLIGHT + ["deep.html", "-o", "out.html"], None, USAGE,
     "cannot read the page: the page nests elements more than 512 deep", {}),
    # A word listed 4,000 times costs one search, its marks in the colour the
    # innermost of 4,000 nested spans showed.
    ("repeated keyword searched once",
     ["highlight", "--url", "https://a.example/", "--referrer", "https://s.example/?q=" + "+".join(["ab"] * 4000),
      "ab.html", "-o", "out.html"], None, OK, "",
     {"out.html": lambda b: b.count(b"<span") == 2000 and b.count(b"#ff8c00") == 2000}),
    # -o never replaces a device, never follows or replaces a link, writes regular files only.
    ("-o /dev/null", HIGHLIGHT + ["page.html", "-o", "/dev/null"], None, USAGE,
     "/dev/null: is a character device", {}),
    ("-o /dev/full", HIGHLIGHT + ["page.html", "-o", "/dev/full"], None, USAGE,
     "/dev/full: is a character device", {}),
    ("-o a symlink", HIGHLIGHT + ["page.html", "-o", "link.html"], None, USAGE, "symbolic link", {}),
    ("-o a folder", HIGHLIGHT + ["page.html", "-o", "dir"], None, USAGE, "is a folder", {}),
    ("-o a fifo", HIGHLIGHT + ["page.html", "-o", "fifo"], None, USAGE, "is a FIFO", {}),
    ("session output is a link", ["session", "steps.txt", "-d", "trap"], None, USAGE,
     "trap/01-page.html: is a symbolic link", {}),
    # It writes into a folder through a link only when the link and its
    # folder are the user's (or root's) alone.
    ("session -d a linked folder", ["session", "steps.txt", "-d", "shared/linkdir"], None, USAGE,
     "shared/linkdir: is a symbolic link", {}),
    ("-o in a linked folder", HIGHLIGHT + ["page.html", "-o", "shared/linkdir/out.html"], None, USAGE,
     "shared/linkdir: is a symbolic link", {}),
    ("session -d a trusted linked folder", ["session", "steps.txt", "-d", "linkdir"], None, OK, "",
     {"dir/01-page.html": lambda b: b"<span" in b, "dir/report.json": lambda b: b"01-page.html" in b}),
    ("-o in a trusted linked folder", HIGHLIGHT + ["page.html", "-o", "linkdir/out.html"], None, OK, "",
     {"dir/out.html": lambda b: b"<span" in b}),
    ("registrar -o a device", ["registrar", "script.rgs", "-o", "/dev/full"], None, USAGE,
     "character device", {}),
    ("generate-page -o a link", ["generate-page", "1K", "-o", "link.html"], None, USAGE,
     "symbolic link", {}),
    # Standard output that cannot be written fails every command, with the reason.
    ("highlight > /dev/full", HIGHLIGHT + ["page.html"], "/dev/full", FAILURE,
     "highlight: cannot write to standard output: No space left on device", {}),
    ("highlight --json > /dev/full", HIGHLIGHT + ["page.html", "-o", "out.html", "--json"],
     "/dev/full", FAILURE, "No space left on device", {"out.html": lambda b: b"<span" in b}),
    ("keywords > /dev/full", ["keywords", SEARCH], "/dev/full", FAILURE,
     "keywords: cannot write to standard output: No space left on device", {}),
    ("registrar > /dev/full", ["registrar", "script.rgs"], "/dev/full", FAILURE,
     "registrar: cannot write to standard output", {}),
    ("session > /dev/full", ["session", "steps.txt"], "/dev/full", FAILURE,
     "session: cannot write to standard output", {}),
    ("generate-page > /dev/full", ["generate-page", "1K"], "/dev/full", FAILURE,
     "generate-page: cannot write to standard output", {}),
    ("help > /dev/full", ["--help"], "/dev/full", FAILURE, "cannot write to standard output", {}),
    # Inputs: regular files only, never waited on, never read without end.
    ("page is a fifo", HIGHLIGHT + ["fifo"], None, USAGE, "fifo: is a FIFO, not a regular file", {}),
    ("page is /dev/zero", HIGHLIGHT + ["/dev/zero"], None, USAGE,
     "/dev/zero: is a character device, not a regular file", {}),
    ("page is a folder", HIGHLIGHT + ["dir"], None, USAGE, "dir: is a folder", {}),
    ("session step is a fifo", ["session", "fifo-steps.txt", "-d", "out"], None, USAGE,
     "is a FIFO", {}),
    ("steps are a fifo", ["session", "fifo"], None, USAGE, "is a FIFO", {}),
    ("NUL in a step", ["session", "nul-steps.txt", "-d", "out"], None, USAGE,
     "nul-steps.txt:2: a NUL byte", {}),
    ("registrar script is a folder", ["registrar", "dir"], None, USAGE, "dir: is a folder", {}),
    ("registrar script is a fifo", ["registrar", "fifo"], None, USAGE, "is a FIFO", {}),
    ("registry is a folder", ["registrar", "script.rgs", "--registry", "dir"], None, USAGE,
     "dir: is a folder", {}),
    ("registry is /dev/zero", ["registrar", "script.rgs", "--registry", "/dev/zero"], None, USAGE,
     "character device", {}),
    ("NUL in a script", ["registrar", "nul.rgs", "-o", "out.reg"], None, USAGE,
     "nul.rgs:5: a NUL byte", {}),
    # Option values: what the help says, nothing else.
    ("highlight --codepage 437", HIGHLIGHT + ["page.html", "--codepage", "437"], None, USAGE,
     "437 not in {1252,932,65001}", {}),
    ("session --codepage 850", ["session", "steps.txt", "--codepage", "850"], None, USAGE,
     "850 not in {1252,932,65001}", {}),
    ("keywords --codepage 1250", ["keywords", SEARCH, "--codepage", "1250"], None, USAGE,
     "1250 not in {1252,932,65001}", {}),
    ("registrar --codepage 936", ["registrar", "script.rgs", "--codepage", "936"], None, USAGE,
     "936 not in {1252,932,65001}", {}),
    ("highlight --codepage 932", HIGHLIGHT + ["page.html", "--codepage", "932", "-o", "out.html"],
     None, OK, "", {"out.html": lambda b: b"<span" in b}),
    ("size in plain bytes", ["generate-page", "10000", "-o", "out.html"], None, OK, "",
     {"out.html": lambda b: 9000 < len(b) < 11000}),
    ("size 1G is accepted", ["generate-page", "1G", "-o", "link.html"], None, USAGE,
     "symbolic link", {}),
    ("size 1024M is accepted", ["generate-page", "1024m", "-o", "dir"], None, USAGE, "folder", {}),
    ("size over 1G", ["generate-page", "1025M"], None, USAGE, "at most 1G", {}),
    ("size 2G", ["generate-page", "2G"], None, USAGE, "at most 1G", {}),
    ("size overflowing", ["generate-page", "18446744073709551617"], None, USAGE, "at most 1G", {}),
    ("size with a unit unknown", ["generate-page", "1T"], None, USAGE, "at most 1G", {}),
    # Control bytes of a URL are escaped for the terminal, as in JSON.
    ("keywords escapes ESC", ["keywords", "https://a.example/?q=a\x1b[31mb"], None, OK, "", {}),
    ("session escapes ESC", ["session", "esc-steps.txt"], None, OK, "", {}),
]


class HostileInputs(unittest.TestCase):
    def test_table(self):
        for name, args, stdout, status, message, changed in ROWS:
            with self.subTest(name):
                setup_work()
                before = listing()
                result = run(args, stdout)
                stderr = result.stderr.decode(errors="replace")
                self.assertEqual(result.returncode, status, stderr)
                self.assertIn(message, stderr)
                if status != OK:
                    self.assertTrue(stderr.strip(), "a failure says why")
                if stdout is None:
                    self.assertNotIn(b"\x1b", result.stdout, "no raw ESC reaches the terminal")
                after = listing()
                for file, check in changed.items():
                    self.assertIn(file, after)
                    self.assertTrue(check(after.pop(file)), file)
                self.assertEqual(after, before, "nothing else was added, changed or removed")
                self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))

    def test_escaped_urls_are_shown(self):
        setup_work()
        result = run(["session", "esc-steps.txt"])
        self.assertIn(b"url https://a.example/\\u001b[2J", result.stdout)
        self.assertIn(b"\\u001b]0;pwned\\u0007", result.stdout)


class FailedWrites(unittest.TestCase):
    """A write cut off at any size, failed (a full disk) or interrupted (the
    process killed there), changes nothing but its own target, which keeps
    its old bytes or has all the new ones; a failure says why."""

    COMMANDS = [
        (HIGHLIGHT + ["page.html", "-o", "out.html"], "out.html"),
        (["registrar", "script.rgs", "-o", "out.html"], "out.html"),
        (["generate-page", "20K", "-o", "out.html"], "out.html"),
        (["session", "steps.txt", "-d", "."], "01-page.html"),
    ]

    def test_no_write_leaves_anything_half_done(self):
        for args, target in self.COMMANDS:
            setup_work()
            result = run(args)
            self.assertEqual(result.returncode, OK, result.stderr)
            full = listing()
            size = max(len(v) for k, v in full.items() if k not in FIXTURE and isinstance(v, bytes))
            limits = sorted({n for n in (0, 1, 17, 4096, size // 2, size - 1) if n < size})
            for limit, killed in [(n, k) for n in limits for k in (False, True)]:
                with self.subTest(command=args[0], limit=limit, killed=killed):
                    setup_work()
                    with open(w(target), "wb") as f:
                        f.write(b"old")
                    before = listing()
                    result = run(args, limit=limit, killed=killed)
                    if killed:
                        self.assertEqual(result.returncode, -signal.SIGXFSZ, result.stderr)
                    else:
                        self.assertEqual(result.returncode, FAILURE, result.stderr)
                        self.assertIn(b"File too large", result.stderr)
                    # Every file is as it was, or (a session writes its pages one
                    # by one, the target only when it is whole) exactly as a
                    # successful run leaves it.
                    for name, data in listing().items():
                        self.assertIn(data, [before.get(name), full.get(name)], name)



class OutOfMemory(unittest.TestCase):
    """Memory running out at any point, parsing, marking or writing, fails
    the command with no file written: never a page only partly marked."""

    def setUp(self):
        with open(GLINTMARK, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("the sanitizers reserve address space and hold freed memory")

    def test_session_holds_one_page_at_a_time(self):
        setup_work()
        with open(w("flat.html"), "wb") as f:
            f.write(b"<p>" + b"lorem " * 170_000 + b"</p>")
        peaks = []
        for steps in (1, 10):
            with open(w("flat-steps.txt"), "wb") as f:
                f.write((b"flat.html https://a.example/ " + SEARCH.encode() + b"\n") * steps)
            # The peak resident size of the tool alone, measured in a child of its own.
            measure = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True,"
                       " stdout=subprocess.DEVNULL); print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
            out = subprocess.run([sys.executable, "-c", measure, GLINTMARK, "session", "flat-steps.txt"],
                                 cwd=WORK, stdout=subprocess.PIPE, check=True, timeout=120)
            peaks.append(int(out.stdout))
        # Ten pages of 1 MB held at once would add 10 MB.
        self.assertLess(peaks[1], peaks[0] + 5_000, peaks)

    def test_every_page_written_is_wholly_marked(self):
        setup_work()
        words = 200_000
        with open(w("many.html"), "wb") as f:
            f.write(b"<p>" + b"aa " * words + b"</p>")
        args = ["highlight", "--url", "https://a.example/p.html", "--referrer",
                "https://s.example/search?q=aa", "--options", "5", "many.html", "-o", "out.html"]
        outcomes = set()
        for megabytes in range(8, 128, 4):
            limit = megabytes << 20
            with self.subTest(megabytes=megabytes):
                result = subprocess.run(
                    [GLINTMARK, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=WORK,
                    timeout=60, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
                if result.returncode == OK:
                    with open(w("out.html"), "rb") as f:
                        self.assertEqual(f.read().count(b"<span"), words)
                    os.remove(w("out.html"))
                else:
                    self.assertEqual(result.returncode, FAILURE, result.stderr)
                    self.assertIn(b"out of memory", result.stderr)
                    self.assertFalse(os.path.exists(w("out.html")))
                outcomes.add(result.returncode)
        self.assertEqual(outcomes, {OK, FAILURE}, "the limits reach from failing to succeeding")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
