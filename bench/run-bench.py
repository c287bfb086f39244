#!/usr/bin/env python3
"""Times `glintmark highlight`, the floor (`glintmark bench-floor`) and mark.js
under jsdom on the same generated pages and keywords, end to end (process
start to page written), and prints one table with times, peak memory and
match counts side by side. The pages come from `glintmark generate-page`,
the keywords from `glintmark generate-page --keywords` (the words its pages
are rich in).

Usage: run-bench.py GLINTMARK MODULES WORKDIR [SIZE...]   (SIZE: 100K, 1M, 10M)
"""
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


def best_of(runs, command):
    """The fastest of several runs: what other processes add is noise, never the program."""
    results = [timed(command) for _ in range(runs)]
    return (min(r[0] for r in results), max(r[1] for r in results), results[0][2],
            min(r[3] for r in results))


def label(size):
    return size.replace("K", " KB").replace("M", " MB")


def main():
    glintmark, modules, workdir = sys.argv[1:4]
    sizes = sys.argv[4:] or ["100K", "1M", "10M"]
    os.makedirs(workdir, exist_ok=True)
    keywords = subprocess.run([glintmark, "generate-page", "--keywords"], capture_output=True,
                              text=True, check=True).stdout.split()
    rows = []
    for size in sizes:
        page = os.path.join(workdir, f"page-{size}.html")
        if not os.path.exists(page):
            subprocess.run([glintmark, "generate-page", size, "-o", page], check=True)
        for count in (2, 5, 7):
            words = keywords[:count]
            runs = 3 if size == "10M" else 5
            out = os.path.join(workdir, "out.html")
            g = best_of(runs, [glintmark, "highlight", page, "--url", "https://bench.example/page.html",
                               "--referrer", "https://search.example/search?q=" + "+".join(words),
                               "--options", "5", "-o", out, "--json"])
            g_matches = sum(k["spans"] for k in json.loads(g[2])["keywords"])
            f = best_of(runs, [glintmark, "bench-floor", page, "-o", out, *words])
            f_matches = int(f[2].split("total ")[1])
            m = timed(["node", "--max-old-space-size=8192", os.path.join(HERE, "markjs-highlight.js"),
                       modules, page, out, *words])
            m_matches = json.loads(m[2])["matches"]
            rows.append((size, count, g, g_matches, f, f_matches, m, m_matches))
            print(f"# {label(size)}, {count} keywords: glintmark {g[0]:.3f} s ({g[3]:.3f} CPU), "
                  f"floor {f[0]:.3f} s ({f[3]:.3f} CPU), mark.js {m[0]:.2f} s ({m[3]:.2f} CPU)",
                  file=sys.stderr, flush=True)

    # Wall time and CPU time (user + system): on a busy machine the CPU time
    # is the steadier measure, so the ratios use it.
    print("| page | keywords | glintmark s (CPU) | MB | matches | floor s (CPU) | MB | matches | "
          "mark.js+jsdom s (CPU) | MB | matches | speed-up | vs floor |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for size, count, g, gm, f, fm, m, mm in rows:
        print(f"| {label(size)} | {count} | {g[0]:.3f} ({g[3]:.3f}) | {g[1]:.0f} | {gm} | "
              f"{f[0]:.3f} ({f[3]:.3f}) | {f[1]:.0f} | {fm} | {m[0]:.2f} ({m[3]:.2f}) | {m[1]:.0f} | {mm} | "
              f"{m[3] / g[3]:.0f}x | {g[3] / f[3]:.2f} |")
    by = {(r[0], r[1]): r for r in rows}
    for count in (2, 5, 7):
        if ("1M", count) in by and ("10M", count) in by:
            ratio = by[("10M", count)][2][3] / by[("1M", count)][2][3]
            print(f"growth 1 MB -> 10 MB, {count} keywords: glintmark x{ratio:.1f} CPU time")


if __name__ == "__main__":
    main()
