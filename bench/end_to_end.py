#!/usr/bin/env python3
"""end_to_end.py: `moravel expand` of generated pages in both builds, beside a Python re.sub one-liner.

For each page size a page and its data file are generated (moravel_bench_page,
random names and values from the seed). Each command runs several times as a
process of its own; the table gives the best wall time and the peak resident
memory of the process, also per byte of the page. Every output must be the
same as the one-liner's, or the run fails.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# The same substitution in one line of Python: each tag replaced by its field's value.
PYTHON_ONE_LINER = (
    "import re,json,sys;"
    "d=json.load(open(sys.argv[2]))['variables'];"
    "sys.stdout.write(re.sub(r'<FIELD>(.*?)</FIELD>',lambda m:d.get(m.group(1),''),"
    "open(sys.argv[1],encoding='utf-8').read()))"
)


def run_once(argv, out_path):
    """Runs argv with its standard output in out_path; (wall seconds, peak RSS bytes).

    The peak comes from GNU time, a small process: the high-water mark a
    process reports also counts the image it replaced when it started, which
    for a child forked from this script would be the script's own memory.
    """
    peak_file = out_path + ".peak"
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        status = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv, stdout=out)
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"end_to_end: {' '.join(argv)} failed with status {status}")
    with open(peak_file) as f:
        kilobytes = int(f.read().split()[-1])
    return wall, kilobytes * 1024


def same_file(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True, help="the moravel executable")
    ap.add_argument("--page-maker", required=True, help="the moravel_bench_page executable")
    ap.add_argument("--python", default=sys.executable, help="the Python that runs the one-liner")
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--sizes", default="1,10,100", help="page sizes in MB (10^6 bytes)")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="moravel_e2e_")
    rows = []
    try:
        for mb in [int(x) for x in args.sizes.split(",")]:
            page, data = os.path.join(work, "page.html"), os.path.join(work, "data.json")
            subprocess.run([args.page_maker, str(mb * 10**6), str(args.seed + mb), page, data], check=True)
            size = os.path.getsize(page)
            commands = [
                ("python re.sub", [args.python, "-c", PYTHON_ONE_LINER, page, data]),
                ("moravel 8-bit", [args.tool, "expand", page, "--data", data, "--build", "8bit"]),
                ("moravel Unicode", [args.tool, "expand", page, "--data", data, "--build", "unicode"]),
            ]
            reference = os.path.join(work, "reference.out")
            best = {}
            for i in range(args.runs):  # interleaved, so that a busy spell hits all alike
                for name, argv in commands:
                    out = reference if name.startswith("python") else os.path.join(work, "moravel.out")
                    wall, rss = run_once(argv, out)
                    if out != reference and not same_file(out, reference):
                        sys.exit(f"end_to_end: {name} on the {mb} MB page differs from the one-liner's output")
                    w, r = best.get(name, (float("inf"), 0))
                    best[name] = (min(w, wall), max(r, rss))
                    print(f"  {mb} MB {name} run {i + 1}: {wall:.3f} s, {rss / 2**20:.0f} MiB", file=sys.stderr)
            py_wall = best["python re.sub"][0]
            for name, _ in commands:
                wall, rss = best[name]
                rows.append((mb, size, name, wall, rss, py_wall))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"\nmoravel expand end to end (best wall time of {args.runs} runs, peak resident memory of the process;"
          f" names and values from seed {args.seed})")
    print(f"{'page':>8} {'command':<16} {'wall s':>8} {'peak MiB':>9} {'peak/byte':>10} {'vs python':>10}")
    for mb, size, name, wall, rss, py_wall in rows:
        ratio = "" if name.startswith("python") else f"{py_wall / wall:.2f}x"
        print(f"{mb:>5} MB {name:<16} {wall:>8.3f} {rss / 2**20:>9.1f} {rss / size:>10.2f} {ratio:>10}")
    print("vs python: the one-liner's time over the command's (above 1: moravel is faster).")


if __name__ == "__main__":
    main()
