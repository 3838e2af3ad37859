#!/usr/bin/env python3
"""Each folder includes only the folders its CMake target may use.

A folder's target may use itself, what it links directly (PUBLIC or PRIVATE)
and what those targets pass on through PUBLIC links. The links are read from
the CMakeLists.txt files, so the rule a reader finds in CMake is the rule the
code keeps: a new include across layers needs a visible link first.
"""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent.parent)

# Library target -> the folder (include prefix) its sources live in.
folders = {}
links = {}  # target -> {"PUBLIC": set, "PRIVATE": set}
link_re = re.compile(r"target_link_libraries\(\s*(\w[\w-]*)(.*?)\)", re.S)
lib_re = re.compile(r"add_library\(\s*(vardane_\w+)\s+STATIC")
exe_re = re.compile(r"add_executable\(\s*([\w-]+)(.*?)\)", re.S)
# Sources of an executable (a program's main) are checked against the
# executable's own links, not the folder library's.
executables = {}  # target -> (folder, [source file names])

for cmake in list(root.glob("*/CMakeLists.txt")) + list(root.glob("*/*/CMakeLists.txt")):
    rel = cmake.parent.relative_to(root).as_posix()
    if rel.split("/")[0] in ("tests", "fuzz", "bench", "build") or rel.startswith("build"):
        continue
    text = re.sub(r"#.*", "", cmake.read_text())
    for m in lib_re.finditer(text):
        folders[m.group(1)] = rel
    for m in exe_re.finditer(text):
        executables[m.group(1)] = (rel, [w for w in m.group(2).split() if "." in w])
    for m in link_re.finditer(text):
        target, body = m.group(1), m.group(2).split()
        scope = "PRIVATE"
        entry = links.setdefault(target, {"PUBLIC": set(), "PRIVATE": set()})
        for word in body:
            if word in ("PUBLIC", "PRIVATE", "INTERFACE"):
                scope = "PUBLIC" if word != "PRIVATE" else "PRIVATE"
            elif word.startswith("vardane_"):
                entry[scope].add(word)


def public_closure(target, seen=None):
    seen = set() if seen is None else seen
    for dep in links.get(target, {}).get("PUBLIC", ()):
        if dep not in seen:
            seen.add(dep)
            public_closure(dep, seen)
    return seen


# gui/dialogs is a target of its own; the prefix is matched before gui/.
include_re = re.compile(r'^\s*#\s*include\s*"(gui/dialogs|[a-z_]+)/', re.M)
project_folders = set(folders.values())
failures = []


def check(target, files, folder_of_target):
    usable = {target}
    for dep in links.get(target, {}).get("PUBLIC", set()) | links.get(target, {}).get(
        "PRIVATE", set()
    ):
        usable |= {dep} | public_closure(dep)
    allowed = {folders[t] for t in usable if t in folders} | {folder_of_target}
    for src in files:
        for inc in include_re.findall(src.read_text(errors="replace")):
            if inc in project_folders and inc not in allowed:
                failures.append(f"{src.relative_to(root)} includes {inc}/ (target {target} may use: "
                                f"{', '.join(sorted(allowed))})")


program_sources = {
    (root / folder / name).resolve() for folder, names in executables.values() for name in names
}
for target, folder in sorted(folders.items()):
    sources = [
        src for src in sorted((root / folder).glob("*.[ch]*")) if src.resolve() not in program_sources
    ]
    check(target, sources, folder)
for target, (folder, names) in sorted(executables.items()):
    check(target, [root / folder / name for name in names if (root / folder / name).exists()], folder)

if not folders:
    print("layer include check: found no library targets")
    sys.exit(2)
if failures:
    print("Includes that cross a layer the CMake targets do not link:")
    print("\n".join(failures))
    print(f"layer include check: 0 passed, {len(failures)} failed")
    sys.exit(1)
print(f"layer include check: {len(folders)} passed, 0 failed")
