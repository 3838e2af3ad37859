#!/usr/bin/env python3
"""Fail when a source file names something with a Hungarian prefix or a C class prefix.

clang-tidy 14 checks the case of every name but cannot forbid a prefix, so
this check reads the code tokens (comments and literals are skipped, since a
stored name may be quoted there) of every .h/.cpp file under the source
folders and reports identifiers such as iState, bLock, hSocket, dwFlags or a
class declared as CMainFrame.  Usage: check_prefixes.py [root]
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rename import IDENT, SOURCE_DIRS, source_files  # noqa: E402

# A lower-case type letter (or dw, sz, lp) glued to a capitalised word; a
# trailing underscore of a private member does not hide it.
HUNGARIAN = re.compile(r"(?:dw|sz|lp|[ibhdpfln])[A-Z]\w*")
C_CLASS = re.compile(r"\b(?:class|struct)\s+(C[A-Z][a-z]\w*)")
# Names owned by outside libraries that the code has to spell their way.
OUTSIDE_NAMES = set()


def code_only(text):
    """Text with comments and literals blanked, line breaks kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif c in "\"'" and not (i > 0 and text[i - 1].isalnum() and c == "'"):
            raw = re.match(r"R\"([^()\\ \t\n]{0,16})\(", text[i - 1 : i + 20]) if i else None
            if raw:
                close = ")" + raw.group(1) + '"'
                end = text.find(close, i)
                end = n if end < 0 else end + len(close)
            else:
                end = i + 1
                while end < n and text[end] != c and text[end] != "\n":
                    end += 2 if text[end] == "\\" else 1
                end += 1
        else:
            out.append(c)
            i += 1
            continue
        out.append("".join(ch if ch == "\n" else " " for ch in text[i:end]))
        i = end
    return "".join(out)


def problems(path, text):
    code = code_only(text)
    found = []
    for number, line in enumerate(code.split("\n"), 1):
        for m in IDENT.finditer(line):
            word = m.group()
            if HUNGARIAN.fullmatch(word) and word not in OUTSIDE_NAMES:
                found.append(f"{path}:{number}: Hungarian prefix in '{word}'")
        for m in C_CLASS.finditer(line):
            found.append(f"{path}:{number}: class '{m.group(1)}' has a C prefix")
    return found


def main(argv):
    root = argv[0] if argv else os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))))
    found = []
    for path in source_files(root):
        with open(path, encoding="utf-8") as f:
            found += problems(os.path.relpath(path, root), f.read())
    for line in found:
        print(line)
    print(f"check_prefixes.py: {len(found)} name(s) with a forbidden prefix")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
