#!/usr/bin/env python3
"""The partials of every file of a corpus, on a Dask cluster, through the Python module.

Each file (a sound, analysed with zarn's defaults, or any file of partials zarn reads) is
resampled and written as the tool writes it with

    zarn -q -f FORMAT -o OUT/ --step=STEP FILE...

the same bytes, named after the input with the format's ending. Files are independent, so a
cluster of N workers does N at once; a file that fails is reported with its reason and the
others are done (the status is then 1). An existing output is never overwritten.

usage: corpus.py [--workers N | --scheduler ADDRESS] [--step DUR] [--format FORMAT] --out FOLDER
                 (FOLDER | FILE | @LIST)...

A FOLDER takes every file in it (not below it); @LIST reads one path a line.
--workers N starts a cluster on this machine of N workers, threads of one process (2 by
default); --scheduler joins a running cluster (`dask-scheduler`, `dask-worker ADDRESS` on
each machine), whose workers need zarn installed and the files at the same paths.
"""
import argparse
import os
import sys
import time

ENDINGS = {"list": ".txt", "sdif": ".sdif", "ats": ".ats", "spear-partials": ".txt", "spear-frames": ".txt"}
FRAMES = {"sdif", "ats", "spear-frames"}  # formats of frames, written on the aligned grid


def quiet():
    """Leaves out the module's notes, as the tool's -q does. The filter is the process's own,
    set once for all its threads (a per-call catch_warnings is not safe across threads)."""
    import warnings

    warnings.simplefilter("ignore", UserWarning)


def one(path, out, step, fmt):
    """Reads, resamples and writes one file as the tool does; None, or why it failed."""
    import zarn

    quiet()  # on a remote worker too
    target = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ENDINGS[fmt])
    try:
        partials = zarn.read(path)
        grid = zarn.resample(partials, step, align=fmt in FRAMES)
        zarn.write(target, grid, format=fmt, step=step if fmt == "ats" else None)
        return None
    except (zarn.Error, OSError, ValueError, MemoryError) as e:
        return str(e)


def said(path, error):
    """The line for a file that failed: its name once, then why."""
    error = str(error).strip()
    return f"corpus.py: {error}" if error.startswith(path + ":") else f"corpus.py: {path}: {error}"


def find_module():
    """Imports zarn: installed, or else from this checkout's build (build/release/python). Where
    the build was made for another Python, says which, rather than a bare ImportError."""
    try:
        import zarn  # noqa: F401
        return None
    except ImportError:
        pass
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    built = os.path.join(root, "build", "release", "python")
    sys.path.insert(0, built)
    try:
        import zarn  # noqa: F401
        return None
    except ImportError as e:
        sys.path.remove(built)
        wanted = None
        try:
            with open(os.path.join(root, "build", "release", "CMakeCache.txt"), encoding="utf-8") as cache:
                for line in cache:
                    if line.startswith("Python3_EXECUTABLE:"):
                        wanted = line.split("=", 1)[1].strip()
        except OSError:
            pass
        if wanted and os.path.realpath(wanted) != os.path.realpath(sys.executable):
            return f"the zarn module was built for {wanted}, not this Python ({sys.executable}): run {wanted} {sys.argv[0]}"
        return f"the zarn module cannot be imported by {sys.executable} ({e}): build it (cmake --workflow --preset release) or install it"


def inputs(operands):
    files = []
    for operand in operands:
        if operand.startswith("@"):
            with open(operand[1:], encoding="utf-8") as listing:
                files += [line.strip() for line in listing if line.strip()]
        elif os.path.isdir(operand):
            files += sorted(os.path.join(operand, n) for n in os.listdir(operand)
                            if os.path.isfile(os.path.join(operand, n)))
        else:
            files.append(operand)
    return files


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=2, help="start a local cluster of N workers (2)")
    where.add_argument("--scheduler", help="join the cluster of this scheduler (tcp://host:8786)")
    parser.add_argument("--step", type=float, default=0.05, help="the time step (0.05)")
    parser.add_argument("--format", default="list", choices=sorted(ENDINGS), help="the result's format (list)")
    parser.add_argument("--out", required=True, help="the folder of the results")
    parser.add_argument("inputs", nargs="+", help="files, folders, or @FILE listing paths")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.out):
        parser.error(f"--out {args.out}: no such folder")
    problem = find_module()
    if problem:
        print(f"corpus.py: {problem}", file=sys.stderr)
        return 2
    files = inputs(args.inputs)
    stems = {}
    for f in files:  # two inputs that would write one file: refused before anything is done
        target = os.path.splitext(os.path.basename(f))[0]
        if target in stems:
            parser.error(f"{f} and {stems[target]} would both be written as {target}{ENDINGS[args.format]}")
        stems[target] = f

    from dask.distributed import Client, LocalCluster, as_completed

    began = time.monotonic()
    # Locally, the workers are threads of one process: the module releases the interpreter
    # lock while it reads, analyses, resamples and writes, so they run at once, and a cluster
    # of threads starts at once where one of processes takes a second or more.
    cluster = None if args.scheduler else LocalCluster(n_workers=1, threads_per_worker=args.workers,
                                                       processes=False, dashboard_address=None)
    started = time.monotonic()
    quiet()
    failed = 0
    try:
        with Client(args.scheduler or cluster) as client:
            futures = client.map(one, files, out=os.path.abspath(args.out), step=args.step, fmt=args.format, pure=False)
            which = {f.key: path for f, path in zip(futures, files)}
            for future in as_completed(futures):
                # A file whose run killed its worker (or the cluster lost) fails alone, named with
                # the reason; every other file is still waited for and counted.
                try:
                    error = future.result()
                except Exception as e:  # noqa: BLE001 - any failure of the cluster is the file's
                    error = f"{type(e).__name__}: {e}"
                if error is not None:
                    failed += 1
                    print(said(which[future.key], error), file=sys.stderr)
    finally:
        if cluster is not None:
            cluster.close()
    print(f"corpus.py: {len(files)} files: {len(files) - failed} done, {failed} failed, "
          f"in {time.monotonic() - began:.1f} s ({started - began:.1f} s to start the cluster)", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
