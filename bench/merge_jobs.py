#!/usr/bin/env python3
"""merge_jobs.py: `moravel expand --each --jobs N` against --jobs 1, and --jobs 1 against an earlier build, as ratios.

The letter and the records are those of bench/merge.py (20 fields, JSON Lines,
from the seed). Every figure is a ratio of runs taken in turn within this one
run, so that a busy machine slows both sides alike:

  1. 100,000 letters to standard output, --jobs 2 against --jobs 1, both builds;
  2. 100,000 letters, one file each, --jobs 2 against --jobs 1 (Unicode build);
  3. --jobs 1 of this build against --before (the tool before --jobs), both builds;
  4. the peak memory of --jobs 2 at 100,000 records over the same at 10,000;
  5. where the time goes in a --jobs 2 run: the CPU time of the reading and
     writing process and of its workers, over the wall time, from which the
     speed-up with more cores is bounded.

Each side's time is the median of --runs runs; outputs are compared with --jobs 1.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import run_once  # noqa: E402  (wall time and GNU time's peak memory)
from merge import make_letter, make_records  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")


def cpu_shares(argv, out_path):
    """(wall, own CPU, workers' CPU) of one run: read from the process's /proc entry once it has ended, before it is reaped."""
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        p = subprocess.Popen(argv, stdout=out)
        stat = f"/proc/{p.pid}/stat"
        while True:
            with open(stat) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if fields[0] == "Z":
                break
            time.sleep(0.001)
        wall = time.perf_counter() - start
        if p.wait() != 0:
            sys.exit(f"merge_jobs: {' '.join(argv)} failed")
    utime, stime, cutime, cstime = (int(x) / TICK for x in fields[11:15])
    return wall, utime + stime, cutime + cstime


def median_walls(commands, runs, work, reference=None):
    """Runs each (name, argv, target) in turn, `runs` rounds; the median wall and the largest peak of each."""
    walls = {name: [] for name, _, _ in commands}
    peaks = {name: 0 for name, _, _ in commands}
    for i in range(runs):
        for k, (name, argv, target) in enumerate(commands):
            out = os.path.join(work, f"out-{k}")
            argv = list(argv)
            if target == "files":
                files = os.path.join(work, f"files-{i}-{k}")
                os.makedirs(files)
                argv += ["-o", os.path.join(files, "{n:06}.txt")]
            wall, rss = run_once(argv, out)
            walls[name].append(wall)
            peaks[name] = max(peaks[name], rss)
            if target == "stdout" and reference and not same(out, reference):
                sys.exit(f"merge_jobs: {name} differs from --jobs 1")
            print(f"  {name} run {i + 1}: {wall:.3f} s", file=sys.stderr)
    return {n: statistics.median(w) for n, w in walls.items()}, peaks


def same(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()


def same_tree(a, b):
    names = sorted(os.listdir(a))
    return names == sorted(os.listdir(b)) and all(same(os.path.join(a, n), os.path.join(b, n)) for n in names)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--before", help="the tool before --jobs, for its --jobs 1 ratio")
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--records", type=int, default=100000)
    ap.add_argument("--small", type=int, default=10000, help="the record count the peak memory is compared with")
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()

    r = random.Random(args.seed)
    names = [f"f{i}" for i in range(20)]
    work = tempfile.mkdtemp(prefix="moravel_jobs_")
    rows = []
    try:
        letter = os.path.join(work, "letter.txt")
        with open(letter, "w", encoding="utf-8") as f:
            f.write(make_letter(r, names))
        big, small = os.path.join(work, "big.jsonl"), os.path.join(work, "small.jsonl")
        make_records(r, names, args.records, big)
        make_records(r, names, args.small, small)

        def cmd(tool, build, records, jobs):
            argv = [tool, "expand", letter, "--each", records, "--build", build, "--quiet"]
            return argv + (["--jobs", str(jobs)] if jobs else [])

        for build in ("8bit", "unicode"):
            reference = os.path.join(work, f"reference-{build}")
            subprocess.check_call(cmd(args.tool, build, big, 1), stdout=open(reference, "wb"))
            commands = [(f"{build} --jobs 1", cmd(args.tool, build, big, 1), "stdout"),
                        (f"{build} --jobs 2", cmd(args.tool, build, big, 2), "stdout")]
            if args.before:
                commands.append((f"{build} before", cmd(args.before, build, big, 0), "stdout"))
            med, _ = median_walls(commands, args.runs, work, reference)
            rows.append((f"{args.records} letters to standard output, {build}: --jobs 2 over --jobs 1",
                         med[f"{build} --jobs 1"] / med[f"{build} --jobs 2"], ">= 1.7x"))
            if args.before:
                rows.append((f"{args.records} letters to standard output, {build}: --jobs 1 over the tool before",
                             med[f"{build} before"] / med[f"{build} --jobs 1"], ">= 1.00x (no slower)"))

        files = [("files --jobs 1", cmd(args.tool, "unicode", big, 1), "files"),
                 ("files --jobs 2", cmd(args.tool, "unicode", big, 2), "files")]
        med, _ = median_walls(files, max(2, args.runs // 2), work)
        if not same_tree(os.path.join(work, "files-0-0"), os.path.join(work, "files-0-1")):
            sys.exit("merge_jobs: the files of --jobs 2 differ from those of --jobs 1")
        rows.append((f"{args.records} letters, one file each, unicode: --jobs 2 over --jobs 1",
                     med["files --jobs 1"] / med["files --jobs 2"], ">= 1.5x"))
        for entry in os.listdir(work):
            if entry.startswith("files-"):
                shutil.rmtree(os.path.join(work, entry))

        peaks = [(f"{n} records", cmd(args.tool, "unicode", rec, 2), "stdout") for n, rec in
                 ((args.small, small), (args.records, big))]
        _, peak = median_walls(peaks, 2, work)
        rows.append((f"peak memory of --jobs 2, unicode: {args.records} records over {args.small}",
                     peak[f"{args.records} records"] / peak[f"{args.small} records"], "within 1.10x"))
        mib = {n: p / 2**20 for n, p in peak.items()}

        shares = []
        for build in ("8bit", "unicode"):
            for jobs in (1, 2):
                wall, own, workers = cpu_shares(cmd(args.tool, build, big, jobs), os.path.join(work, "share.out"))
                shares.append((build, jobs, wall, own, workers))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"\nmail merge in worker processes: a letter with 20 fields (median of {args.runs} runs in turn; "
          f"seed {args.seed}; {os.cpu_count()} CPUs)")
    for what, ratio, target in rows:
        print(f"  {what:<78} {ratio:6.2f}x  (target {target})")
    print("  peak memory (largest process, GNU time): " + ", ".join(f"{n} {v:.1f} MiB" for n, v in mib.items()))
    print(f"\nwhere the time goes ({args.records} letters to standard output, one run each):")
    print(f"  {'build':<8} {'jobs':>4} {'wall s':>7} {'reader/writer CPU s':>20} {'workers CPU s':>14}"
          f" {'reader/writer share of a core':>30}")
    for build, jobs, wall, own, workers in shares:
        print(f"  {build:<8} {jobs:>4} {wall:>7.2f} {own:>20.2f} {workers:>14.2f} {own / wall:>29.0%}")
    print("  with --jobs 1 the one process does everything; with --jobs N the process that reads the records and"
          " writes the letters\n  bounds the speed-up at (its CPU + the workers' CPU) / its CPU, whatever the cores.")


if __name__ == "__main__":
    main()
