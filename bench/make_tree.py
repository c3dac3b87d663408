#!/usr/bin/env python3
"""Writes a reproducible tree of zip archives for the clean-all benchmarks.

The same seed and count always give the same tree: nested folders with capital
letters, archives of 10 KB to 2 MB holding 2 to 8 entries (text entries deflated,
random data stored), about 10 % with entries that the purge list written beside
the tree removes, a few % damaged (a flipped data byte or a cut-off end).

    make_tree.py --seed 1 --archives 1000 OUT
writes OUT/tree/... and OUT/purge.txt (lower-case patterns) and OUT/purge-exact.txt
(the same names as the archives spell them, for tools that match case).
"""
import argparse
import math
import os
import random
import zipfile

FOLDERS = ["Music", "Demos", "Games", "Tools", "Art Packs", "DOCS", "Misc", "Old Stuff",
           "New", "Scene", "Utils", "Backup"]
PURGE = ["ADVERT.TXT", "Promo.URL", "BBS-AD.NFO", "Thumbs.DB", "Upload.BY"]
WORDS = ("the quick brown fox jumps over lazy dog release group greets all members "
         "of the scene crack intro music tracker module cool design code by and with "
         "from version final edition text info file readme nfo diz").split()


def text_pool(rng, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 14))).capitalize()
        out.append(line)
        n += len(line) + 2
    return ("\r\n".join(out)).encode("ascii")


def folder_paths(rng, count):
    paths = [""]
    for _ in range(count):
        parent = rng.choice(paths)
        if parent.count("/") >= 5:
            parent = ""
        name = rng.choice(FOLDERS) + " " + str(rng.randint(1, 99))
        paths.append(f"{parent}/{name}" if parent else name)
    return paths


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--archives", type=int, default=1000)
    ap.add_argument("out")
    a = ap.parse_args()
    rng = random.Random(a.seed)
    pool = text_pool(rng, 4 << 20)
    tree = os.path.join(a.out, "tree")
    folders = folder_paths(rng, max(4, a.archives // 12))
    total = 0
    for i in range(a.archives):
        folder = os.path.join(tree, rng.choice(folders))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, f"Release {i:05d}.ZIP")
        target = math.exp(rng.uniform(math.log(10e3), math.log(2e6)))  # archive size
        count = rng.randint(2, 8)
        names = ["FILE_ID.DIZ", "Release.NFO"] + [f"DATA{j:02d}.BIN" if j % 2 else
                                                  f"Docs/Part{j:02d}.TXT" for j in range(count)]
        names = names[:count]
        with zipfile.ZipFile(path, "w") as z:
            for j, name in enumerate(names):
                if name.endswith(".BIN"):
                    size = int(target / count)  # stored data is as large as it is
                    z.writestr(name, rng.randbytes(size), zipfile.ZIP_STORED)
                else:
                    size = int(target / count * 4.6)  # text deflates to about a fifth
                    start = rng.randrange(0, len(pool) - size) if size < len(pool) else 0
                    z.writestr(name, pool[start:start + size], zipfile.ZIP_DEFLATED)
            if rng.random() < 0.10:
                for name in rng.sample(PURGE, rng.randint(1, 2)):
                    z.writestr(name, b"Visit our board!\r\n" * 20, zipfile.ZIP_DEFLATED)
        damage = rng.random()
        if damage < 0.02:  # a flipped byte inside the entries' data: a CRC error
            with open(path, "r+b") as f:
                f.seek(os.path.getsize(path) // 3)
                b = f.read(1)
                f.seek(-1, os.SEEK_CUR)
                f.write(bytes([b[0] ^ 0xFF]))
        elif damage < 0.03:  # cut off: no central directory
            os.truncate(path, os.path.getsize(path) // 2)
        total += os.path.getsize(path)
    with open(os.path.join(a.out, "purge.txt"), "w", newline="") as f:
        f.write("".join(n.lower() + "\r\n" for n in PURGE))
    with open(os.path.join(a.out, "purge-exact.txt"), "w") as f:
        f.write("".join(n + "\n" for n in PURGE))
    print(f"{a.archives} archives, {len(folders)} folders, {total / 1e6:.0f} MB in {tree}")


if __name__ == "__main__":
    main()
