#!/usr/bin/env python3
"""soak.py: a mail merge of many generated records of random shapes, one file each, every file checked.

The records are JSON Lines of random shapes: flat objects and the data
file's shape, keys in random order, unread keys of every kind of value, text
with JSON escapes, characters from every plane, and a body from empty to
1 MiB (record 3 is empty, record 7 holds exactly 1 MiB, so that every run has
the same largest record). Every tenth record lacks a name the template reads,
so under --strict --keep-going it fails and writes no file. The merge runs
once at the small count and once at the large count, under GNU time; then
every file is compared with the letter Python makes of its record, the
status must be --strict's and the last line must count exactly the failures,
and the two peaks must lie within 10% of each other.

    python3 bench/soak.py --tool build-release/tools/moravel [--records 1000000]
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

TEMPLATE = "Record <FIELD>id</FIELD> for <FIELD>must</FIELD>:\n<FIELD>body</FIELD>\n-- end <FIELD>id</FIELD>\n"
STRICT_STATUS = 65
MIB = 1 << 20
ALPHABET = ("abcdefghijklmnopqrstuvwxyz ABCDEFGHIJ0123456789 \t\n\"\\/<>&;,'"
            "\u00e9\u00fc\u00df\u20ac\u2028\u4e2d\u6587\U0001F600\U0001D11E")


def text_of(r, length, pool):
    """length characters: slices of a pool of random text, so that 1 MiB costs little to make."""
    parts, left = [], length
    while left > 0:
        start = r.randrange(len(pool) - 1)
        piece = pool[start:start + left]
        parts.append(piece)
        left -= len(piece)
    return "".join(parts)


def body_length(r, n):
    if n == 3:
        return 0
    if n == 7:
        return MIB
    if r.random() < 0.001:
        return r.randint(64 * 1024, MIB)
    return int(r.expovariate(1 / 200))


def unread_value(r, pool):
    kind = r.randrange(6)
    return [None, True, False, r.randint(-10**6, 10**6), round(r.uniform(-1e3, 1e3), 3),
            text_of(r, r.randint(0, 40), pool)][kind]


def make_records(path, count, seed):
    r = random.Random(seed)
    pool = "".join(r.choice(ALPHABET) for _ in range(8192))
    with open(path, "w", encoding="utf-8", newline="") as f:
        for n in range(1, count + 1):
            fields = {"id": str(n), "body": text_of(r, body_length(r, n), pool)}
            if n % 10:
                fields["must"] = text_of(r, r.randint(1, 30), pool).replace("\n", " ")
            for k in range(r.randrange(4)):
                fields[f"extra{k}_{r.randrange(100)}"] = unread_value(r, pool)
            keys = list(fields)
            r.shuffle(keys)
            shaped = {k: fields[k] for k in keys}
            if r.random() < 0.2:
                shaped = {"variables": shaped}
            line = json.dumps(shaped, ensure_ascii=r.random() < 0.5)
            f.write(line + ("\r\n" if r.random() < 0.1 else "\n"))


def run_merge(tool, records, out_dir):
    peak_file = os.path.join(out_dir, "..", os.path.basename(out_dir) + ".peak")
    argv = ["/usr/bin/time", "-f", "%M", "-o", peak_file, tool, "expand", "-", "--each", records,
            "--each-format", "jsonl", "--strict", "--keep-going", "--quiet", "-o", os.path.join(out_dir, "{n}.txt")]
    start = time.perf_counter()
    done = subprocess.run(argv, input=TEMPLATE.encode(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    with open(peak_file) as f:
        peak = int(f.read().split()[-1]) * 1024
    return done.returncode, done.stderr.decode("utf-8", "replace"), wall, peak


def check(records, out_dir, status, stderr, count):
    problems = []
    failures = count // 10
    if status != STRICT_STATUS:
        problems.append(f"status {status}, expected {STRICT_STATUS}")
    last = stderr.rstrip("\n").split("\n")[-1]
    want_last = f"moravel: {count - failures} records expanded, {failures} failed"
    if last != want_last:
        problems.append(f"last line {last!r}, expected {want_last!r}")
    with open(records, encoding="utf-8", newline="") as f:
        for n, line in enumerate(f, 1):
            record = json.loads(line)
            values = record.get("variables", record)
            path = os.path.join(out_dir, f"{n}.txt")
            if "must" not in values:
                if os.path.exists(path):
                    problems.append(f"record {n} failed but its file exists")
                continue
            want = TEMPLATE.replace("<FIELD>id</FIELD>", values["id"]).replace(
                "<FIELD>must</FIELD>", values["must"]).replace("<FIELD>body</FIELD>", values["body"])
            try:
                with open(path, "rb") as g:
                    got = g.read()
            except OSError as e:
                problems.append(f"record {n}: {e}")
                continue
            if got != want.encode("utf-8"):
                problems.append(f"record {n}: the file differs from its record")
            if len(problems) > 20:
                break
    if len(os.listdir(out_dir)) != count - failures:
        problems.append(f"{len(os.listdir(out_dir))} files, expected {count - failures}")
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--tool", required=True)
    ap.add_argument("--records", type=int, default=1_000_000)
    ap.add_argument("--small", type=int, default=10_000)
    ap.add_argument("--seed", type=int, default=4242)
    ap.add_argument("--work", help="scratch directory (default: a new one in /tmp)")
    args = ap.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="moravel-soak-")
    ok = True
    peaks = {}
    try:
        for count in (args.small, args.records):
            records = os.path.join(work, f"records-{count}.jsonl")
            start = time.perf_counter()
            make_records(records, count, args.seed)
            made = time.perf_counter() - start
            out_dir = os.path.join(work, f"out-{count}")
            os.makedirs(out_dir)
            status, stderr, wall, peak = run_merge(args.tool, records, out_dir)
            start = time.perf_counter()
            problems = check(records, out_dir, status, stderr, count)
            checked = time.perf_counter() - start
            peaks[count] = peak
            print(f"{count:>9} records ({os.path.getsize(records) / MIB:,.0f} MiB): merge {wall:.1f} s, "
                  f"{count / wall:,.0f} records/s, peak {peak / MIB:.1f} MiB, status {status}; "
                  f"made in {made:.0f} s, checked in {checked:.0f} s: "
                  + ("every file as its record" if not problems else "; ".join(problems)))
            ok = ok and not problems
            shutil.rmtree(out_dir)
            os.remove(records)
        growth = peaks[args.records] / peaks[args.small]
        print(f"peak at {args.records:,} records / peak at {args.small:,}: {growth:.3f}")
        if growth > 1.10:
            print("the peak grew by more than 10%")
            ok = False
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
