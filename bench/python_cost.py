#!/usr/bin/env python3
"""What the Python module costs against the tool, and what threads gain.

usage: python_cost.py ZARN_BINARY ANALYSIS [STEP [RUNS]]   (the module on PYTHONPATH)

Prints, as medians of RUNS, each figure beside its limit:
  - read + resample + write through the module against the tool's `-q -o` run on the same
    file: CPU seconds and peak resident memory of each process, and their ratios;
  - two files read, resampled and written in two threads of one process against two
    processes at once, and zarn.resample of one set in two threads against one: the
    wall-time gain of each over doing the work twice in a row.
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ONE_RUN = r"""
import resource, sys, numpy, zarn
def cpu():
    u = resource.getrusage(resource.RUSAGE_SELF)
    return u.ru_utime + u.ru_stime
path, step, out = sys.argv[1], float(sys.argv[2]), sys.argv[3]
started = cpu()
zarn.write(out, zarn.resample(zarn.read(path), step))
print(cpu() - started)
"""

THREADS = r"""
import os, sys, threading, time, zarn
path, step, tmp, mode = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
def whole(i):
    zarn.write(os.path.join(tmp, f"t{i}.txt"), zarn.resample(zarn.read(path), step), force=True)
partials = zarn.read(path) if mode != "whole" else None
def resample(i):
    zarn.resample(partials, step)
work = whole if mode == "whole" else resample
def run(n_threads, jobs):
    start = time.perf_counter()
    for first in range(0, jobs, n_threads):
        ts = [threading.Thread(target=work, args=(first + k,)) for k in range(n_threads)]
        for t in ts: t.start()
        for t in ts: t.join()
    return time.perf_counter() - start
work(0)  # warm
print(run(1, 2), run(2, 2))
"""


def child_usage(args):
    """CPU seconds of one child process, and what it printed."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), r.stdout


def peak_of(args):
    """Peak KiB of one run, read by GNU time (ru_maxrss of the children is a running maximum)."""
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + args, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    return int(r.stderr.strip().splitlines()[-1])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    zarn_bin, analysis = sys.argv[1], sys.argv[2]
    step = sys.argv[3] if len(sys.argv) > 3 else "0.01"
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.txt")
        tool_cpu, py_cpu, calls_cpu, tool_peak, py_peak = [], [], [], [], []
        for _ in range(runs):
            for cpus, peaks, args in ((tool_cpu, tool_peak, [zarn_bin, "-q", "-o", out, analysis, step]),
                                      (py_cpu, py_peak, [sys.executable, "-c", ONE_RUN, analysis, step, out])):
                if os.path.exists(out):
                    os.remove(out)
                seconds, printed = child_usage(args)
                cpus.append(seconds)
                if printed:
                    calls_cpu.append(float(printed))
                if os.path.exists(out):
                    os.remove(out)
                peaks.append(peak_of(args))
        tc, pc, cc = statistics.median(tool_cpu), statistics.median(py_cpu), statistics.median(calls_cpu)
        tp, pp = statistics.median(tool_peak) / 1024, statistics.median(py_peak) / 1024
        print(f"# tool -q -o {tc:.3f} s CPU, {tp:.1f} MiB; module read+resample+write {pc:.3f} s CPU "
              f"({cc:.3f} s in the calls), {pp:.1f} MiB")
        limit("python: calls' CPU / tool's", cc / tc, "<=", 1.2)
        limit("python: process CPU / tool's (with numpy)", pc / tc, "<=", None)
        limit("python: peak / tool's", pp / tp, "<=", 1.5)

        def gain_of_processes():
            start = time.perf_counter()
            procs = [subprocess.Popen([zarn_bin, "-q", "--force", "-o", os.path.join(tmp, f"p{i}.txt"), analysis, step])
                     for i in range(2)]
            for p in procs:
                p.wait()
            both = time.perf_counter() - start
            start = time.perf_counter()
            for i in range(2):
                subprocess.run([zarn_bin, "-q", "--force", "-o", os.path.join(tmp, f"p{i}.txt"), analysis, step], check=True)
            return (time.perf_counter() - start) / both

        def gain_of_threads(mode):
            r = subprocess.run([sys.executable, "-c", THREADS, analysis, step, tmp, mode], check=True,
                               stdout=subprocess.PIPE, text=True)
            serial, parallel = map(float, r.stdout.split())
            return serial / parallel

        procs = statistics.median(gain_of_processes() for _ in range(runs))
        whole = statistics.median(gain_of_threads("whole") for _ in range(runs))
        resample = statistics.median(gain_of_threads("resample") for _ in range(runs))
        print(f"# two processes {procs:.2f}x faster than one after the other; two threads {whole:.2f}x on two files, "
              f"{resample:.2f}x in zarn.resample")
        limit("python: two threads / two processes, files", whole / procs, ">=", 0.9)
        limit("python: two threads / two processes, resample", resample / procs, ">=", 0.9)


def limit(name, value, op, bound):
    """One figure beside its limit, as bench/compare.sh prints them."""
    if bound is None:
        print(f"{name:<48} {value:>12.3f}")
        return
    met = value <= bound if op == "<=" else value >= bound
    print(f"{name:<48} {value:>12.3f}   {op} {bound:<10g} {'met' if met else 'NOT MET'}")


if __name__ == "__main__":
    main()
