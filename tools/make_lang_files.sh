#!/usr/bin/env bash
# Writes the shipped language files Lang/<code> from their readable UTF-8
# sources tools/lang/<code>.txt: UTF-16LE with a byte-order mark and CR LF
# line ends, the form the language list needs to read a display name.
# Run it after editing a source, then commit both.
set -euo pipefail
cd "$(dirname "$0")/.."
for src in tools/lang/*.txt; do
    code=$(basename "$src" .txt)
    out=Lang/$code
    { printf '\xff\xfe'; sed 's/\r$//; s/$/\r/' "$src" | iconv -f UTF-8 -t UTF-16LE; } >"$out.tmp"
    mv "$out.tmp" "$out"
    echo "wrote $out"
done
