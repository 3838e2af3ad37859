#!/usr/bin/env python3
"""Apply the rename map (renames.txt beside this file) to the C++ sources.

Each map line is `Old New` (every file) or `path:Old New` (only files whose
path, relative to the repository root, equals `path` or starts with it when
it ends in '/').  A rule matches whole identifier tokens.  String and
character literals (raw strings included) are never touched, so stored names
spelled in quotes keep their spelling.  In comments only tokens that cannot be
plain English words (they hold a capital, a digit or an underscore) are
renamed, so a rule for a lower-case member does not rewrite prose.

The map is checked before anything is written: a new name may not be the old
name of another rule that applies to the same files, which keeps a second run
a no-op.  Usage: rename.py [--check] [root]; --check writes nothing and exits
1 when a file would change.
"""

import os
import re
import sys

SOURCE_DIRS = ("app", "bench", "cli", "dialogs", "engine", "explorer", "fuzz", "gui", "lang",
               "net", "platform", "settings", "task", "tests", "tools")
EXTENSIONS = (".h", ".cpp")
IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
NUMBER = re.compile(r"\.?[0-9](?:[eEpP][+-]|'[0-9A-Za-z_]|[0-9A-Za-z_.])*")
RAW_PREFIX = re.compile(r"(?:u8|u|U|L)?R\"([^()\\ \t\n]{0,16})\(")
PROSE_WORD = re.compile(r"[a-z]+")


class MapError(Exception):
    pass


def load_map(path):
    """Return (global rules, [(path prefix, rules)]) from the map file."""
    global_rules = {}
    scoped = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split()
            if len(parts) != 2:
                raise MapError(f"{path}:{number}: expected 'Old New' or 'path:Old New'")
            old, new = parts
            scope = None
            if ":" in old:
                scope, old = old.rsplit(":", 1)
            for name in (old, new):
                if not IDENT.fullmatch(name):
                    raise MapError(f"{path}:{number}: '{name}' is not an identifier")
            if old == new:
                raise MapError(f"{path}:{number}: '{old}' renamed to itself")
            rules = global_rules if scope is None else scoped.setdefault(scope, {})
            if rules.get(old, new) != new:
                raise MapError(f"{path}:{number}: '{old}' has two new names")
            rules[old] = new
    check_chains(global_rules, "every file")
    for scope, rules in scoped.items():
        combined = dict(global_rules)
        combined.update(rules)
        check_chains(combined, scope)
    return global_rules, sorted(scoped.items())


def check_chains(rules, where):
    for old, new in rules.items():
        if new in rules:
            raise MapError(f"'{old} {new}' in {where}: '{new}' is itself renamed, "
                           "so a second run would change it again")


def rules_for(relpath, global_rules, scoped):
    rules = dict(global_rules)
    for scope, scoped_rules in scoped:
        if relpath == scope or (scope.endswith("/") and relpath.startswith(scope)):
            rules.update(scoped_rules)
    return rules


def rename_text(text, rules):
    """Return text with every matching identifier token renamed."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c == "/" and text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(rename_comment(text[i:end], rules))
            i = end
        elif c == "/" and text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(rename_comment(text[i:end], rules))
            i = end
        elif c == '"' or c == "'":
            end = skip_quoted(text, i, c)
            out.append(text[i:end])
            i = end
        elif c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            m = NUMBER.match(text, i)
            out.append(m.group())
            i = m.end()
        elif c.isalpha() or c == "_":
            raw = RAW_PREFIX.match(text, i)
            if raw:
                close = ")" + raw.group(1) + '"'
                end = text.find(close, raw.end())
                end = n if end < 0 else end + len(close)
                out.append(text[i:end])
                i = end
                continue
            m = IDENT.match(text, i)
            word = m.group()
            if text.startswith(('"', "'"), m.end()) and word in ("u8", "u", "U", "L"):
                out.append(word)  # the literal itself is copied by the quote branch
            else:
                out.append(rules.get(word, word))
            i = m.end()
        else:
            out.append(c)
            i += 1
    return "".join(out)


def skip_quoted(text, start, quote):
    i = start + 1
    n = len(text)
    while i < n:
        c = text[i]
        if c == "\\":
            i += 2
        elif c == quote or c == "\n":
            return i + 1
        else:
            i += 1
    return n


def rename_comment(comment, rules):
    def replace(m):
        word = m.group()
        if PROSE_WORD.fullmatch(word):
            return word
        return rules.get(word, word)

    return IDENT.sub(replace, comment)


def source_files(root):
    for top in SOURCE_DIRS:
        base = os.path.join(root, top)
        for folder, dirs, files in os.walk(base):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(EXTENSIONS):
                    yield os.path.join(folder, name)


def main(argv):
    check_only = "--check" in argv
    args = [a for a in argv if a != "--check"]
    here = os.path.dirname(os.path.abspath(__file__))
    root = args[0] if args else os.path.dirname(os.path.dirname(here))
    try:
        global_rules, scoped = load_map(os.path.join(here, "renames.txt"))
    except MapError as e:
        print(f"rename.py: {e}", file=sys.stderr)
        return 2
    changed = 0
    for path in source_files(root):
        relpath = os.path.relpath(path, root)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        new_text = rename_text(text, rules_for(relpath, global_rules, scoped))
        if new_text != text:
            changed += 1
            if check_only:
                print(f"would rename in {relpath}")
            else:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(new_text)
    print(f"rename.py: {changed} file(s) {'to change' if check_only else 'changed'}")
    return 1 if check_only and changed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
