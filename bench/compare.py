#!/usr/bin/env python3
"""Measures Arcsweep's speed, stop latency and memory against fixed targets and prints
one table: each line a measure, the medians it came from, their ratio, the target and
PASS or FAIL. Ratios compare tools measured in the same invocation, repetitions
interleaved. Every repetition works on a fresh copy of its data (`cp -a`, then `sync`:
the copy leaves the data in the page cache, and no write-back is pending when the
tool starts). Each tool runs under /usr/bin/time -v (wall clock, peak RSS).

Cases (--cases, default all):
  tree    clean-all of make_tree.py's tree: ours, infozip (infozip_clean.sh), python
          (py_clean.py), pytest (py_test.py: zipfile's testzip() on every archive in
          one process, no cleaning) and 7zip (sevenzip_clean.sh). Targets: ours <= 0.35
          x pytest, ours <= 0.10 x infozip.
  many    one archive of 20,000 small entries, 200 of them matched by "*.url": ours <=
          1.5 x (unzip -tqq + zip -d), both leaving the same 19,800 entries.
  big     one ~400 MB entry kept and one small entry purged: ours (test included) <=
          zip -d + sync.
  stop    Esc, "&Abort" and "E&xit" (bench/stopbench) and SIGINT to an unattended run,
          inside the test of a 1 GiB entry and inside the rewrite of a 1 GiB archive:
          stopped within 1 s, the archive byte for byte as before, no temporary file left.
  memory  one archive of 100,000 entries: peak RSS under 100 MB (as on every case).
  linear  ours on a tree four times as large (4000 archives, seed 2) <= 4.4 x the
          1000-archive run.

Data is generated once into bench/out/ (make_tree.py, make_archives.py) and reused; a
case that would not fit on the disk is refused with a message.

    compare.py --build BUILD [--cases tree,many,...] [--only ours,infozip,...] [--reps 5]
               [--archives 1000] [--seed 1] [--timeout 1800]
Exit status: 0 when every target was met, 1 when one was missed, 2 when a case was
refused or could not run.
"""
import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = ("tree", "many", "big", "stop", "memory", "linear", "bound")
TREE_TOOLS = ("ours", "infozip", "python", "pytest", "7zip")
RSS_LIMIT_KB = 100 * 1024
STOP_LIMIT_MS = 1000
MB = 1 << 20
GB = 1 << 30


class Run:
    def __init__(self, seconds, rss_kb, returncode, stdout, stderr, timed_out=False, cpu=0.0):
        self.seconds, self.rss_kb, self.returncode = seconds, rss_kb, returncode
        self.stdout, self.stderr, self.timed_out = stdout, stderr, timed_out
        self.cpu = cpu  # user and system seconds


