#!/usr/bin/env python3
"""Run clang-tidy's naming check over every translation unit of the build.

Usage: check_naming.py <source root> <build dir> [jobs]

Reads the compile database CMake exports, skips the files CMake generates
(moc output lives in the build tree), and runs clang-tidy-14 with only
readability-identifier-naming on each source in parallel.  Headers are
checked through the header filter of .clang-tidy, once per including unit;
repeated reports are printed once.  Exits 1 on any report, 2 when
clang-tidy itself cannot run.
"""

import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import time

DIAGNOSTIC = re.compile(r"^(/\S+?):(\d+):(\d+): (?:warning|error): (.*)$")


def tidy_binary():
    for name in ("clang-tidy-14", "clang-tidy"):
        path = shutil.which(name)
        if path:
            return path
    return None


def units(root, build):
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    root = os.path.realpath(root) + os.sep
    build = os.path.realpath(build) + os.sep
    files = set()
    for entry in entries:
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        if path.startswith(root) and not path.startswith(build):
            files.add(path)
    return sorted(files)


def check(tidy, build, path):
    # At the lowest priority: the pass runs beside the rest of the suite,
    # whose tests (a window on a real display) must not wait behind it.
    result = subprocess.run(
        ["nice", "-n", "19", tidy, "-p", build, "--quiet", "--checks=-*,readability-identifier-naming",
         "--extra-arg=-w", path],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=900)
    reports = []
    for line in result.stdout.splitlines():
        m = DIAGNOSTIC.match(line)
        if m:
            reports.append(line)
    # A unit that does not parse is a failure too: its names were not checked.
    if result.returncode != 0 and not reports:
        reports.append(f"{path}: clang-tidy failed:\n{result.stdout[-2000:]}")
    return reports


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    root, build = argv[0], argv[1]
    jobs = int(argv[2]) if len(argv) > 2 else (os.cpu_count() or 2)
    tidy = tidy_binary()
    if tidy is None:
        print("check_naming.py: clang-tidy-14 is not installed (scripts/setup.sh --tests)",
              file=sys.stderr)
        return 2
    files = units(root, build)
    if not files:
        print("check_naming.py: no translation units in the compile database", file=sys.stderr)
        return 2
    start = time.monotonic()
    reports = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for found in pool.map(lambda p: check(tidy, build, p), files):
            reports += found
    unique = sorted(set(reports))
    for line in unique:
        print(line)
    print(f"check_naming.py: {len(files)} units, {len(unique)} report(s), "
          f"{time.monotonic() - start:.0f} s with {jobs} jobs")
    return 1 if unique else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
