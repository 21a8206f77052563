#!/usr/bin/env python3
"""Lines of src/ that no test executes, with the mutation sites on them.

A fault planted on a line no test runs always survives, so these lines are where the mutation
sampler's survivors come from before any other: a list in minutes, where a sample of 40
mutants takes most of an hour.  Builds the Linux tree with gcc's coverage instrumentation in
BUILD (default build-coverage), runs the test suite there (the Win32 layer's test excepted: it
runs another build), and prints per file the never-executed lines that carry a mutation site.

Usage: scripts/uncovered.py [--build DIR] [--sampler PATH] [--no-run]
  --sampler  the mutation sampler whose sites are counted (default ../shared/tools/mutants.py;
             without it every never-executed line is listed)
  --no-run   read the counters an earlier run left in BUILD
"""
import argparse
import collections
import importlib.util
import json
import os
import subprocess
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
ap.add_argument("--build", default=os.path.join(root, "build-coverage"))
ap.add_argument("--sampler", default=os.path.join(root, "..", "shared", "tools", "mutants.py"))
ap.add_argument("--no-run", action="store_true")
a = ap.parse_args()

if not a.no_run:
    flags = "--coverage -O0"
    subprocess.check_call(["cmake", "-S", root, "-B", a.build, "-G", "Ninja",
                           "-DKORVEL_BUILD_BENCH=OFF", "-DKORVEL_BUILD_QT=OFF",
                           "-DKORVEL_WINDOWS_TESTS=OFF", f"-DCMAKE_CXX_FLAGS={flags}",
                           f"-DCMAKE_C_FLAGS={flags}", "-DCMAKE_EXE_LINKER_FLAGS=--coverage"],
                          stdout=subprocess.DEVNULL)
    subprocess.check_call(["cmake", "--build", a.build, "-j", str(os.cpu_count() or 2)])
    subprocess.run(f"find {a.build} -name '*.gcda' -delete", shell=True, check=True)
    # Failures are reported, but the counters of a failing suite still say what ran.
    subprocess.run(["ctest", "--test-dir", a.build, "-j", str(os.cpu_count() or 2),
                    "--timeout", "300"], stdout=subprocess.DEVNULL)

# Executions per (file, line) of src/, the most any object file saw.
runs = collections.defaultdict(int)
gcdas = subprocess.check_output(["find", a.build, "-name", "*.gcda"]).decode().split()
for g in gcdas:
    out = subprocess.run(["gcov", "--json-format", "--stdout", "-o", os.path.dirname(g), g],
                         capture_output=True, cwd=a.build).stdout.decode(errors="replace")
    for doc in out.splitlines():
        if not doc.startswith("{"):
            continue
        d = json.loads(doc)
        for f in d["files"]:
            path = os.path.realpath(os.path.join(d.get("current_working_directory", ""), f["file"]))
            rel = os.path.relpath(path, root)
            if rel.startswith("src/"):
                for line in f["lines"]:
                    key = (rel, line["line_number"])
                    runs[key] = max(runs[key], line["count"])
if not runs:
    sys.exit(f"no coverage counters in {a.build}: run without --no-run first")

never = {k for k, n in runs.items() if n == 0}
marks = collections.defaultdict(list)  # (file, line) -> operators
if os.path.exists(a.sampler):
    found = importlib.util.spec_from_file_location("mutants", a.sampler)
    sampler = importlib.util.module_from_spec(found)
    found.loader.exec_module(sampler)
    everywhere = sampler.sites(root, ["src"])
    for rel, i, _, _, _, name in everywhere:
        if (rel, i + 1) in never:
            marks[(rel, i + 1)].append(name)
    counted = [s for s in everywhere if (s[0], s[1] + 1) in runs]
    print(f"{sum(map(len, marks.values()))} of {len(counted)} mutation sites on lines the "
          f"Linux build compiles lie on lines no test executes")
else:
    for key in never:
        marks[key] = []
    print(f"{len(never)} of {len(runs)} executable lines of src/ are never executed")

for rel in sorted({r for r, _ in marks}):
    lines = sorted(n for r, n in marks if r == rel)
    print(f"\n{rel}")
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as fh:
        text = fh.read().split("\n")
    for n in lines:
        ops = ", ".join(marks[(rel, n)])
        print(f"  {n:5d}  {text[n - 1].strip()[:80]}" + (f"   [{ops}]" if ops else ""))
