#!/usr/bin/env python3
"""Real-browser check of highlighted pages.

Runs `glintmark session` over a session (the example session, or the pages in
other encodings of tools/glintmark/testing/encodings), then opens every original
page and its highlighted copy in headless Chromium. A small script appended to
a temporary copy of each page reports what the browser built: the body's text
and, for every highlight span, its computed background colour and the colour
its style attribute asks for. The check passes when

  - the highlighted page's text is exactly the original's,
  - every span shows black on the colour its style names (so the markup was
    parsed as intended), and
  - the spans per colour match the report's span counts per keyword.

Usage: chromium-check.py GLINTMARK STEPS WORKDIR
Exit status 77 (CTest's skip) when no Chromium can be found.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]

PROBE = """
<script>
(function () {
  var spans = [];
  document.querySelectorAll('span[style]').forEach(function (s) {
    var m = /background-color:\\s*([^;']+)/.exec(s.getAttribute('style'));
    if (!m) return;
    var probe = document.createElement('i');
    probe.style.color = m[1];
    document.documentElement.appendChild(probe);
    var wanted = getComputedStyle(probe).color;
    probe.remove();
    var cs = getComputedStyle(s);
    spans.push({declared: m[1].trim(), wanted: wanted, background: cs.backgroundColor,
                color: cs.color, text: s.textContent});
  });
  var out = document.createElement('pre');
  out.id = 'glintmark-probe';
  out.textContent = JSON.stringify({text: document.body.textContent, spans: spans});
  document.documentElement.appendChild(out);
})();
</script>
"""


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def probe(chromium, page, workdir):
    """What the browser built from `page` (text and spans)."""
    # Bytes, not text: the page is in whatever encoding it declares, and the
    # probe is ASCII, which every encoding a browser knows keeps as it is.
    with open(page, "rb") as f:
        html = f.read()
    probed = os.path.join(workdir, "probe-" + os.path.basename(page))
    with open(probed, "wb") as f:
        f.write(html + PROBE.encode("ascii"))
    profile = tempfile.mkdtemp(prefix="chromium-profile-", dir=workdir)
    try:
        dom = subprocess.run([chromium, *FLAGS, "--user-data-dir=" + profile, "--dump-dom",
                              "file://" + os.path.abspath(probed)],
                             capture_output=True, text=True, timeout=120, check=True).stdout
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    found = re.search(r'<pre id="glintmark-probe">(.*?)</pre>', dom, re.S)
    if not found:
        raise RuntimeError("no probe result in the DOM of " + page)
    raw = found.group(1).replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
    return json.loads(raw.replace("&amp;", "&"))


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    glintmark, steps, workdir = sys.argv[1:]
    chromium = find_chromium()
    if not chromium:
        print("SKIPPED: Chromium is not installed here (scripts/install-deps.sh chromium installs it)")
        return SKIP
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    pages_dir = os.path.join(workdir, "pages")
    reports = json.loads(subprocess.run([glintmark, "session", steps, "-d", pages_dir, "--json"],
                                        capture_output=True, text=True, check=True).stdout)
    failures = []
    total_spans = 0
    for report in reports:
        original = os.path.join(os.path.dirname(steps), report["page"])
        before = probe(chromium, original, workdir)
        after = probe(chromium, report["output"], workdir)
        name = report["page"]
        if before["text"] != after["text"]:
            failures.append(f"{name}: the page's text changed")
        for span in after["spans"]:
            if span["background"] != span["wanted"] or span["color"] != "rgb(0, 0, 0)":
                failures.append(f"{name}: span {span['text']!r} shows {span['color']} on "
                                f"{span['background']}, not black on {span['declared']}")
        expected = {}
        for keyword in report["keywords"]:
            expected[keyword["colour"]] = expected.get(keyword["colour"], 0) + keyword["spans"]
        seen = {}
        for span in after["spans"]:
            seen[span["declared"]] = seen.get(span["declared"], 0) + 1
        expected = {colour: n for colour, n in expected.items() if n}
        if seen != expected:
            failures.append(f"{name}: spans per colour {seen}, the report says {expected}")
        total_spans += len(after["spans"])
        print(f"{name}: {len(after['spans'])} spans, text unchanged: {before['text'] == after['text']}")
    for failure in failures:
        print("FAILED:", failure)
    if not failures:
        print(f"chromium check passed: {len(reports)} pages, {total_spans} spans")
    if total_spans == 0:
        print("FAILED: no span at all was checked")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
