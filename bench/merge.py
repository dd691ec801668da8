#!/usr/bin/env python3
"""merge.py: `moravel expand --each` of a letter with 20 fields over many records, beside a Python loop.

A letter of about 2,000 characters with 20 fields and JSON Lines records of
its 20 values are generated from the seed. The same mail merge runs as one
moravel process (both builds) and as a Python loop that reads the records and
substitutes each letter with re.sub, writing to standard output and to one
file per record. The outputs must agree; the table gives the best wall time
of the runs and the peak resident memory, at two record counts, so that a
peak that grew with the records would show, and at the first count the
system calls (strace -c) and minor page faults (GNU time) per record, start-up
included. Each run writes its files into a directory of its own, and none is
removed before the end: a file system that has just freed many files makes
the next run that creates files pay for it, whichever run that is.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import run_once  # noqa: E402  (the same timing, with GNU time's peak memory)

PYTHON_LOOP = r"""
import json, os, re, sys
letter = open(sys.argv[1], encoding='utf-8').read()
pattern = re.compile(r'<FIELD>(.*?)</FIELD>')
to_files = len(sys.argv) > 3
out = None if to_files else sys.stdout
for n, line in enumerate(open(sys.argv[2], encoding='utf-8'), 1):
    if not line.strip():
        continue
    d = json.loads(line)['variables']
    text = pattern.sub(lambda m: d.get(m.group(1), ''), letter)
    if to_files:
        with open(os.path.join(sys.argv[3], '%05d.txt' % n), 'w', encoding='utf-8') as f:
            f.write(text)
    else:
        out.write(text)
"""

WORDS = ("order parcel invoice dear customer shipping today tomorrow warehouse address street "
         "payment received thank you kind regards total amount item price quantity").split()


def make_letter(r, names):
    parts = []
    for name in names:
        parts.append(" ".join(r.choice(WORDS) for _ in range(r.randint(10, 20))))
        parts.append(f" <FIELD>{name}</FIELD> ")
    parts.append("\n")
    return "".join(parts)


def make_records(r, names, count, path):
    import json
    with open(path, "w", encoding="utf-8") as f:
        for _ in range(count):
            values = {n: " ".join(r.choice(WORDS) for _ in range(r.randint(1, 4))) for n in names}
            f.write(json.dumps({"variables": values}) + "\n")


def same_files(a, b, count):
    for n in sorted({1, 2, count // 2, count}):
        name = f"{n:05d}.txt"
        with open(os.path.join(a, name), "rb") as x, open(os.path.join(b, name), "rb") as y:
            if x.read() != y.read():
                return False
    return len(os.listdir(a)) == len(os.listdir(b)) == count


def per_record(argv, count, out):
    """(system calls, minor page faults) per record of one run of argv."""
    trace = out + ".strace"
    with open(out, "wb") as o:
        subprocess.check_call(["strace", "-f", "-c", "-o", trace] + argv, stdout=o)
    calls = 0
    with open(trace) as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 5 and fields[-1] == "total":
                calls = int(fields[3])
    faults = out + ".faults"
    with open(out, "wb") as o:
        subprocess.check_call(["/usr/bin/time", "-f", "%R", "-o", faults] + argv, stdout=o)
    with open(faults) as f:
        minor = int(f.read().split()[-1])
    return calls / count, minor / count


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--before", help="another build of the tool, run in turn with --tool (a before/after table)")
    ap.add_argument("--python", default=sys.executable)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--counts", default="10000,100000", help="record counts")
    ap.add_argument("--runs", type=int, default=2)
    args = ap.parse_args()

    r = random.Random(args.seed)
    names = [f"f{i}" for i in range(20)]
    work = tempfile.mkdtemp(prefix="moravel_merge_")
    rows = []
    try:
        letter = os.path.join(work, "letter.txt")
        with open(letter, "w", encoding="utf-8") as f:
            f.write(make_letter(r, names))
        counts = [int(c) for c in args.counts.split(",")]
        first = counts[0]
        for count in counts:
            records = os.path.join(work, "records.jsonl")
            make_records(r, names, count, records)
            for target in ("stdout", "files"):
                commands = [("python loop", [args.python, "-c", PYTHON_LOOP, letter, records])]
                for build in ("8bit", "unicode"):
                    for label, tool in (("before ", args.before), ("", args.tool)):
                        if tool:
                            commands.append((f"{label}moravel {build}", [tool, "expand", letter, "--each", records,
                                                                         "--build", build, "--quiet"]))
                best = {}
                costs = {}
                for i in range(args.runs + (1 if count == first else 0)):
                    for k, (name, argv) in enumerate(commands):
                        out = os.path.join(work, "python.out" if name.startswith("python") else "moravel.out")
                        files = os.path.join(work, f"{target}-{count}-{i}-{k}")
                        argv = list(argv)
                        if target == "files":
                            os.makedirs(files)
                            argv += [files] if name.startswith("python") else ["-o", os.path.join(files, "{n:05}.txt")]
                        if i == args.runs:
                            costs[name] = per_record(argv, count, out)
                            continue
                        wall, rss = run_once(argv, out)
                        if not name.startswith("python"):
                            same = (same_files(os.path.join(work, f"{target}-{count}-{i}-0"), files, count)
                                    if target == "files"
                                    else open(out, "rb").read() == open(os.path.join(work, "python.out"), "rb").read())
                            if not same:
                                sys.exit(f"merge: {name} differs from the Python loop ({count} records, {target})")
                        w, m = best.get(name, (float("inf"), 0))
                        best[name] = (min(w, wall), max(m, rss))
                        print(f"  {count} records to {target}, {name} run {i + 1}: {wall:.2f} s", file=sys.stderr)
                for name, _ in commands:
                    rows.append((count, target, name, best[name][0], best[name][1], best["python loop"][0],
                                 costs.get(name)))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"\nmail merge: a letter with 20 fields, one record a letter (best of {args.runs} runs; seed {args.seed})")
    print(f"{'records':>8} {'to':<7} {'command':<22} {'wall s':>8} {'peak MiB':>9} {'vs python':>10}"
          f" {'calls/rec':>10} {'minflt/rec':>11}")
    for count, target, name, wall, rss, py, cost in rows:
        ratio = "" if name.startswith("python") else f"{py / wall:.2f}x"
        calls, minor = (f"{cost[0]:.2f}", f"{cost[1]:.2f}") if cost else ("", "")
        print(f"{count:>8} {target:<7} {name:<22} {wall:>8.2f} {rss / 2**20:>9.1f} {ratio:>10} {calls:>10} {minor:>11}")
    print("vs python: the loop's time over the command's (above 1: moravel is faster).")
    print("calls/rec, minflt/rec: system calls and minor page faults of a whole run over its records.")


if __name__ == "__main__":
    main()
