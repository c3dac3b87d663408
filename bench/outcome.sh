#!/usr/bin/env bash
# What one build's runs leave, for comparing two builds byte for byte:
#   bench/outcome.sh ARCSWEEP DATA OUT
# DATA is a folder written by make_tree.py (DATA/tree, DATA/purge.txt). On a fresh copy of
# the tree it runs a dry run, then a real run that keeps the removed records, and writes to
# OUT the dry run's lines, the run's record and standard error, and the hashes of every file
# of the tree and of the keep folder afterwards. Then `diff -r OLD NEW` shows any difference
# (the record's date line and OUT's own path are written as DATE and OUT).
set -euo pipefail
bin="$(realpath "$1")"; data="$(realpath "$2")"; out="$(realpath -m "$3")"
rm -rf "$out"; mkdir -p "$out/app"
cp "$bin" "$out/app/arcsweep"; cp "$data/purge.txt" "$out/app/purge.txt"
cp -a "$data/tree" "$out/Tree"
cd "$out"
QT_QPA_PLATFORM=offscreen app/arcsweep --dry-run "$out/Tree" >dry.out 2>dry.err || echo "dry run: $?" >>status
QT_QPA_PLATFORM=offscreen app/arcsweep --keep-purged "$out/Keep" "$out/Tree" >run.out 2>run.err ||
  echo "run: $?" >>status
(cd Tree && find . -type f -print0 | sort -z | xargs -0 sha256sum) >tree.sha
(cd Tree && find . -printf '%y %m %p\n' | sort) >tree.list
if [ -d Keep ]; then (cd Keep && find . -type f -print0 | sort -z | xargs -0 sha256sum) >keep.sha; fi
sed -i -E 's/^[0-9]{2}-[0-9]{2}-[0-9]{4} [0-9:]{8}$/DATE/' dry.out run.out
sed -i "s#$out#OUT#g; s#${out,,}#OUT#g" dry.out dry.err run.out run.err
rm -rf app Tree Keep
