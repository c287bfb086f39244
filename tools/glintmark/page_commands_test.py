#!/usr/bin/env python3
"""`glintmark highlight` and `glintmark session` end to end: reports, the
saved text carried through a session, exit codes, and no half-written files.

Usage: page_commands_test.py GLINTMARK EXAMPLES WORKDIR
"""
import json
import os
import shutil
import subprocess
import sys
import unittest

GLINTMARK, EXAMPLES, WORK = sys.argv[1:4]
EXIT_OK, EXIT_FAILURE, EXIT_USAGE = 0, 1, 2


def run(*args):
    return subprocess.run([GLINTMARK, *args], capture_output=True, text=True, timeout=60)


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


PAGE = ("<html><head><title>Cats</title></head><body><p>A Snow Leopard in snow.</p>"
        "<a href='/x' title='old'>x</a></body></html>")


class Highlight(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        self.page = write("page.html", PAGE)

    def test_report_and_page(self):
        out = os.path.join(WORK, "out.html")
        result = run("highlight", self.page, "--url", "https://site.example/a.html",
                     "--referrer", "https://engine.example/search?q=snow+leopard&x=1", "-o", out, "--json")
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        report = json.loads(result.stdout)
        self.assertEqual(report["result"], "0x00000000")
        self.assertEqual(report["source"], "referrer")
        self.assertEqual(report["searchText"], "snow+leopard")
        self.assertFalse(report["fromTitle"])
        self.assertEqual(report["keywords"], [
            {"word": "snow", "colour": "#ffff66", "spans": 2},
            {"word": "leopard", "colour": "#a0ffff", "spans": 1}])
        self.assertEqual(report["tooltips"], 1)
        self.assertIsNone(report["savedSearchText"])
        with open(out, encoding="utf-8") as f:
            html = f.read()
        self.assertIn("background-color:#ffff66\">Snow</span>", html)
        self.assertIn('title="https://site.example/x"', html)

    def test_page_on_standard_output_and_saved_text(self):
        result = run("highlight", self.page, "--url", "https://site.example/a.html",
                     "--referrer", "https://site.example/", "--saved", "Leopard", "--options", "0xD")
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertIn("background-color:#ffff66\">Leopard</span>", result.stdout)
        self.assertIn("source saved", result.stderr)

    def test_bad_input_is_a_usage_error_and_writes_nothing(self):
        out = os.path.join(WORK, "out.html")
        cases = [
            ("bad option word", [self.page, "--url", "u", "--options", "thirteen"]),
            ("negative option word", [self.page, "--url", "u", "--options", "-1"]),
            ("option word too large", [self.page, "--url", "u", "--options", "4294967296"]),
            ("unknown code page", [self.page, "--url", "u", "--codepage", "99999"]),
            ("missing page", [os.path.join(WORK, "missing.html"), "--url", "u"]),
            ("a folder as page", [WORK, "--url", "u"]),
            ("no url", [self.page]),
        ]
        for name, args in cases:
            with self.subTest(name):
                result = run("highlight", *args, "-o", out)
                self.assertEqual(result.returncode, EXIT_USAGE, result.stderr)
                self.assertTrue(result.stderr.strip(), "a message explains the error")
                self.assertFalse(os.path.exists(out))

    def test_unwritable_output_leaves_nothing_behind(self):
        folder = os.path.join(WORK, "no-such-folder")
        result = run("highlight", self.page, "--url", "u", "-o", os.path.join(folder, "out.html"))
        self.assertEqual(result.returncode, EXIT_FAILURE)
        self.assertIn("cannot write", result.stderr)
        self.assertEqual(sorted(os.listdir(WORK)), ["page.html"])

    def test_existing_output_is_replaced_whole(self):
        out = write("out.html", "old content " * 1000)
        result = run("highlight", self.page, "--url", "u", "-o", out)
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        with open(out, encoding="utf-8") as f:
            self.assertNotIn("old content", f.read())
        self.assertEqual(sorted(os.listdir(WORK)), ["out.html", "page.html"])


class Session(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)

    def test_example_session_carries_the_search(self):
        out = os.path.join(WORK, "pages")
        result = run("session", os.path.join(EXAMPLES, "session.txt"), "-d", out, "--json")
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        reports = json.loads(result.stdout)
        self.assertEqual([r["source"] for r in reports], ["none", "saved", "saved", "title"])
        self.assertEqual([r["savedSearchText"] for r in reports],
                         ["snow+leopard+habitat"] * 3 + [None])
        self.assertEqual(sum(k["spans"] for k in reports[0]["keywords"]), 0)
        self.assertTrue(all(k["spans"] > 0 for r in reports[1:] for k in r["keywords"]))
        self.assertEqual(sorted(os.listdir(out)), ["01-results.html", "02-leopards.html",
                                                   "03-conservation.html", "04-glaciers.html",
                                                   "report.json"])

    def test_malformed_steps_write_nothing(self):
        page = write("page.html", PAGE)
        out = os.path.join(WORK, "pages")
        cases = {
            "one field": f"{page} https://a.example/\nlonely\n",
            "four fields": f"{page} https://a.example/ https://b.example/ extra\n",
            "missing file": f"{page} https://a.example/\nmissing.html https://a.example/\n",
            "no pages": "# only a comment\n\n",
        }
        for name, text in cases.items():
            with self.subTest(name):
                steps = write("steps.txt", text)
                result = run("session", steps, "-d", out)
                self.assertEqual(result.returncode, EXIT_USAGE)
                self.assertIn("steps.txt", result.stderr)
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
