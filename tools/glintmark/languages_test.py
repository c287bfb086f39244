#!/usr/bin/env python3
"""Searches in many languages through `glintmark highlight --codepage 65001`:
for each row of testing/languages.json, a page reached from a search for what
the user typed gets the keywords expected, and every occurrence of each is
marked. The default code page (1252) keeps its byte rules.

Usage: languages_test.py GLINTMARK WORKDIR
"""
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import unittest
import urllib.parse

GLINTMARK, WORK = sys.argv[1:3]
TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testing", "languages.json")
PALETTE = ["#ffff66", "#a0ffff", "#99ff99", "#9acd32", "#ee82ee", "#ff8c00"]
SEARCH = "https://search.example/search?hl=en&q="


class Marks(html.parser.HTMLParser):
    """The text of each highlight span, by colour, in document order."""

    def __init__(self):
        super().__init__()
        self.open = []  # for each open span: its index in `found`, or None
        self.found = []  # [colour, text]

    def handle_starttag(self, tag, attrs):
        if tag != "span":
            return
        colour = re.search(r"background-color:(#[0-9a-f]{6})", dict(attrs).get("style") or "")
        self.open.append(len(self.found) if colour else None)
        if colour:
            self.found.append([colour.group(1), ""])

    def handle_endtag(self, tag):
        if tag == "span" and self.open:
            self.open.pop()

    def handle_data(self, data):
        for index in self.open:
            if index is not None:
                self.found[index][1] += data

    def by_colour(self, colour):
        return [text for c, text in self.found if c == colour]


def highlight(name, page, typed, *codepage):
    path = os.path.join(WORK, name + ".html")
    out = os.path.join(WORK, name + "-out.html")
    with open(path, "w", encoding="utf-8") as f:
        f.write(f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Page</title></head>"
                f"<body>{page}</body></html>")
    result = subprocess.run(
        [GLINTMARK, "highlight", path, "--url", "https://site.example/page.html",
         "--referrer", SEARCH + urllib.parse.quote_plus(typed), "--options", "5",
         *codepage, "--json", "-o", out], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise AssertionError(result.stderr)
    marks = Marks()
    with open(out, encoding="utf-8-sig") as f:
        marks.feed(f.read())
    return json.loads(result.stdout), marks


class Languages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        with open(TABLE, encoding="utf-8") as f:
            cls.rows = json.load(f)["rows"]

    def test_every_row_marks_the_typed_words(self):
        for number, row in enumerate(self.rows):
            with self.subTest(row["language"]):
                report, marks = highlight(f"row-{number}", row["page"], row["typed"], "--codepage", "65001")
                expected = row["keywords"]
                self.assertEqual([k["word"] for k in report["keywords"]], [word for word, _ in expected])
                for position, (word, texts) in enumerate(expected):
                    colour = PALETTE[min(position, len(PALETTE) - 1)]
                    self.assertEqual(marks.by_colour(colour), texts, word)
                    self.assertEqual(report["keywords"][position]["spans"], len(texts), word)

    def test_code_page_1252_keeps_its_byte_rules(self):
        # The search text stays undecoded there: digits and '%' separate.
        report, marks = highlight("cp1252", "<p>café crème cafe creme</p>", "café crème")
        self.assertEqual(report["searchText"], "caf%c3%a9+cr%c3%a8me")
        self.assertEqual([k["word"] for k in report["keywords"]], ["caf", "cr", "me"])
        self.assertEqual(marks.by_colour(PALETTE[0]), ["caf", "caf"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
