#!/usr/bin/env python3
"""doc_examples.py: runs every example of the given Markdown pages with the moravel tool and compares the results.

An example is a run of fenced blocks, named by their info strings:

  ```template [OPTIONS]   the template; OPTIONS are those of `moravel expand`
  ```values               a data file (JSON), optional
  ```file NAME [ENC]      a file of the files directory $FILES, optional and
                          repeatable; ENC: utf-8 (default), utf-8-bom,
                          latin-1, utf-16le-bom, utf-16be-bom, utf-16le
  ```result               the expected standard output
  ```stderr [STATUS]      the expected standard error and exit status, when
                          they are not empty and 0

A block's text is what stands between its fences without the last line
break. The example runs in the Unicode build and, unless OPTIONS name a
build with --build, in the 8-bit build too, with its texts in ISO 8859-1 (an
example whose texts are not must name the Unicode build). `$FILES` stands
for the files directory in OPTIONS, the template, the values and the
expected standard error.

  ```console              `$ ` lines are commands, run by bash in a scratch
                          directory that sees the repository's examples/;
                          `moravel` and build-demo/tools/moravel name the tool
                          built; the other lines are the expected standard
                          output (blank lines before the next command aside)

Any difference fails; so does a page without examples.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\S*)(.*)$")


def blocks(path):
    """(line, kind, args, text) of each fenced block of the page."""
    out, kind, args, start, lines = [], None, "", 0, []
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f.read().split("\n"), 1):
            if kind is None:
                m = FENCE.match(line)
                if m:
                    kind, args, start, lines = m.group(1), m.group(2).strip(), n, []
            elif line == "```":
                out.append((start, kind, args, "\n".join(lines)))
                kind = None
            else:
                lines.append(line)
    if kind is not None:
        sys.exit(f"{path}:{start}: a block is not closed")
    return out


def examples(path):
    current = None
    for line, kind, args, text in blocks(path):
        if kind == "template":
            if current:
                yield current
            current = {"line": line, "options": args, "template": text, "files": [], "values": None,
                       "result": None, "stderr": None, "status": 0}
        elif kind in ("values", "file", "result", "stderr"):
            if not current:
                sys.exit(f"{path}:{line}: a {kind} block outside an example")
            if kind == "values":
                current["values"] = text
            elif kind == "file":
                parts = args.split()
                current["files"].append((parts[0], parts[1] if len(parts) > 1 else "utf-8", text))
            elif kind == "result":
                current["result"] = text
            else:
                current["stderr"] = text
                current["status"] = int(args or "0")
        elif kind == "console":
            if current:
                yield current
                current = None
            yield {"line": line, "console": text}
    if current:
        yield current


ENCODINGS = {"utf-8": ("utf-8", b""), "utf-8-bom": ("utf-8", b"\xef\xbb\xbf"), "latin-1": ("latin-1", b""),
             "utf-16le-bom": ("utf-16-le", b"\xff\xfe"), "utf-16be-bom": ("utf-16-be", b"\xfe\xff"),
             "utf-16le": ("utf-16-le", b"")}


def run_example(tool, ex, build, scratch):
    """What differs from the expected, as text; '' when nothing does."""
    eight = build == "8bit"
    enc = "latin-1" if eight else "utf-8"
    files = os.path.join(scratch, "files")
    shutil.rmtree(files, ignore_errors=True)
    os.makedirs(files)
    for name, how, text in ex["files"]:
        codec, mark = ENCODINGS[how]
        if how == "utf-8" and eight:
            codec = "latin-1"
        p = os.path.join(files, name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(mark + text.encode(codec))
    args = [tool, "expand", "-"]
    if ex["values"] is not None:
        json.loads(ex["values"])  # a page's data file must be JSON
        with open(os.path.join(scratch, "values.json"), "wb") as f:
            f.write(ex["values"].replace("$FILES", files).encode("utf-8"))  # JSON is UTF-8 in both builds
        args += ["--data", os.path.join(scratch, "values.json")]
    options = ex["options"].replace("$FILES", files)
    args += [o for o in re.findall(r"'[^']*'|\S+", options)]
    args = [a[1:-1] if len(a) > 1 and a[0] == "'" == a[-1] else a for a in args]
    if "--build" not in args:
        args += ["--build", build]
    templ = ex["template"].replace("$FILES", files)
    p = subprocess.run(args, input=templ.encode(enc), capture_output=True, cwd=scratch)
    out = p.stdout.decode(enc, errors="replace")
    err = p.stderr.decode("utf-8", errors="replace").replace(files, "$FILES")
    want_out = ex["result"] if ex["result"] is not None else ""
    want_err = ex["stderr"] + "\n" if ex["stderr"] is not None else ""
    problems = []
    if p.returncode != ex["status"]:
        problems.append(f"exit status {p.returncode}, expected {ex['status']}")
    if out != want_out:
        problems.append(f"standard output:\n{out!r}\nexpected:\n{want_out!r}")
    if err != want_err:
        problems.append(f"standard error:\n{err!r}\nexpected:\n{want_err!r}")
    return "\n".join(problems)


def run_console(tool, root, ex, scratch):
    commands, expected = [], []
    for line in ex["console"].split("\n"):
        if line.startswith("$ "):
            commands.append([line[2:], []])
        elif commands and commands[-1][0].endswith("\\"):
            commands[-1][0] = commands[-1][0][:-1] + " " + line.strip()
        elif commands:
            commands[-1][1].append(line)
        else:
            return "output before the first command"
    work = os.path.join(scratch, "console")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.symlink(os.path.join(root, "examples"), os.path.join(work, "examples"))
    problems = []
    for command, want in commands:
        cmd = re.sub(r"(^|\|\s*)(build-demo/tools/)?moravel(?=\s)", lambda m: m.group(1) + "\"$MORAVEL\"", command)
        p = subprocess.run(["bash", "-c", cmd], capture_output=True, cwd=work,
                           env=dict(os.environ, MORAVEL=tool))
        out = p.stdout.decode("utf-8", errors="replace")
        while want and want[-1] == "":  # a blank line before the next command separates them
            want.pop()
        want_out = "\n".join(want) + "\n" if want else ""
        if p.returncode != 0:
            problems.append(f"$ {command}\nexit status {p.returncode}: {p.stderr.decode(errors='replace')}")
        elif out != want_out:
            problems.append(f"$ {command}\nstandard output:\n{out!r}\nexpected:\n{want_out!r}")
    return "\n".join(problems)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--root", required=True)
    ap.add_argument("pages", nargs="+")
    a = ap.parse_args()
    a.root, a.tool = os.path.abspath(a.root), os.path.abspath(a.tool)
    failed = runs = 0
    with tempfile.TemporaryDirectory(prefix="moravel-docs-") as scratch:
        for page in a.pages:
            path = os.path.join(a.root, page)
            found = 0
            for ex in examples(path):
                found += 1
                if "console" in ex:
                    builds, why = ["console"], run_console(a.tool, a.root, ex, scratch)
                    runs += 1
                    if why:
                        failed += 1
                        print(f"{page}:{ex['line']}: FAILED\n{why}\n")
                    continue
                named = re.search(r"--build\s+(\S+)", ex["options"])
                builds = [named.group(1)] if named else ["unicode", "8bit"]
                if not named:
                    for text in [ex["template"], ex["values"] or "", ex["result"] or ""] + \
                            [t for _, how, t in ex["files"] if how == "utf-8"]:
                        try:
                            text.encode("latin-1")
                        except UnicodeEncodeError:
                            failed += 1
                            print(f"{page}:{ex['line']}: FAILED: a text beyond ISO 8859-1 needs --build unicode\n")
                            builds = []
                            break
                for build in builds:
                    runs += 1
                    why = run_example(a.tool, ex, build, scratch)
                    if why:
                        failed += 1
                        print(f"{page}:{ex['line']}: FAILED in the {build} build\n{why}\n")
            if not found:
                failed += 1
                print(f"{page}: FAILED: no examples")
    print(f"{runs} runs of the pages' examples, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
