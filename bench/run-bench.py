#!/usr/bin/env python3
"""Times, side by side in one run, on the same generated pages and keywords,
end to end (process start to page written):

- `glintmark highlight` (options 5: highlighting only, as mark.js does; on
  the links shape options 13, every link given its target as tooltip too);
- the floor `glintmark bench-floor`: read, parse, index the body text, one
  scan per keyword, serialise, write; no spans;
- the parser alone, `gumbo-parse`: read the page and run gumbo_parse, nothing
  else;
- mark.js 8 under Node.js and jsdom.

It prints one table per page shape (`generate-page --shape text|dense|links`) with
wall and CPU time, peak memory and match counts, then the ratios the goals
are stated in: glintmark against the parser alone (time and peak memory),
against the floor, 1 MB -> 10 MB growth, and mark.js against glintmark.

Usage: run-bench.py GLINTMARK GUMBO_PARSE MODULES WORKDIR [--shapes text,dense,links]
           [--keywords 2,5,7] [--no-markjs] [--rounds 9] [SIZE...]   (SIZE: 100K, 1M, 10M)

For each shape and number of keywords, the parser alone, glintmark and the
floor run on every size in turns, round after round; each figure is the
fastest of its rounds (what other processes add is noise, never the
program), the peak memory the largest.
"""
import argparse
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command):
    """(wall seconds, peak resident MB, stdout, CPU seconds) of one run of command."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = process.stdout.read()
    err = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({process.returncode}): {err.decode()[:500]}")
    return seconds, usage.ru_maxrss / 1024.0, out.decode(), usage.ru_utime + usage.ru_stime


def side_by_side(runs, commands):
    """Each command's fastest of several runs, the commands taking turns round by
    round, so that a slow spell of the machine falls on all of them alike (what
    other processes add is noise, never the program): per command (wall, peak
    MB, stdout of its first run, CPU)."""
    results = [[] for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            results[i].append(timed(command))
    return [(min(r[0] for r in rs), max(r[1] for r in rs), rs[0][2], min(r[3] for r in rs))
            for rs in results]


def label(size):
    return size.replace("K", " KB").replace("M", " MB")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("glintmark")
    parser.add_argument("gumbo_parse")
    parser.add_argument("modules")
    parser.add_argument("workdir")
    parser.add_argument("--shapes", default="text,dense,links")
    parser.add_argument("--keywords", default="2,5,7")
    parser.add_argument("--no-markjs", action="store_true")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("sizes", nargs="*")
    args = parser.parse_intermixed_args()
    glintmark = args.glintmark
    sizes = args.sizes or ["100K", "1M", "10M"]
    counts = [int(c) for c in args.keywords.split(",")]
    os.makedirs(args.workdir, exist_ok=True)
    keywords = subprocess.run([glintmark, "generate-page", "--keywords"], capture_output=True,
                              text=True, check=True).stdout.split()
    out = os.path.join(args.workdir, "out.html")
    rows = []
    for shape in args.shapes.split(","):
        pages = {}
        for size in sizes:
            pages[size] = os.path.join(args.workdir, f"page-{shape}-{size}.html")
            if not os.path.exists(pages[size]):
                subprocess.run([glintmark, "generate-page", size, "--shape", shape, "-o", pages[size]],
                               check=True)
        for count in counts:
            words = keywords[:count]
            # Every size's parser alone, glintmark and floor, in turns round by
            # round: the ratios, and the growth from 1 MB to 10 MB, compare runs
            # made side by side.
            commands = []
            for size in sizes:
                commands += [
                    [args.gumbo_parse, pages[size]],
                    [glintmark, "highlight", pages[size], "--url", "https://bench.example/page.html",
                     "--referrer", "https://search.example/search?q=" + "+".join(words),
                     "--options", "13" if shape == "links" else "5", "-o", out, "--json"],
                    [glintmark, "bench-floor", pages[size], "-o", out, *words]]
            results = side_by_side(args.rounds, commands)
            for i, size in enumerate(sizes):
                p, g, f = results[3 * i:3 * i + 3]
                g_matches = sum(k["spans"] for k in json.loads(g[2])["keywords"])
                f_matches = int(f[2].split("total ")[1])
                m, m_matches = None, None
                if not args.no_markjs:
                    m = timed(["node", "--max-old-space-size=8192",
                               os.path.join(HERE, "markjs-highlight.js"), args.modules, pages[size], out,
                               *words])
                    m_matches = json.loads(m[2])["matches"]
                rows.append((shape, size, count, g, g_matches, f, f_matches, p, m, m_matches))
                print(f"# {shape} {label(size)}, {count} keywords: glintmark {g[0]:.3f} s ({g[3]:.3f} CPU, "
                      f"{g[1]:.0f} MB), floor {f[3]:.3f} CPU, gumbo {p[0]:.3f} s ({p[3]:.3f} CPU, {p[1]:.0f} MB)"
                      + (f", mark.js {m[0]:.2f} s ({m[3]:.2f} CPU)" if m else ""),
                      file=sys.stderr, flush=True)
    rows.sort(key=lambda r: (r[0], sizes.index(r[1]), r[2]))

    # Wall time and CPU time (user + system), each the best of its runs; the
    # ratios are given in both.
    for shape in args.shapes.split(","):
        print(f"\n{shape} pages (generate-page --shape {shape}):\n")
        print("| page | keywords | matches | glintmark s (CPU) | MB | floor s (CPU) | gumbo alone s (CPU) | MB | "
              "vs gumbo: time (CPU), memory | vs floor (CPU) | mark.js+jsdom s (CPU) | MB | matches | "
              "mark.js / glintmark (CPU) |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        for sh, size, count, g, gm, f, fm, p, m, mm in rows:
            if sh != shape:
                continue
            assert gm == fm, f"glintmark found {gm} matches, the floor {fm}"
            markjs = (f"{m[0]:.2f} ({m[3]:.2f}) | {m[1]:.0f} | {mm} | {m[3] / g[3]:.0f}x"
                      if m else "- | - | - | -")
            print(f"| {label(size)} | {count} | {gm} | {g[0]:.3f} ({g[3]:.3f}) | {g[1]:.0f} | "
                  f"{f[0]:.3f} ({f[3]:.3f}) | {p[0]:.3f} ({p[3]:.3f}) | {p[1]:.0f} | "
                  f"{g[0] / p[0]:.2f} ({g[3] / p[3]:.2f}), {g[1] / p[1]:.2f} | {g[3] / f[3]:.2f} | {markjs} |")
        by = {(r[1], r[2]): r for r in rows if r[0] == shape}
        for count in counts:
            if ("1M", count) in by and ("10M", count) in by:
                small, large = by[("1M", count)][3], by[("10M", count)][3]
                print(f"\ngrowth 1 MB -> 10 MB, {count} keywords: x{large[3] / small[3]:.1f} CPU, "
                      f"x{large[0] / small[0]:.1f} wall", end="")
        print()


if __name__ == "__main__":
    main()
