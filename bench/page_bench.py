#!/usr/bin/env python3
"""The pictures of a dense analysis (5,000 partials, 1.6 million breakpoints within 20 s):
the page's size, the time headless Chromium takes to load and draw it, to redraw on zoom
and pan, and to edit 1,000 partials and draw them; the still SVG's size and the CPU time
librsvg (rsvg-convert) takes to render it.

usage: page_bench.py ZARN MAKE_ANALYSIS [STEP]
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

from selenium import webdriver


def cpu_of(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


def main():
    zarn, make, step = sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "0.01"
    work = tempfile.mkdtemp()
    try:
        analysis = os.path.join(work, "dense.txt")
        with open(analysis, "wb") as out:
            subprocess.run([make, "5000", "1", "raw", "20"], stdout=out, check=True)
        page, svg, png = (os.path.join(work, "dense." + e) for e in ("html", "svg", "png"))
        for picture in (page, svg):
            subprocess.run([zarn, "-q", "-o", os.path.join(work, "r" + picture[-4:]), "--plot=" + picture, analysis, step],
                           check=True)
        print(f"page: {os.path.getsize(page) / 1e6:.2f} MB; SVG: {os.path.getsize(svg) / 1e6:.2f} MB (step {step})")
        if shutil.which("rsvg-convert"):
            cpu = min(cpu_of(["rsvg-convert", "-o", png, svg]) for _ in range(5))
            print(f"rsvg-convert of the SVG: {cpu:.3f} s CPU (best of 5)")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + os.path.join(work, "profile"), "--window-size=1300,1150"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=webdriver.chrome.service.Service(executable_path=shutil.which("chromedriver")),
                                  options=options)
        try:
            loads = []
            for _ in range(3):
                driver.get("file://" + page)
                loads.append(driver.execute_script("return window.zarnView.ready") / 1000)
            print(f"page loaded and drawn in {min(loads):.2f} s (best of 3; {', '.join(f'{v:.2f}' for v in loads)})")
            span = driver.execute_script("return window.zarnView.view")
            width = span["t1"] - span["t0"]
            zooms, pans = [], []
            for k in range(10):
                a = span["t0"] + width * 0.05 * k
                zooms.append(driver.execute_script("return window.zarnView.zoom(arguments[0], arguments[1], arguments[2], arguments[3])",
                                                   a, a + width * (0.5 - 0.04 * k), span["f0"], span["f1"] * (1 - 0.08 * k)))
            for k in range(10):
                pans.append(driver.execute_script("return window.zarnView.zoom(arguments[0], arguments[1], arguments[2], arguments[3])",
                                                  span["t0"] + width * 0.02 * k, span["t1"] + width * 0.02 * k, span["f0"], span["f1"]))
            driver.execute_script("window.zarnView.zoom(arguments[0], arguments[1], arguments[2], arguments[3])",
                                  span["t0"], span["t1"], span["f0"], span["f1"])
            edits = []
            for op in ({"op": "transpose", "cents": -150}, {"op": "gain", "db": -6}, {"op": "shift", "seconds": 0.01},
                       {"op": "stretch", "factor": 0.75, "about": 10.0}):
                runs = []
                for _ in range(7):
                    driver.execute_script("window.zarnView.select(arguments[0])", list(range(0, 5000, 5)))
                    runs.append(driver.execute_script("const t = performance.now(); window.zarnView.apply(arguments[0]); "
                                                      "return [performance.now() - t, window.zarnView.drawTime]", op))
                    driver.execute_script("window.zarnView.undo()")
                edits.append((statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs)))
            points = driver.execute_script("let n = 0; for (const p of window.zarnView.kept) n += window.zarnView.partial(p).time.length; return n")
            print(f"{points} points shown: {os.path.getsize(page) / points:.2f} bytes a point; an edit of 1,000 partials, fitted and drawn: "
                  + ", ".join(f"{v:.0f} ({d:.0f} of them drawing)" for v, d in edits) + " ms (transpose, gain, shift, stretch; median of 7)")
            print(f"redraw on zoom: median {statistics.median(zooms):.0f} ms, worst {max(zooms):.0f} ms; "
                  f"on pan of the whole: median {statistics.median(pans):.0f} ms, worst {max(pans):.0f} ms")
        finally:
            driver.quit()
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