def timed(cmd, env=None, timeout=None):
    """Runs cmd under /usr/bin/time -v; the whole process group is killed on timeout."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        p = subprocess.Popen(["/usr/bin/time", "-v", "-o", report.name] + cmd, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             errors="replace", start_new_session=True)
        try:
            out, err = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            out, err = p.communicate()
            return Run(float(timeout), 0, None, out, err, timed_out=True)
        text = report.read()
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", text).group(1)
    parts = [float(x) for x in wall.split(":")]
    seconds = parts[-1] + 60 * parts[-2] + (3600 * parts[-3] if len(parts) > 2 else 0)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    status = re.search(r"Exit status: (\d+)", text)
    cpu = sum(float(re.search(rf"{kind} time \(seconds\): (\S+)", text).group(1))
              for kind in ("User", "System"))
    return Run(seconds, rss, int(status.group(1)) if status else p.returncode, out, err,
               cpu=cpu)


def fmt_s(seconds):
    return f"{seconds:.2f} s" if seconds < 100 else f"{seconds:.0f} s"


def median(values):
    return statistics.median(values) if values else None


def entry_names(path):
    try:
        with zipfile.ZipFile(path) as z:
            return [i.filename for i in z.infolist()]
    except (zipfile.BadZipFile, OSError):
        return None


class Bench:
    def __init__(self, a):
        self.a = a
        self.build = os.path.abspath(a.build)
        self.arcsweep = os.path.join(self.build, "AppFolder", "arcsweep")
        self.stopbench = os.path.join(self.build, "bench", "stopbench")
        self.boundbench = os.path.join(self.build, "bench", "boundbench")
        self.out = os.path.join(HERE, "out")
        self.work = os.path.join(self.out, "work")
        os.makedirs(self.out, exist_ok=True)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.rows = []
        self.refused = False

    # ---------------------------------------------------------------- reporting

    def row(self, case, measure, measured, ratio, target, ok, why=""):
        """ok: True (PASS), False (FAIL), None (no target: shown for information)."""
        result = "info" if ok is None else ("PASS" if ok else "FAIL")
        if why:
            result += f" ({why})"
        self.rows.append((case, measure, measured, ratio, target, result))
        print(f"  -> {case}: {measure}: {measured}  {ratio}  {target}  {result}", flush=True)

    def rss_row(self, case, runs):
        kb = max((r.rss_kb for r in runs), default=0)
        self.row(case, "ours peak RSS", f"{kb / 1024:.1f} MB", "", "< 100 MB",
                 kb < RSS_LIMIT_KB)

    def table(self):
        head = ("case", "measure", "measured (median)", "ratio", "target", "result")
        lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        for r in self.rows:
            lines.append("| " + " | ".join(str(x) for x in r) + " |")
        return "\n".join(lines)

    def log(self, text):
        print(text, flush=True)

    # ---------------------------------------------------------------- data and copies

    def enough_disk(self, case, needed):
        free = shutil.disk_usage(self.out).free
        if free >= needed + GB:  # a margin for everything else on the volume
            return True
        self.log(f"{case}: refused: needs about {(needed + GB) / GB:.1f} GB free in "
                 f"{self.out}, {free / GB:.1f} GB are")
        self.row(case, "disk space", f"{free / GB:.1f} GB free", "",
                 f">= {(needed + GB) / GB:.1f} GB", False, "refused")
        self.refused = True
        return False

    def tree_data(self, archives, seed):
        data = os.path.join(self.out, f"t{archives}-s{seed}")
        if not os.path.isfile(os.path.join(data, "purge-exact.txt")):  # written last
            shutil.rmtree(data, ignore_errors=True)
            subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), "--seed",
                            str(seed), "--archives", str(archives), data], check=True)
        return data

    def tree_bytes(self, archives, seed):
        data = os.path.join(self.out, f"t{archives}-s{seed}", "tree")
        if os.path.isdir(data):
            return sum(os.path.getsize(os.path.join(f, n))
                       for f, _, files in os.walk(data) for n in files)
        return archives * 400 * 1000  # make_tree.py averages about 0.37 MB an archive

    def single_data(self, kind):
        data = os.path.join(self.out, kind)
        if not os.path.isfile(os.path.join(data, "info.json")):  # written last
            shutil.rmtree(data, ignore_errors=True)
            subprocess.run([sys.executable, os.path.join(HERE, "make_archives.py"), kind, data],
                           check=True)
        with open(os.path.join(data, "info.json")) as f:
            info = json.load(f)
        info["folder"] = os.path.join(data, "data")
        info["path"] = os.path.join(data, "data", info["archive"])
        info["purge"] = os.path.join(data, "purge.txt")
        return info

    SINGLE_BYTES = {"many": 6 * MB, "huge": 30 * MB, "big": 400 * 10**6,
                    "stoptest": 240 * MB, "stopcopy": GB + MB}

    def single_bytes(self, kind):
        path = os.path.join(self.out, kind, "data")
        if os.path.isdir(path) and os.path.isfile(os.path.join(self.out, kind, "info.json")):
            return 0  # already there
        return self.SINGLE_BYTES[kind]

    def fresh(self, source, name="tree"):
        """A fresh copy of `source` in the work folder, synced; returns its path."""
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        target = os.path.join(self.work, name)
        subprocess.run(["cp", "-a", source, target], check=True)
        subprocess.run(["sync"], check=True)  # the copy's write-back must not run meanwhile
        return target

    def app_folder(self, purge):
        """A fresh AppFolder: the executable and the purge list."""
        app = os.path.join(self.work, "App")
        os.makedirs(app)
        shutil.copy2(self.arcsweep, app)
        shutil.copy2(purge, os.path.join(app, "purge.txt"))
        return app

    def ours(self, folder, purge):
        app = self.app_folder(purge)
        return timed([os.path.join(app, "arcsweep"), folder], self.env, self.a.timeout)

    def report_run(self, label, rep, tool, run):
        note = ""
        if run.timed_out:
            note = "  TIMED OUT"
        elif run.returncode != 0:
            note = f"  exit status {run.returncode}"
        self.log(f"{label} rep {rep + 1} {tool:10s} {run.seconds:8.2f} s  peak RSS "
                 f"{run.rss_kb / 1024:6.1f} MB{note}")

    def ratio_row(self, case, measure, times, num, den, limit):
        if num not in times or den not in times:
            return
        n, d = median(times[num]), median(times[den])
        ratio = n / d if d else float("inf")
        self.row(case, measure, f"{fmt_s(n)} / {fmt_s(d)}", f"{ratio:.2f}",
                 "-" if limit is None else f"<= {limit:.2f}",
                 None if limit is None else ratio <= limit)

    # ---------------------------------------------------------------- cases

    def case_tree(self):
        a = self.a
        tools = [t for t in TREE_TOOLS if t in self.tools]
        need = self.tree_bytes(a.archives, a.seed) * (1 if self.has_tree(a) else 2)
        if not tools or not self.enough_disk("tree", need):
            return
        data = self.tree_data(a.archives, a.seed)
        purge, exact = os.path.join(data, "purge.txt"), os.path.join(data, "purge-exact.txt")
        commands = {
            "infozip": [os.path.join(HERE, "infozip_clean.sh"), "TREE", exact],
            "python": [sys.executable, os.path.join(HERE, "py_clean.py"), "TREE", purge],
            "pytest": [sys.executable, os.path.join(HERE, "py_test.py"), "TREE"],
            "7zip": [os.path.join(HERE, "sevenzip_clean.sh"), "TREE", exact],
        }
        times = {t: [] for t in tools}
        runs = {t: [] for t in tools}
        outcome = {}
        damaged_found = None
        for rep in range(a.reps):
            for t in tools:
                tree = self.fresh(os.path.join(data, "tree"))
                if t == "ours":
                    run = self.ours(tree, purge)
                else:
                    run = timed([tree if x == "TREE" else x for x in commands[t]], None,
                                a.timeout)
                self.report_run("tree", rep, t, run)
                times[t].append(run.seconds)
                runs[t].append(run)
                if t == "pytest":
                    m = re.search(r"damaged (\d+)", run.stdout)
                    damaged_found = int(m.group(1)) if m else None
                elif rep == 0:
                    outcome[t] = self.tree_outcome(tree)
        label = f"{a.archives} archives"
        self.ratio_row("tree", f"{label}: ours / pytest", times, "ours", "pytest", 0.35)
        self.ratio_row("tree", f"{label}: ours / infozip", times, "ours", "infozip", 0.10)
        self.ratio_row("tree", f"{label}: ours / python", times, "ours", "python", None)
        self.ratio_row("tree", f"{label}: ours / 7zip", times, "ours", "7zip", None)
        if "ours" not in times:  # no ratios: the tools' own medians
            for t in tools:
                self.row("tree", f"{label}: {t}", fmt_s(median(times[t])), "", "-", None)
        for t, (bad, zips, entries) in outcome.items():
            self.log(f"tree result {t:8s} set aside {bad}, archives {zips}, entries left {entries}")
        if outcome:
            same = len(set(outcome.values())) == 1
            bad, zips, entries = next(iter(outcome.values()))
            agree = same and (damaged_found is None or damaged_found == bad)
            what = f"{bad} set aside, {zips} archives, {entries} entries"
            if damaged_found is not None:
                what += f"; pytest: {damaged_found} damaged"
            self.row("tree", "same tree left by " + ", ".join(outcome), what, "", "all equal",
                     agree, "" if agree else "the tools disagree")
        if any(r.returncode != 0 for rr in runs.values() for r in rr):
            self.row("tree", "tools' exit status", "non-zero seen", "", "0", False)
        if "ours" in runs:
            self.rss_row("tree", runs["ours"])

    def case_bound(self):
        """A full run against the least a tester must do on the same tree (boundbench:
        every entry inflated and CRC-checked on every core), side by side."""
        a = self.a
        need = self.tree_bytes(a.archives, a.seed) * (1 if self.has_tree(a) else 2)
        if not self.enough_disk("bound", need):
            return
        data = self.tree_data(a.archives, a.seed)
        purge = os.path.join(data, "purge.txt")
        wall = {"ours": [], "bound": []}
        cpu = {"ours": [], "bound": []}
        for rep in range(a.reps):
            for t in ("ours", "bound"):
                tree = self.fresh(os.path.join(data, "tree"))
                run = (self.ours(tree, purge) if t == "ours"
                       else timed([self.boundbench, tree], None, a.timeout))
                self.report_run("bound", rep, t, run)
                wall[t].append(run.seconds)
                cpu[t].append(run.cpu)
        label = f"{a.archives} archives"
        self.ratio_row("bound", f"{label}: ours / bound, wall", wall, "ours", "bound", 1.15)
        self.ratio_row("bound", f"{label}: ours / bound, CPU", cpu, "ours", "bound", None)
        for t in wall:
            cores = median(cpu[t]) / median(wall[t]) if median(wall[t]) else 0
            self.row("bound", f"{label}: {t} cores in use", f"{cores:.2f}", "", "-", None)

    def has_tree(self, a):
        return os.path.isfile(os.path.join(self.out, f"t{a.archives}-s{a.seed}", "purge-exact.txt"))

    @staticmethod
    def tree_outcome(tree):
        """What a tool left: archives set aside, archives left, entries left in them."""
        bad = zips = entries = 0
        for folder, _, files in os.walk(tree):
            for f in files:
                if f.lower().endswith(".bad"):
                    bad += 1
                elif f.lower().endswith(".zip"):
                    zips += 1
                    names = entry_names(os.path.join(folder, f))
                    entries += len(names or [])
        return bad, zips, entries

    def single_archive_case(self, case, kind, baseline, baseline_cmd, limit, check):
        """ours against a shell baseline on fresh copies of one archive's folder."""
        tools = [t for t in ("ours", baseline) if t in self.tools]
        need = self.single_bytes(kind) + 2 * self.SINGLE_BYTES[kind]  # copy and rewrite
        if not tools or not self.enough_disk(case, need):
            return
        info = self.single_data(kind)
        times = {t: [] for t in tools}
        runs = {t: [] for t in tools}
        left = {}
        for rep in range(self.a.reps):
            for t in tools:
                folder = self.fresh(info["folder"], "data")
                archive = os.path.join(folder, info["archive"])
                if t == "ours":
                    run = self.ours(folder, info["purge"])
                else:
                    run = timed(["bash", "-c", baseline_cmd, "-", archive]
                                + info["zip_patterns"], None, self.a.timeout)
                self.report_run(case, rep, t, run)
                times[t].append(run.seconds)
                runs[t].append(run)
                if rep == 0:
                    left[t] = (entry_names(archive), archive)
        self.ratio_row(case, f"ours / ({baseline})", times, "ours", baseline, limit)
        if baseline not in times:
            self.row(case, "ours", fmt_s(median(times["ours"])), "", "-", None)
        check(case, info, left)
        if any(r.returncode != 0 or r.timed_out for rr in runs.values() for r in rr):
            self.row(case, "exit status", "non-zero or timed out", "", "0", False)
        if "ours" in runs:
            self.rss_row(case, runs["ours"])

    def case_many(self):
        def check(case, info, left):
            original = entry_names(info["path"])
            expected = [n for n in original if n not in set(info["purged"])]
            ok = all(names == expected for names, _ in left.values())
            counts = ", ".join(f"{t} {len(n) if n is not None else 'unreadable'}"
                               for t, (n, _) in left.items())
            self.row(case, f"entries left (of {len(original):,})", counts, "",
                     f"the same {len(expected):,}", ok)

        self.single_archive_case(
            "many", "many", "unzip -t + zip -d",
            'unzip -tqq "$1" && zip -dq "$@"', 1.5, check)

    def case_big(self):
        def check(case, info, left):
            with zipfile.ZipFile(info["path"]) as z:
                kept = [(i.filename, i.CRC, i.file_size) for i in z.infolist()
                        if i.filename not in info["purged"]]
            ok = True
            for names, archive in left.values():
                try:
                    with zipfile.ZipFile(archive) as z:
                        got = [(i.filename, i.CRC, i.file_size) for i in z.infolist()]
                except (zipfile.BadZipFile, OSError):
                    got = None
                ok = ok and got == kept
            size = kept[0][2] / 1e6 if kept else 0
            self.row(case, "entries left", ", ".join(left), "",
                     f"the {size:.0f} MB entry alone", ok)

        self.single_archive_case("big", "big", "zip -d + sync", 'zip -dq "$@" && sync', 1.0,
                                 check)

    def case_memory(self):
        if "ours" not in self.tools:
            return
        if not self.enough_disk("memory", self.single_bytes("huge") + 60 * MB):
            return
        info = self.single_data("huge")
        runs, names = [], None
        for rep in range(self.a.reps):
            folder = self.fresh(info["folder"], "data")
            run = self.ours(folder, info["purge"])
            self.report_run("memory", rep, "ours", run)
            runs.append(run)
            if rep == 0:
                names = entry_names(os.path.join(folder, info["archive"]))
        original = len(entry_names(info["path"]))
        kb = max(r.rss_kb for r in runs)
        self.row("memory", f"ours peak RSS, one archive of {original:,} entries",
                 f"{kb / 1024:.1f} MB (run {fmt_s(median([r.seconds for r in runs]))})", "",
                 "< 100 MB", kb < RSS_LIMIT_KB)
        expected = original - len(info["purged"])
        ok = names is not None and len(names) == expected and not any(
            n.lower().endswith(".url") for n in names)
        self.row("memory", "entries left", f"{len(names) if names else 'unreadable'}", "",
                 f"{expected:,}, no *.url", ok)
        if any(r.returncode != 0 or r.timed_out for r in runs):
            self.row("memory", "exit status", "non-zero or timed out", "", "0", False)

    def case_linear(self):
        if "ours" not in self.tools:
            return
        small, large = (self.a.archives, self.a.seed), (4 * self.a.archives, 2)
        need = sum(self.tree_bytes(*t) * (1 if os.path.isfile(os.path.join(
            self.out, f"t{t[0]}-s{t[1]}", "purge-exact.txt")) else 2) for t in (small, large))
        if not self.enough_disk("linear", need):
            return
        data = {t: self.tree_data(*t) for t in (small, large)}
        times = {t: [] for t in data}
        runs = []
        for rep in range(self.a.reps):
            for t, d in data.items():
                tree = self.fresh(os.path.join(d, "tree"))
                run = self.ours(tree, os.path.join(d, "purge.txt"))
                self.report_run("linear", rep, f"ours {t[0]}", run)
                times[t].append(run.seconds)
                runs.append(run)
        s, l_ = median(times[small]), median(times[large])
        self.row("linear", f"ours {large[0]} archives / {small[0]} archives",
                 f"{fmt_s(l_)} / {fmt_s(s)}", f"{l_ / s:.2f}", "<= 4.40", l_ / s <= 4.4)
        if any(r.returncode != 0 or r.timed_out for r in runs):
            self.row("linear", "exit status", "non-zero or timed out", "", "0", False)
        self.rss_row("linear", runs)

    # ---------------------------------------------------------------- stop

    STOPS = ("esc", "abort", "exit", "sigint")
    STOP_NAMES = {"esc": "Esc", "abort": "&Abort", "exit": "Exit", "sigint": "SIGINT (unattended)"}

    def case_stop(self):
        if "ours" not in self.tools:
            return
        if not os.access(self.stopbench, os.X_OK):
            self.log(f"stop: {self.stopbench} is missing: build the stopbench target")
            self.row("stop", "stopbench", "missing", "", "built", False, "not run")
            self.refused = True
            return
        need = self.single_bytes("stoptest") + self.single_bytes("stopcopy") + 2 * (GB + MB)
        if not self.enough_disk("stop", need):
            return
        phases = {"test": self.single_data("stoptest"), "rewrite": self.single_data("stopcopy")}
        results = {(p, k): [] for p in phases for k in self.STOPS}
        for rep in range(self.a.reps):
            for phase, info in phases.items():
                for kind in self.STOPS:
                    folder = self.fresh(info["folder"], "data")
                    if kind == "sigint":
                        r = self.sigint_run(folder, info, phase)
                    else:
                        r = self.window_stop(folder, info, phase, kind)
                    r.update(self.left_alone(folder, info))
                    results[(phase, kind)].append(r)
                    self.log(f"stop rep {rep + 1} {phase:7s} {kind:6s} "
                             + " ".join(f"{k}={v}" for k, v in r.items()))
        for phase in phases:
            for kind in self.STOPS:
                self.stop_row(phase, kind, results[(phase, kind)])
        runs = [r for rr in results.values() for r in rr if "rss_kb" in r]
        kb = max((r["rss_kb"] for r in runs), default=0)
        self.row("stop", "peak RSS (stopbench, and ours under SIGINT)", f"{kb / 1024:.1f} MB",
                 "", "< 100 MB", kb < RSS_LIMIT_KB)

    def window_stop(self, folder, info, phase, kind):
        app = self.app_folder(info["purge"])
        run = timed([self.stopbench, app, folder, info["archive"], phase, kind], self.env,
                    self.a.timeout)
        r = dict(re.findall(r"(\w+)=(\S+)", run.stdout))
        r["rss_kb"] = run.rss_kb
        if run.timed_out or run.returncode != 0:
            r["error"] = "timed-out" if run.timed_out else f"exit-{run.returncode}"
        return r

    def sigint_run(self, folder, info, phase):
        """`arcsweep FOLDER` stopped by SIGINT inside the phase: the test phase once it has
        read 64 MiB (its only reading is the archive), the rewrite phase once the hidden
        temporary file exists. Peak RSS and exit status come from wait4()."""
        app = self.app_folder(info["purge"])
        prefix = "." + info["archive"] + "."
        start = time.monotonic()
        p = subprocess.Popen([os.path.join(app, "arcsweep"), folder], env=self.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        sent = None
        while sent is None and p.poll() is None and time.monotonic() - start < self.a.timeout:
            if phase == "test":
                try:
                    with open(f"/proc/{p.pid}/io") as f:
                        inside = int(re.search(r"rchar: (\d+)", f.read()).group(1)) >= 64 * MB
                except (OSError, AttributeError):
                    inside = False
            else:
                inside = any(n.startswith(prefix) for n in os.listdir(folder))
            if inside:
                sent = time.monotonic()
                os.kill(p.pid, signal.SIGINT)
                break
            time.sleep(0.005)
        if sent is None:
            p.kill()
        _, status, usage = os.wait4(p.pid, 0)
        ended = time.monotonic()
        p.returncode = os.waitstatus_to_exitcode(status)
        r = {"sent": int(sent is not None),
             "in_phase_after_ms": f"{(sent - start) * 1000:.1f}" if sent else "-1",
             "latency_ms": f"{(ended - sent) * 1000:.1f}" if sent else "-1",
             "exit": (f"signal-{-p.returncode}" if p.returncode < 0 else str(p.returncode)),
             "rss_kb": usage.ru_maxrss}
        return r

    @staticmethod
    def left_alone(folder, info):
        """Whether the archive is byte for byte the original and nothing else is there."""
        archive = os.path.join(folder, info["archive"])
        same = os.path.isfile(archive) and subprocess.run(
            ["cmp", "-s", archive, info["path"]]).returncode == 0
        others = sorted(n for n in os.listdir(folder) if n != info["archive"])
        return {"archive_unchanged": int(same), "other_files": ",".join(others) or "-"}

    def stop_row(self, phase, kind, results):
        where = {"test": "in the test of a 1 GiB entry",
                 "rewrite": "in the rewrite of a 1 GiB archive"}[phase]
        target = f"<= {STOP_LIMIT_MS} ms, archive unchanged, no temp file"
        if kind == "sigint":
            target += ", exit 2"
        why = []
        lat = [float(r.get("latency_ms", -1)) for r in results]
        if any(r.get("error") for r in results):
            why.append("harness " + "/".join(sorted({r["error"] for r in results
                                                      if r.get("error")})))
        if any(r.get("sent") not in ("1", 1) for r in results):
            why.append("phase not reached")
        ok_lat = [x for x in lat if x >= 0]
        if ok_lat and max(ok_lat) > STOP_LIMIT_MS:
            why.append(f"slowest {max(ok_lat):.0f} ms")
        if not all(r["archive_unchanged"] for r in results):
            why.append("archive changed")
        if any(r["other_files"] != "-" for r in results):
            why.append("left " + ", ".join(sorted({r["other_files"] for r in results
                                                  if r["other_files"] != "-"})))
        if kind == "sigint":
            exits = sorted({r["exit"] for r in results})
            if exits != ["2"]:
                why.append("exit " + "/".join(exits))
        else:
            if kind == "exit" and any(r.get("exit_taken") != "1" for r in results):
                why.append("program did not end")
            if any(r.get("statistics_shown") == "1" for r in results) and kind != "abort":
                why.append("statistics shown")
        measured = (f"median {median(ok_lat):.0f} ms, max {max(ok_lat):.0f} ms"
                    if ok_lat else "-")
        self.row("stop", f"{self.STOP_NAMES[kind]} {where}", measured, "", target, not why,
                 "; ".join(why))

    # ---------------------------------------------------------------- main

    def run(self, cases):
        for case in cases:
            self.log(f"== {case}")
            getattr(self, "case_" + case)()
        shutil.rmtree(self.work, ignore_errors=True)


def split_list(values, allowed, what):
    chosen = []
    for v in values or []:
        for x in v.split(","):
            if x and x not in allowed:
                sys.exit(f"unknown {what} {x!r}; choose from {', '.join(allowed)}")
            if x:
                chosen.append(x)
    return chosen


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", required=True, help="build folder (AppFolder/arcsweep, bench/)")
    ap.add_argument("--cases", action="append", help="comma-separated: " + ", ".join(CASES))
    ap.add_argument("--only", action="append",
                    help="tools, comma-separated: " + ", ".join(TREE_TOOLS) +
                         " (the single-archive cases' baselines run with infozip)")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--archives", type=int, default=1000, help="tree size of tree and linear")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=1800, help="seconds for one tool run")
    a = ap.parse_args()
    cases = split_list(a.cases, CASES, "case") or list(CASES)
    bench = Bench(a)
    tools = split_list(a.only, TREE_TOOLS, "tool") or list(TREE_TOOLS)
    bench.tools = set(tools)
    # The single-archive cases' Info-ZIP baselines run with the infozip tool.
    if "infozip" in bench.tools:
        bench.tools |= {"unzip -t + zip -d", "zip -d + sync"}
    if not os.access(bench.arcsweep, os.X_OK) and "ours" in bench.tools:
        sys.exit(f"{bench.arcsweep} is missing: build the arcsweep target first")
    head = subprocess.run(["git", "-C", HERE, "log", "-1", "--format=%h %cs"],
                          capture_output=True, text=True).stdout.strip()
    print(f"source HEAD {head or '?'}, build {bench.build}, reps {a.reps}, "
          f"cases {', '.join(cases)}", flush=True)
    bench.run(cases)
    print()
    print(f"Medians of {a.reps}; source HEAD {head or '?'}")
    print(bench.table())
    if bench.refused:
        return 2
    return 1 if any(r[5].startswith("FAIL") for r in bench.rows) else 0


if __name__ == "__main__":
    sys.exit(main())
