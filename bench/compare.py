#!/usr/bin/env python3
"""Times a whole-tree clean three ways on fresh copies of the same generated tree:
(a) Arcsweep's unattended run, (b) the Info-ZIP pipeline (infozip_clean.sh),
(c) a short Python zipfile script (py_clean.py). Each repetition copies the tree
anew (the copy leaves it in the page cache: warm; it is synced first), runs each tool under
/usr/bin/time -v, and the medians are reported with their ratios.

    compare.py --build BUILD_DIR [--archives 1000] [--seed 1] [--reps 3] [--only ours]
"""
import argparse
import os
import re
import shutil
import statistics
import zipfile
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(cmd, env=None):
    r = subprocess.run(["/usr/bin/time", "-v"] + cmd, env=env, capture_output=True, text=True)
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", r.stderr).group(1)
    parts = [float(p) for p in wall.split(":")]
    seconds = parts[-1] + 60 * parts[-2] + (3600 * parts[-3] if len(parts) > 2 else 0)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))
    return seconds, rss, r


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--archives", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--only", action="append")
    a = ap.parse_args()

    out = os.path.join(HERE, "out")
    data = os.path.join(out, f"t{a.archives}-s{a.seed}")
    if not os.path.isdir(os.path.join(data, "tree")):
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), "--seed", str(a.seed),
                        "--archives", str(a.archives), data], check=True)
    work = os.path.join(out, "work")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}

    def fresh():
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        subprocess.run(["cp", "-a", os.path.join(data, "tree"), os.path.join(work, "tree")],
                       check=True)
        subprocess.run(["sync"], check=True)  # the copy's write-back must not run meanwhile
        return os.path.join(work, "tree")

    def outcome(tree):
        """What a tool left: archives set aside, archives left, entries left in them."""
        bad = zips = entries = 0
        for folder, _, files in os.walk(tree):
            for f in files:
                if f.lower().endswith(".bad"):
                    bad += 1
                elif f.lower().endswith(".zip"):
                    zips += 1
                    try:
                        with zipfile.ZipFile(os.path.join(folder, f)) as z:
                            entries += len(z.infolist())
                    except zipfile.BadZipFile:
                        pass
        return bad, zips, entries

    def ours():
        tree = fresh()
        app = os.path.join(work, "App")
        os.makedirs(app)
        shutil.copy2(os.path.join(a.build, "AppFolder", "arcsweep"), app)
        shutil.copy2(os.path.join(data, "purge.txt"), app)
        return timed([os.path.join(app, "arcsweep"), tree], env)

    def infozip():
        tree = fresh()
        return timed([os.path.join(HERE, "infozip_clean.sh"), tree,
                      os.path.join(data, "purge-exact.txt")])

    def python():
        tree = fresh()
        return timed([sys.executable, os.path.join(HERE, "py_clean.py"), tree,
                      os.path.join(data, "purge.txt")])

    tools = {"ours": ours, "infozip": infozip, "python": python}
    chosen = a.only or list(tools)
    times = {t: [] for t in chosen}
    rss = {t: 0 for t in chosen}
    results = {}
    for rep in range(a.reps):
        for t in chosen:
            seconds, kb, r = tools[t]()
            results.setdefault(t, outcome(os.path.join(work, "tree")))
            if r.returncode != 0:
                print(f"{t} exited with {r.returncode}", file=sys.stderr)
            times[t].append(seconds)
            rss[t] = max(rss[t], kb)
            print(f"rep {rep + 1} {t:8s} {seconds:7.2f} s  peak RSS {kb / 1024:6.1f} MB", flush=True)
    med = {t: statistics.median(v) for t, v in times.items()}
    for t in chosen:
        print(f"median {t:8s} {med[t]:7.2f} s  peak RSS {rss[t] / 1024:6.1f} MB")
    for t in chosen:
        print(f"result {t:8s} set aside {results[t][0]}, archives {results[t][1]}, "
              f"entries left {results[t][2]}")
    if len(set(results.values())) > 1:
        print("WARNING: the tools left different trees", file=sys.stderr)
    if "ours" in med:
        for t in ("infozip", "python"):
            if t in med:
                print(f"ours / {t} = {med['ours'] / med[t]:.2f}")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
