#!/usr/bin/env bash
# Fills the seed folders the fuzz targets start from: DEST/zip gets every file of the
# shared corpus of odd and hostile archives (named after its folder there, so names stay
# unique), DEST/like a few name and pattern pairs, one per line each.
# Usage: fuzz/seed.sh DEST   (the corpus is ARCSWEEP_CORPUS_DIR, else ../shared/testdata/zips)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dest="${1:?usage: fuzz/seed.sh DEST}"
corpus="${ARCSWEEP_CORPUS_DIR:-$here/../shared/testdata/zips}"

mkdir -p "$dest/zip" "$dest/like"
if [ -d "$corpus" ]; then
  (cd "$corpus" && find . -type f ! -name MANIFEST.tsv ! -name README.md -print0) |
    while IFS= read -r -d '' f; do
      name="${f#./}"
      cp "$corpus/$f" "$dest/zip/${name//\//_}"
    done
else
  echo "no corpus at $corpus: the zip targets start from nothing" >&2
fi

n=0
like() { printf '%s\n%s' "$1" "$2" >"$dest/like/seed$((n++))"; }
like "readme.nfo" "*.nfo"
like "docs/file_id.diz" "*file_id.diz"
like "read#1.nfo" "read[#]1.nfo"
like "read11.nfo" "read#1.nfo"
like "install.txt" "[!a-m]*.txt"
like "-x]" "[-a]?]"
like "a-c" "[a-][--c][!-]"
like "abcbcbd" "a*bc*d"
like "v12.txt" "v##.[t-t]x?"
like "ünïcödé.nfo" "[ü]*[!a-z].nfo"
like "x" "[z-a]"
like "file[1].nfo" "file[[]1].nfo"
