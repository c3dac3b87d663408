#!/usr/bin/env python3
"""Writes the single-archive data sets of the benchmarks, reproducibly: the same kind
and seed always give the same bytes (fixed entry dates, seeded contents).

    make_archives.py KIND OUT [--seed 1]

Each kind writes OUT/data/ARCHIVE (the folder a run is pointed at holds just that
archive), OUT/purge.txt (the purge list, lower case) and OUT/info.json: the archive's
name, the exact names of the entries the purge list matches, and `zip -d` patterns
that select exactly those entries (Info-ZIP matches case).

  many     20,000 small text entries, 200 of them "*.url" spread through the archive
  huge     100,000 small text entries, 10 of them "*.url"
  big      one ~400 MB entry of random bytes (stored) and one small "*.url" entry
  stoptest one 1 GiB text entry (deflated), nothing to purge
  stopcopy one 1 GiB entry of random bytes (stored) and one small "*.url" entry
"""
import argparse
import json
import os
import random
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_tree import text_pool  # noqa: E402  the same word soup as the tree's text

DATE = (2024, 5, 17, 12, 30, 0)
CHUNK = 1 << 20


def info(name, method):
    zi = zipfile.ZipInfo(name, DATE)
    zi.compress_type = method
    zi.external_attr = 0o644 << 16
    return zi


def small_entries(z, rng, pool, count, purged):
    """`count` entries in folders of 500, `purged` of them named "*.URL"/"*.Url" at
    spread positions (one in each stretch of count/purged entries). Returns the
    purged entries' names."""
    stretch = count // purged
    url_at = {k * stretch + rng.randrange(stretch) for k in range(purged)}
    names = []
    for i in range(count):
        folder = f"Section {i // 500:03d}"
        if i in url_at:
            ext = ".URL" if len(names) % 2 == 0 else ".Url"
            name = f"{folder}/Web Link {i:06d}{ext}"
            names.append(name)
            data = f"[InternetShortcut]\r\nURL=http://board{i}.example/\r\n".encode()
        else:
            name = f"{folder}/Note {i:06d}.TXT" if i % 3 else f"{folder}/ReadMe {i:06d}.Doc"
            size = rng.randint(50, 400)
            start = rng.randrange(len(pool) - size)
            data = pool[start:start + size]
        z.writestr(info(name, zipfile.ZIP_DEFLATED), data)
    return names


def random_entry(z, rng, name, size):
    zi = info(name, zipfile.ZIP_STORED)
    zi.file_size = size
    with z.open(zi, "w") as w:
        left = size
        while left:
            n = min(CHUNK, left)
            w.write(rng.randbytes(n))
            left -= n


def text_entry(z, rng, pool, name, size):
    zi = info(name, zipfile.ZIP_DEFLATED)
    zi.file_size = size
    with z.open(zi, "w") as w:
        left = size
        while left:
            n = min(64 << 10, left)
            start = rng.randrange(len(pool) - n)
            w.write(pool[start:start + n])
            left -= n


def promo(z):
    name = "Promo.URL"
    z.writestr(info(name, zipfile.ZIP_DEFLATED), b"[InternetShortcut]\r\nURL=http://x.example/\r\n")
    return [name]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kind", choices=["many", "huge", "big", "stoptest", "stopcopy"])
    ap.add_argument("out")
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    rng = random.Random(f"{a.kind}-{a.seed}")
    pool = text_pool(rng, 4 << 20)
    archive = {"many": "Link Collection.zip", "huge": "Hundred Thousand.zip",
               "big": "Big Release.zip", "stoptest": "Test Phase.zip",
               "stopcopy": "Copy Phase.zip"}[a.kind]
    data = os.path.join(a.out, "data")
    os.makedirs(data, exist_ok=True)
    path = os.path.join(data, archive)
    purged = []
    with zipfile.ZipFile(path, "w") as z:
        if a.kind == "many":
            purged = small_entries(z, rng, pool, 20000, 200)
        elif a.kind == "huge":
            purged = small_entries(z, rng, pool, 100000, 10)
        elif a.kind == "big":
            purged = promo(z)  # first, so the kept entry has to move
            random_entry(z, rng, "Video/Feature.BIN", 400 * 10**6)
        elif a.kind == "stoptest":
            text_entry(z, rng, pool, "Disk Image.TXT", 1 << 30)
        else:
            purged = promo(z)
            random_entry(z, rng, "Disk Image.BIN", 1 << 30)
    with open(os.path.join(a.out, "purge.txt"), "w", newline="") as f:
        f.write("*.url\r\n")
    # Info-ZIP's zip -d matches case: one pattern per spelling of the extension.
    patterns = sorted({"*" + n[n.rindex("."):] for n in purged})
    with open(os.path.join(a.out, "info.json"), "w") as f:
        json.dump({"archive": archive, "purged": purged, "zip_patterns": patterns}, f, indent=1)
    print(f"{a.kind}: {os.path.getsize(path) / 1e6:.0f} MB in {path}")


if __name__ == "__main__":
    main()
